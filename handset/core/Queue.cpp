// CQueue: see Queue.h. The oldest byte always stands at position 0; moving
// the rest down on every pop costs at most 1023 bytes, which is nothing next
// to the two lines per second the handset can deliver.
#include "core/Queue.h"

#include <string.h>

CQueue::CQueue() : m_pBuf(new BYTE[D_nCapacity]), m_nCount(0) {}

CQueue::~CQueue() { delete[] m_pBuf; }

void CQueue::DropOldest(int nBytes) {
    memmove(m_pBuf, m_pBuf + nBytes, m_nCount - nBytes);
    m_nCount -= nBytes;
}

void CQueue::Push(BYTE cByte) {
    CLockGuard lock(m_lock, CDeadline(D_dwLockBoundMs));
    if (!lock.Held()) return;
    if (m_nCount == D_nCapacity) DropOldest(1);
    m_pBuf[m_nCount++] = cByte;
}

BYTE CQueue::Pop() {
    char cByte;
    return PopUpTo(&cByte, 1) == 1 ? static_cast<BYTE>(cByte) : D_cEmpty;
}

int CQueue::PopUpTo(char *pOut, int nMax) {
    CLockGuard lock(m_lock, CDeadline(D_dwLockBoundMs));
    if (nMax <= 0 || !lock.Held()) return 0;
    const int nTaken = m_nCount < nMax ? m_nCount : nMax;
    memcpy(pOut, m_pBuf, nTaken);
    DropOldest(nTaken);
    return nTaken;
}

int CQueue::DrainUpTo(char *pOut, int nMax) {
    CLockGuard lock(m_lock, CDeadline(D_dwLockBoundMs));
    if (nMax <= 0 || !lock.Held()) return 0;
    int nTaken = 0;
    while (nTaken < m_nCount && nTaken < nMax && m_pBuf[nTaken] != D_cEmpty) ++nTaken;
    memcpy(pOut, m_pBuf, nTaken);
    // The byte after a full buffer is not looked at: it stays queued, 255 or not.
    const bool bStoppedAtMarker = nTaken < m_nCount && nTaken < nMax;
    DropOldest(nTaken + (bStoppedAtMarker ? 1 : 0));
    return nTaken;
}

void CQueue::Clear() {
    CLockGuard lock(m_lock, CDeadline(D_dwLockBoundMs));
    if (lock.Held()) m_nCount = 0;
}

int CQueue::Count() const {
    CLockGuard lock(m_lock, CDeadline(D_dwLockBoundMs));
    return lock.Held() ? m_nCount : 0;
}
