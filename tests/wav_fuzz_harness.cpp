// Fuzz harness for the WAV reader. Built two ways from this one file:
// natively with clang's libFuzzer and sanitizers (tools/fuzz.sh, TV_LIBFUZZER
// defined), and with the Windows toolchain and tests/fuzz_replay_main.cpp
// into a program that replays the saved corpus through the plug-in's own
// reader (the wav_fuzz_corpus_replay test). Each input is written to a file,
// opened, read to the end in chunks whose sizes come from the input, and
// closed; a broken invariant aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/WaveFile.h"

#ifdef _WIN32
#include <process.h>
#define TV_GETPID _getpid
#else
#include <unistd.h>
#define TV_GETPID getpid
#endif

namespace {

std::string InputPath() {
#ifdef _WIN32
    const char *pszFolder = ".";
#else
    const char *pszFolder = "/dev/shm";
    if (FILE *pProbe = fopen("/dev/shm/.wav_fuzz_probe", "wb")) {
        fclose(pProbe);
        remove("/dev/shm/.wav_fuzz_probe");
    } else {
        pszFolder = "/tmp";
    }
#endif
    return std::string(pszFolder) + "/wav_fuzz_input_" + std::to_string(TV_GETPID()) + ".wav";
}

void Require(bool bHolds, const char *pszWhat) {
    if (!bHolds) {
        fprintf(stderr, "broken invariant: %s\n", pszWhat);
        abort();
    }
}

void ReadToTheEnd(WaveFile &file, const uint8_t *pData, size_t nSize) {
    std::vector<unsigned char> buffer(4096 + 16);
    const unsigned char cGuard = 0xA5;
    size_t nTotal = 0;
    for (size_t nTurn = 0;; ++nTurn) {
        int nChunk = 1 + (nSize ? pData[nTurn % nSize] * 16 : 0) % 4096;
        buffer.assign(buffer.size(), cGuard);
        int nRead = file.Read(buffer.data(), nChunk);
        Require(nRead >= 0 && nRead <= nChunk, "Read returns 0..count after a successful open");
        for (size_t i = static_cast<size_t>(nChunk); i < buffer.size(); ++i) {
            Require(buffer[i] == cGuard, "Read wrote past the count it was given");
        }
        if (nRead == 0) break;
        nTotal += static_cast<size_t>(nRead);
        Require(nTotal + 44 <= nSize, "more sample bytes read than the file holds after a 44-byte header");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize) {
    static const std::string strPath = InputPath();
    FILE *pInput = fopen(strPath.c_str(), "wb");
    if (!pInput) return 0;
    if (nSize) fwrite(pData, 1, nSize, pInput);
    fclose(pInput);

    WaveFile file(strPath.c_str());
    if (file.Open('r')) {
        Require(file.m_nChannels == 1 || file.m_nChannels == 2, "accepted channel count is 1 or 2");
        Require(file.m_nSamplesPerSec != 0, "accepted sample rate is not 0");
        Require(file.m_nBitsPerSample >= 8, "accepted sample size is at least 8 bits");
        unsigned char cByte = 0;
        Require(file.Write(&cByte, 1) == -1, "a file opened for reading refuses writes");
        ReadToTheEnd(file, pData, nSize);
    }
    file.Close();
    Require(file.m_pFile == nullptr, "Close releases the stream");
    remove(strPath.c_str());
    return 0;
}
