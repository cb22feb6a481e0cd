// CQueue: see Queue.h. The oldest byte always stands at position 0; moving
// the rest down on every pop costs at most 1023 bytes, which is nothing next
// to the two lines per second the handset can deliver.
#include "core/Queue.h"

#include <string.h>

CQueue::CQueue() : m_pBuf(new BYTE[D_nCapacity]), m_nCount(0) {
    InitializeCriticalSection(&m_csQueue);
}

CQueue::~CQueue() {
    DeleteCriticalSection(&m_csQueue);
    delete[] m_pBuf;
}

void CQueue::DropOldest(int nBytes) {
    memmove(m_pBuf, m_pBuf + nBytes, m_nCount - nBytes);
    m_nCount -= nBytes;
}

void CQueue::Push(BYTE cByte) {
    EnterCriticalSection(&m_csQueue);
    if (m_nCount == D_nCapacity) DropOldest(1);
    m_pBuf[m_nCount++] = cByte;
    LeaveCriticalSection(&m_csQueue);
}

BYTE CQueue::Pop() {
    char cByte;
    return PopUpTo(&cByte, 1) == 1 ? static_cast<BYTE>(cByte) : D_cEmpty;
}

int CQueue::PopUpTo(char *pOut, int nMax) {
    if (nMax <= 0) return 0;
    EnterCriticalSection(&m_csQueue);
    int nTaken = m_nCount < nMax ? m_nCount : nMax;
    if (nTaken > 0) {
        memcpy(pOut, m_pBuf, nTaken);
        DropOldest(nTaken);
    }
    LeaveCriticalSection(&m_csQueue);
    return nTaken;
}

void CQueue::Clear() {
    EnterCriticalSection(&m_csQueue);
    m_nCount = 0;
    LeaveCriticalSection(&m_csQueue);
}

int CQueue::Count() const {
    EnterCriticalSection(&m_csQueue);
    int nCount = m_nCount;
    LeaveCriticalSection(&m_csQueue);
    return nCount;
}
