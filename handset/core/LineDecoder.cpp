// CLineDecoder: see LineDecoder.h. Runs on the link thread (or the fuzzer)
// only; everything here works within the two fixed buffers.
#include "core/LineDecoder.h"

#include <string.h>

namespace {

const char D_szNoField[] = "";

}  // namespace

CLineDecoder::CLineDecoder() : m_szDataBuf(), m_szListBuf(), m_nDataLen(0), m_bLineOverlong(false) {}

void CLineDecoder::ResetLine() {
    m_nDataLen = 0;
    m_bLineOverlong = false;
}

bool CLineDecoder::TakeCharacter(char cChar, CLineEvent *pEvent) {
    if (cChar != '\n') {
        if (m_nDataLen < D_nDataBufSize)
            m_szDataBuf[m_nDataLen++] = cChar;
        else
            m_bLineOverlong = true;
        return false;
    }
    *pEvent = m_bLineOverlong ? CLineEvent{ELineEvent::Ignored, D_szNoField, 0} : DecodeLine(m_szDataBuf, m_nDataLen);
    ResetLine();
    return true;
}

CLineEvent CLineDecoder::DecodeLine(const char *pLine, int nLength) {
    const CLineEvent ignored = {ELineEvent::Ignored, D_szNoField, 0};
    if (nLength < 3 || pLine[0] != 'A' || pLine[1] != 'T' || pLine[nLength - 1] != '\r') return ignored;
    switch (pLine[2]) {
    case 'R': return CLineEvent{ELineEvent::Ring, D_szNoField, 0};
    case 'N': return FieldEvent(ELineEvent::Digits, StageField(pLine, nLength, 3));
    case 'H': return CLineEvent{ELineEvent::HangUp, D_szNoField, 0};
    case 'Z': return CLineEvent{ELineEvent::OffHook, D_szNoField, 0};
    case 'C':
        // Position 4 (the separator) is skipped whatever it holds.
        if (nLength > 3 && pLine[3] == 'I') return FieldEvent(ELineEvent::CallerNumber, StageField(pLine, nLength, 5));
        return ignored;
    case 'X': return CLineEvent{ELineEvent::Ping, D_szNoField, 0};
    default: return ignored;
    }
}

CLineEvent CLineDecoder::FieldEvent(ELineEvent eKind, int nFieldLength) const {
    return CLineEvent{eKind, m_szListBuf, nFieldLength};
}

// Copies the characters from nFrom up to the line's first CR after the event
// letter into ListBuf, cut to leave room for its NUL; returns how many.
int CLineDecoder::StageField(const char *pLine, int nLength, int nFrom) {
    memset(m_szListBuf, 0, sizeof m_szListBuf);
    // An accepted line ends with CR, so there is always one to find.
    const char *pCR = static_cast<const char *>(memchr(pLine + 3, '\r', nLength - 3));
    const int nEnd = pCR ? static_cast<int>(pCR - pLine) : nLength;
    int nCount = nEnd > nFrom ? nEnd - nFrom : 0;
    if (nCount > D_nListBufSize - 1) nCount = D_nListBufSize - 1;
    memcpy(m_szListBuf, pLine + nFrom, nCount);
    return nCount;
}
