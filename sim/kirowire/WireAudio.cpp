// G.711 (ITU-T G.711 segment coding) and the WAV files of the wire media.
#include "WireAudio.h"

#include <string.h>

namespace {
const int D_nUlawBias = 0x84;
const int D_nClip = 32635;

// Position of the highest set bit; 0 for 0 and 1.
int HighBit(int nValue) {
  int nBit = 0;
  while (nValue > 1) {
    nValue >>= 1;
    ++nBit;
  }
  return nBit;
}

uint32_t ReadLe(const uint8_t *p, int nBytes) {
  uint32_t nValue = 0;
  for (int i = nBytes - 1; i >= 0; --i) nValue = (nValue << 8) | p[i];
  return nValue;
}

void PutLe(uint8_t *p, uint32_t nValue, int nBytes) {
  for (int i = 0; i < nBytes; ++i) p[i] = static_cast<uint8_t>(nValue >> (8 * i));
}
}  // namespace

uint8_t WireUlawEncode(int16_t nSample) {
  int nValue = nSample;
  int nSign = nValue < 0 ? 0x80 : 0;
  if (nValue < 0) nValue = -nValue;
  if (nValue > D_nClip) nValue = D_nClip;
  nValue += D_nUlawBias;
  int nSegment = HighBit(nValue >> 7);
  int nMantissa = (nValue >> (nSegment + 3)) & 0x0F;
  return static_cast<uint8_t>(~(nSign | (nSegment << 4) | nMantissa));
}

int16_t WireUlawDecode(uint8_t nCode) {
  int nValue = ~nCode & 0xFF;
  int nMagnitude = (((nValue & 0x0F) << 3) + D_nUlawBias) << ((nValue >> 4) & 7);
  return static_cast<int16_t>((nValue & 0x80) ? D_nUlawBias - nMagnitude : nMagnitude - D_nUlawBias);
}

uint8_t WireAlawEncode(int16_t nSample) {
  int nValue = nSample;
  int nSign = nValue >= 0 ? 0x80 : 0;
  if (nValue < 0) nValue = -nValue;
  if (nValue > D_nClip) nValue = D_nClip;
  int nCode = nValue >> 4;
  if (nValue >= 256) {
    int nSegment = HighBit(nValue >> 8) + 1;
    nCode = (nSegment << 4) | ((nValue >> (nSegment + 3)) & 0x0F);
  }
  return static_cast<uint8_t>(nCode ^ (nSign ^ 0x55));
}

int16_t WireAlawDecode(uint8_t nCode) {
  int nValue = nCode ^ 0x55;
  int nSegment = (nValue >> 4) & 7;
  int nMagnitude = ((nValue & 0x0F) << 4) + 8;
  if (nSegment) nMagnitude = (nMagnitude + 0x100) << (nSegment - 1);
  return static_cast<int16_t>((nValue & 0x80) ? nMagnitude : -nMagnitude);
}

FILE *WireOpenWavForPlay(const char *szFile, uint32_t *pnBytes) {
  FILE *pFile = szFile ? fopen(szFile, "rb") : nullptr;
  if (!pFile) return nullptr;
  uint8_t aHead[12];
  bool bFormat = false;
  if (fread(aHead, 1, 12, pFile) == 12 && !memcmp(aHead, "RIFF", 4) && !memcmp(aHead + 8, "WAVE", 4)) {
    uint8_t aChunk[8];
    while (fread(aChunk, 1, 8, pFile) == 8) {
      uint32_t nSize = ReadLe(aChunk + 4, 4);
      if (!memcmp(aChunk, "data", 4)) {
        if (!bFormat) break;
        *pnBytes = nSize;
        return pFile;
      }
      if (!memcmp(aChunk, "fmt ", 4) && nSize >= 16) {
        uint8_t aFormat[16];
        if (fread(aFormat, 1, 16, pFile) != 16) break;
        bFormat = ReadLe(aFormat, 2) == 1 && ReadLe(aFormat + 2, 2) == 1 && ReadLe(aFormat + 4, 4) == 8000 &&
                  ReadLe(aFormat + 14, 2) == 16;
        if (!bFormat) break;
        nSize -= 16;
      }
      if (fseek(pFile, static_cast<long>(nSize + (nSize & 1)), SEEK_CUR) != 0) break;
    }
  }
  fclose(pFile);
  return nullptr;
}

bool CWireWavWriter::Open(const char *szFile) {
  Close();
  m_pFile = szFile ? fopen(szFile, "wb") : nullptr;
  if (!m_pFile) return false;
  m_nBytes = 0;
  uint8_t aHeader[44] = {0};
  fwrite(aHeader, 1, sizeof aHeader, m_pFile);
  return true;
}

void CWireWavWriter::Write(const int16_t *pSamples, size_t nSamples) {
  if (!m_pFile) return;
  uint8_t aBytes[2 * 320];
  for (size_t nDone = 0; nDone < nSamples;) {
    size_t nNow = nSamples - nDone < 320 ? nSamples - nDone : 320;
    for (size_t i = 0; i < nNow; ++i) PutLe(aBytes + 2 * i, static_cast<uint16_t>(pSamples[nDone + i]), 2);
    m_nBytes += static_cast<uint32_t>(fwrite(aBytes, 1, 2 * nNow, m_pFile));
    nDone += nNow;
  }
  // On disk as it comes: a recording can be read while the call goes on.
  fflush(m_pFile);
}

void CWireWavWriter::Close() {
  if (!m_pFile) return;
  uint8_t aHeader[44];
  memcpy(aHeader, "RIFF", 4);
  PutLe(aHeader + 4, 36 + m_nBytes, 4);
  memcpy(aHeader + 8, "WAVEfmt ", 8);
  PutLe(aHeader + 16, 16, 4);
  PutLe(aHeader + 20, 1, 2);      // PCM
  PutLe(aHeader + 22, 1, 2);      // mono
  PutLe(aHeader + 24, 8000, 4);   // samples a second
  PutLe(aHeader + 28, 16000, 4);  // bytes a second
  PutLe(aHeader + 32, 2, 2);
  PutLe(aHeader + 34, 16, 2);
  memcpy(aHeader + 36, "data", 4);
  PutLe(aHeader + 40, m_nBytes, 4);
  fseek(m_pFile, 0, SEEK_SET);
  fwrite(aHeader, 1, sizeof aHeader, m_pFile);
  fclose(m_pFile);
  m_pFile = nullptr;
}
