// A prompt for playback tests and tools: a WAV file of dwDataBytes of 16-bit
// mono silence at 8000 Hz (16000 bytes a second).
#pragma once

#include <windows.h>

#include <stdio.h>

#include <string>

inline void WriteSilentPrompt(const std::string &strPath, DWORD dwDataBytes) {
    const DWORD adwHeader[] = {0x46464952, 36 + dwDataBytes, 0x45564157, 0x20746D66, 16, 0x00010001, 8000,
                               16000,      0x00100002,       0x61746164, dwDataBytes};
    FILE *pFile = fopen(strPath.c_str(), "wb");
    if (!pFile) return;
    fwrite(adwHeader, 1, sizeof adwHeader, pFile);
    for (DWORD i = 0; i < dwDataBytes; ++i) fputc(0, pFile);
    fclose(pFile);
}
