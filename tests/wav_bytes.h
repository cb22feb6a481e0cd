// Byte-level helpers for the WAV suites: whole files in and out, the
// little-endian fields of a header, and a builder for hand-made headers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

using Bytes = std::vector<unsigned char>;

inline Bytes ReadWholeFile(const std::string &strPath) {
    Bytes bytes;
    if (FILE *pFile = fopen(strPath.c_str(), "rb")) {
        unsigned char chunk[4096];
        size_t nRead;
        while ((nRead = fread(chunk, 1, sizeof(chunk), pFile)) > 0) {
            bytes.insert(bytes.end(), chunk, chunk + nRead);
        }
        fclose(pFile);
    }
    return bytes;
}

inline bool WriteWholeFile(const std::string &strPath, const Bytes &bytes) {
    FILE *pFile = fopen(strPath.c_str(), "wb");
    if (!pFile) return false;
    bool bWritten = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), pFile) == bytes.size();
    return fclose(pFile) == 0 && bWritten;
}

inline uint32_t Le32At(const Bytes &bytes, size_t nOffset) {
    if (bytes.size() < nOffset + 4) return 0xFFFFFFFFu;
    return bytes[nOffset] | (bytes[nOffset + 1] << 8) | (bytes[nOffset + 2] << 16) |
           (static_cast<uint32_t>(bytes[nOffset + 3]) << 24);
}

// Appends fields to a file image in the order they are given.
class CBytesBuilder {
public:
    CBytesBuilder &Text(const char *psz) {
        for (; *psz; ++psz) m_bytes.push_back(static_cast<unsigned char>(*psz));
        return *this;
    }
    CBytesBuilder &Le16(uint32_t nValue) { return Byte(nValue).Byte(nValue >> 8); }
    CBytesBuilder &Le32(uint32_t nValue) { return Le16(nValue).Le16(nValue >> 16); }
    CBytesBuilder &Byte(uint32_t nValue) {
        m_bytes.push_back(static_cast<unsigned char>(nValue));
        return *this;
    }
    CBytesBuilder &Fill(size_t nCount, unsigned char cValue) {
        m_bytes.insert(m_bytes.end(), nCount, cValue);
        return *this;
    }
    CBytesBuilder &Append(const Bytes &bytes) {
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
        return *this;
    }
    // "RIFF", size, "WAVE", then a 16-byte (or larger) "fmt " chunk.
    CBytesBuilder &RiffFmt(uint32_t nTag, uint32_t nChannels, uint32_t nRate, uint32_t nBits, uint32_t nFmtSize = 16) {
        uint32_t nAlign = nBits / 8 * nChannels;
        Text("RIFF").Le32(0).Text("WAVEfmt ").Le32(nFmtSize).Le16(nTag).Le16(nChannels);
        Le32(nRate).Le32(nRate * nAlign).Le16(nAlign).Le16(nBits);
        return Fill(nFmtSize - 16, 0);
    }
    CBytesBuilder &DataChunk(const Bytes &samples) {
        return Text("data").Le32(static_cast<uint32_t>(samples.size())).Append(samples);
    }
    Bytes Build() const { return m_bytes; }

private:
    Bytes m_bytes;
};

// Sample bytes that show where a read starts and stops: byte i is i mod 251.
inline Bytes CountingSamples(size_t nCount, size_t nFirst = 0) {
    Bytes bytes(nCount);
    for (size_t i = 0; i < nCount; ++i) bytes[i] = static_cast<unsigned char>((nFirst + i) % 251);
    return bytes;
}

// A file in wav_tmp/ named after the running test (parameterised names carry
// a '/').
inline std::string TestTempPath() {
    CreateDirectoryA("wav_tmp", nullptr);
    std::string strName = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char &c : strName) {
        if (c == '/') c = '_';
    }
    return "wav_tmp/" + strName + ".wav";
}
