// Recognising the handset's wave device by name: see HandsetWaveName.h.
//
// The endpoint form is read as bytes: the endpoint's name (any text without
// a parenthesis, in whatever code page), an optional blank, "(", an optional
// instance number with "- ", then the product name, cut anywhere after its
// first D_nEndpointProductMin characters, or whole and followed by nothing
// but blanks and the closing parenthesis. The lead and trail bytes of the
// double-byte code pages Windows uses (GBK, Shift-JIS, Big5) never take the
// value of "(" or a blank, so the first "(" byte is the parenthesis.
#include "audio/HandsetWaveName.h"

#include <cstring>

const char D_szHandsetWaveName[] = "C-Media USB Headphone Set  ";

namespace {

const char D_szProduct[] = "C-Media USB Headphone Set";
const size_t D_nProduct = sizeof(D_szProduct) - 1;

size_t BoundedLength(const char *pszName) {
    const void *pEnd = memchr(pszName, '\0', D_nWaveNameBytes);
    return pEnd ? static_cast<size_t>(static_cast<const char *>(pEnd) - pszName) : D_nWaveNameBytes;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The endpoint's own name before the parenthesis: something besides blanks.
bool HasEndpointName(const char *pName, size_t nLength) {
    for (size_t i = 0; i < nLength; ++i)
        if (pName[i] != ' ') return true;
    return false;
}

// "2- " and the like; returns the bytes to skip (0 when there is none).
size_t InstanceNumberLength(const char *pText, size_t nLength) {
    size_t nDigits = 0;
    while (nDigits < nLength && IsDigit(pText[nDigits])) ++nDigits;
    if (nDigits == 0 || nLength - nDigits < 2) return 0;
    return (pText[nDigits] == '-' && pText[nDigits + 1] == ' ') ? nDigits + 2 : 0;
}

// What follows "(" and the instance number.
bool IsProductPart(const char *pText, size_t nLength) {
    if (nLength < D_nEndpointProductMin) return false;
    if (nLength <= D_nProduct) return memcmp(pText, D_szProduct, nLength) == 0;
    if (memcmp(pText, D_szProduct, D_nProduct) != 0) return false;
    size_t i = D_nProduct;
    while (i < nLength && pText[i] == ' ') ++i;
    if (i < nLength && pText[i] == ')') ++i;
    return i == nLength;
}

bool IsEndpointForm(const char *pszName, size_t nLength) {
    const char *pOpen = static_cast<const char *>(memchr(pszName, '(', nLength));
    if (!pOpen) return false;
    size_t nBefore = static_cast<size_t>(pOpen - pszName);
    if (!HasEndpointName(pszName, nBefore)) return false;
    const char *pInside = pOpen + 1;
    size_t nInside = nLength - nBefore - 1;
    size_t nSkip = InstanceNumberLength(pInside, nInside);
    return IsProductPart(pInside + nSkip, nInside - nSkip);
}

}  // namespace

EWaveNameMatch MatchHandsetWaveName(const char *pszName) {
    if (!pszName) return EWaveNameMatch::None;
    size_t nLength = BoundedLength(pszName);
    // A longer name differs within the 32 bytes, so the bound is enough.
    if (strncmp(pszName, D_szHandsetWaveName, D_nWaveNameBytes) == 0) return EWaveNameMatch::Exact;
    return IsEndpointForm(pszName, nLength) ? EWaveNameMatch::Endpoint : EWaveNameMatch::None;
}

void CHandsetWaveChoice::Offer(unsigned nId, const char *pszName) {
    if (m_eMatch == EWaveNameMatch::Exact) return;
    EWaveNameMatch eMatch = MatchHandsetWaveName(pszName);
    if (eMatch == EWaveNameMatch::Exact || (eMatch == EWaveNameMatch::Endpoint && !Found())) {
        m_nId = nId;
        m_eMatch = eMatch;
    }
}
