// G.711 and the WAV files of the wire KIRO.dll's media: 8 kHz 16-bit mono,
// the only format it plays and records.
#pragma once

#include <stdint.h>
#include <stdio.h>

uint8_t WireUlawEncode(int16_t nSample);
int16_t WireUlawDecode(uint8_t nCode);
uint8_t WireAlawEncode(int16_t nSample);
int16_t WireAlawDecode(uint8_t nCode);

// Opens a WAV for playing and leaves the file at its first sample; null if it
// cannot be read or is not 8 kHz 16-bit mono PCM. *pnBytes: its sample bytes.
FILE *WireOpenWavForPlay(const char *szFile, uint32_t *pnBytes);

// A WAV being recorded: the header is written at once and completed by Close.
class CWireWavWriter {
 public:
  ~CWireWavWriter() { Close(); }
  bool Open(const char *szFile);
  bool IsOpen() const { return m_pFile != nullptr; }
  void Write(const int16_t *pSamples, size_t nSamples);
  void Close();

 private:
  FILE *m_pFile = nullptr;
  uint32_t m_nBytes = 0;
};
