// WaveFile: see WaveFile.h.
//
// Reading: the RIFF/WAVE check, the format chunk expected at offset 12, then a
// byte-wise search for the "data" tag from offset 36 whatever the format
// chunk's size (an 18-byte or extensible format chunk just moves the tag
// further on). Reads stop at the end of the data chunk when its declared size
// is believable (non-zero and within the file), so a trailing LIST or cue
// chunk is not played as noise; a size of 0 or one past the end of the file,
// as left by recorders that never patched their header, reads to the end.
//
// Writing: every Write flushes the samples, then the size patches, so both
// are with the system when it returns: a reader (or a crash) sees a complete
// file at any moment. The flush is also where a full disk shows: stdio takes
// a block into its buffer whatever the disk can hold, and a seek's flush
// reports nothing. The C libraries of Windows drop a buffer whose flush
// failed, so what reached the file is measured on the file itself, and the
// sizes, which overwrite bytes already on disk, can still be written.
#include "audio/WaveFile.h"

#include <cstring>
#ifdef _WIN32
#include <io.h>
#else
#include <sys/stat.h>
#endif

namespace {

const char D_szDataTag[] = "data";
const long D_lRiffSizeOffset = 4;
const long D_lDataSearchStart = 36;
const long D_lDataSizeOffset = 40;
const int32_t D_nEmptyRiffSize = 36;

uint32_t LoadLe16(const unsigned char *pBytes) {
    return static_cast<uint32_t>(pBytes[0]) | (static_cast<uint32_t>(pBytes[1]) << 8);
}

uint32_t LoadLe32(const unsigned char *pBytes) { return LoadLe16(pBytes) | (LoadLe16(pBytes + 2) << 16); }

void StoreLe16(unsigned char *pBytes, uint32_t nValue) {
    pBytes[0] = static_cast<unsigned char>(nValue);
    pBytes[1] = static_cast<unsigned char>(nValue >> 8);
}

void StoreLe32(unsigned char *pBytes, uint32_t nValue) {
    StoreLe16(pBytes, nValue);
    StoreLe16(pBytes + 2, nValue >> 16);
}

// The file's length as the system has it, whatever stdio still buffers; -1
// when it cannot be had.
int64_t LengthOnDisk(FILE *pFile) {
#ifdef _WIN32
    return _filelengthi64(_fileno(pFile));
#else
    struct stat st;
    return fstat(fileno(pFile), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
#endif
}

int32_t AddBytes(int32_t nSize, size_t nBytes) {
    // Sizes on disk are unsigned 32-bit: wrap like them instead of
    // overflowing a signed value.
    return static_cast<int32_t>(static_cast<uint32_t>(nSize) + static_cast<uint32_t>(nBytes));
}

}  // namespace

WaveFile::WaveFile(const char *pszPath)
    : m_pFile(nullptr), m_cMode('r'), m_nDataSize(0), m_nRiffSize(0), m_nFormatTag(1), m_nChannels(1),
      m_nSamplesPerSec(8000), m_nBitsPerSample(16), m_bPatchHeader(false), m_llReadLeft(-1), m_bFailed(false) {
    memset(m_szPath, 0, sizeof(m_szPath));
    if (pszPath) memcpy(m_szPath, pszPath, strnlen(pszPath, D_nMaxPathLength));
}

bool WaveFile::Open(char cMode) {
    // A second Open on one object would otherwise lose the first stream.
    if (m_pFile) Close();
    m_cMode = cMode;
    if (cMode == 'r') {
        bool bOpened = OpenForReading();
        m_bPatchHeader = false;
        return bOpened;
    }
    if (cMode == 'w') {
        m_bPatchHeader = true;
        return OpenForWriting();
    }
    return false;
}

bool WaveFile::Close() {
    if (!m_pFile) return true;
    bool bClosed = true;
    if (m_bPatchHeader) {
        bClosed = NoteFailure(WriteSizeAt(D_lRiffSizeOffset, m_nRiffSize) &&
                              WriteSizeAt(D_lDataSizeOffset, m_nDataSize) && fflush(m_pFile) == 0);
    }
    // The close flushes too: a failure there is one of the file's.
    bClosed = NoteFailure(fclose(m_pFile) == 0) && bClosed;
    m_pFile = nullptr;
    return bClosed;
}

int WaveFile::GetDataSize() { return m_nDataSize; }

int WaveFile::Read(void *pBuffer, int nCount) {
    if (m_cMode == 'w' || !m_pFile || !pBuffer || nCount <= 0) return -1;
    size_t nWanted = static_cast<size_t>(nCount);
    if (m_llReadLeft >= 0 && static_cast<int64_t>(nWanted) > m_llReadLeft) {
        nWanted = static_cast<size_t>(m_llReadLeft);
    }
    if (nWanted == 0) return 0;
    size_t nRead = fread(pBuffer, 1, nWanted, m_pFile);
    if (m_llReadLeft >= 0) m_llReadLeft -= static_cast<int64_t>(nRead);
    return static_cast<int>(nRead);
}

int WaveFile::Write(const void *pBuffer, int nCount) {
    if (m_cMode == 'r' || !m_pFile || !pBuffer || m_bFailed) return -1;
    if (nCount <= 0) return 0;
    size_t nWritten = fwrite(pBuffer, 1, static_cast<size_t>(nCount), m_pFile);
    if (nWritten != static_cast<size_t>(nCount) || fflush(m_pFile) != 0) return FailWrite();

    long lEnd = ftell(m_pFile);
    m_nRiffSize = AddBytes(m_nRiffSize, nWritten);
    m_nDataSize = AddBytes(m_nDataSize, nWritten);
    bool bSized = WriteSizeAt(D_lRiffSizeOffset, m_nRiffSize);
    bool bTagged = WriteDataSizeAfterTag();
    // Back to the end even when the tag is gone, so later blocks still append.
    bSized = fseek(m_pFile, lEnd, SEEK_SET) == 0 && fflush(m_pFile) == 0 && bSized;
    if (!bSized) return FailWrite();
    return bTagged ? 0 : -1;
}

// The block, or a size after it, did not reach the disk. The header is set
// to the whole frames that did; the stream stays open for Close, which
// writes the same sizes again.
int WaveFile::FailWrite() {
    NoteFailure(false);
    clearerr(m_pFile);
    int64_t llLength = LengthOnDisk(m_pFile);
    if (llLength < D_nHeaderSize) return -1;  // not even the header is there
    int32_t nBytesPerFrame = (m_nBitsPerSample / 8) * m_nChannels;
    int64_t llData = llLength - D_nHeaderSize;
    if (nBytesPerFrame > 1) llData -= llData % nBytesPerFrame;
    m_nDataSize = static_cast<int32_t>(llData);
    m_nRiffSize = AddBytes(D_nEmptyRiffSize, static_cast<size_t>(llData));
    // The file's own layout, so the data size sits at offset 40. Sizes that
    // do not stick either are tried once more by Close, which reports them.
    if (WriteSizeAt(D_lRiffSizeOffset, m_nRiffSize) && WriteSizeAt(D_lDataSizeOffset, m_nDataSize)) {
        static_cast<void>(fflush(m_pFile));
    }
    return -1;
}

// Passes bSucceeded on; a failure is the file's for good.
bool WaveFile::NoteFailure(bool bSucceeded) {
    if (!bSucceeded) m_bFailed = true;
    return bSucceeded;
}

void WaveFile::Restart() {
    if (!m_pFile) return;
    m_cMode = 'w';
    // The sizes follow the file: later Writes add to them and Close writes
    // them, so stale ones would claim samples that were rewound away.
    m_nRiffSize = D_nEmptyRiffSize;
    m_nDataSize = 0;
    WriteSizeAt(D_lRiffSizeOffset, m_nRiffSize);
    WriteSizeAt(D_lDataSizeOffset, m_nDataSize);
    // The seek after the tag also turns the update stream from reading to
    // writing, as stdio requires; one that fails leaves the next Write to
    // append at the end instead.
    if (FindDataTag()) static_cast<void>(fseek(m_pFile, 4, SEEK_CUR));
}

bool WaveFile::OpenForReading() {
    m_llReadLeft = -1;
    m_pFile = fopen(m_szPath, "rb");
    if (!m_pFile) return false;

    unsigned char riff[12];
    if (fseek(m_pFile, 0, SEEK_SET) != 0 || fread(riff, 1, sizeof(riff), m_pFile) != sizeof(riff)) {
        return false;
    }
    if (memcmp(riff, "RIFF", 4) != 0 || memcmp(riff + 8, "WAVE", 4) != 0) return false;
    m_nRiffSize = static_cast<int32_t>(LoadLe32(riff + 4));
    if (!ReadFormatChunk() || !FindDataTag()) return false;

    unsigned char size[4];
    if (fread(size, 1, sizeof(size), m_pFile) != sizeof(size)) return false;
    m_nDataSize = static_cast<int32_t>(LoadLe32(size));
    LimitReadsToDataChunk();
    return true;
}

bool WaveFile::ReadFormatChunk() {
    unsigned char id[4];
    if (fread(id, 1, sizeof(id), m_pFile) != sizeof(id)) return false;
    // Only three letters are compared; without them the file still plays, in
    // the construction format.
    if (memcmp(id, "fmt", 3) != 0) return true;

    // Chunk size (unused), tag, channels, rate, 6 bytes not read
    // (average rate, block align), bits per sample.
    unsigned char fmt[20];
    size_t nHave = fread(fmt, 1, sizeof(fmt), m_pFile);
    if (nHave < 8) return false;
    m_nFormatTag = static_cast<int32_t>(LoadLe16(fmt + 4));
    m_nChannels = static_cast<int32_t>(LoadLe16(fmt + 6));
    if (m_nChannels != 1 && m_nChannels != 2) return false;
    if (nHave < 12) return false;
    m_nSamplesPerSec = static_cast<int32_t>(LoadLe32(fmt + 8));
    if (m_nSamplesPerSec == 0) return false;
    if (nHave < 20) return false;
    m_nBitsPerSample = static_cast<int32_t>(LoadLe16(fmt + 18));
    return (m_nBitsPerSample / 8) * m_nChannels > 0;
}

bool WaveFile::FindDataTag() {
    if (fseek(m_pFile, D_lDataSearchStart, SEEK_SET) != 0) return false;
    // A byte that breaks a partial match may itself start the tag ("ddata",
    // "dadata"); no longer prefix of "data" can, since no other letter of it
    // is a 'd'.
    int nMatched = 0;
    for (;;) {
        int nByte = fgetc(m_pFile);
        if (nByte == EOF) return false;
        if (nByte == D_szDataTag[nMatched]) {
            if (++nMatched == 4) return true;
        } else {
            nMatched = (nByte == D_szDataTag[0]) ? 1 : 0;
        }
    }
}

void WaveFile::LimitReadsToDataChunk() {
    long lStart = ftell(m_pFile);
    if (lStart < 0 || fseek(m_pFile, 0, SEEK_END) != 0) return;
    long lEnd = ftell(m_pFile);
    // Back at the samples; a stream that cannot go back reads nothing more,
    // and the start of the playback fails on its empty first block.
    static_cast<void>(fseek(m_pFile, lStart, SEEK_SET));
    uint32_t nDeclared = static_cast<uint32_t>(m_nDataSize);
    if (nDeclared != 0 && lEnd >= lStart && static_cast<int64_t>(nDeclared) <= lEnd - lStart) {
        m_llReadLeft = nDeclared;
    }
}

void WaveFile::ResetFormat() {
    m_nFormatTag = 1;
    m_nChannels = 1;
    m_nSamplesPerSec = 8000;
    m_nBitsPerSample = 16;
}

bool WaveFile::OpenForWriting() {
    m_pFile = fopen(m_szPath, "wb+");
    if (!m_pFile) return false;
    ResetFormat();
    m_nRiffSize = D_nEmptyRiffSize;
    m_nDataSize = 0;
    bool bWritten = WriteHeader();
    m_bPatchHeader = true;
    return bWritten;
}

bool WaveFile::WriteHeader() {
    int32_t nBytesPerFrame = (m_nBitsPerSample / 8) * m_nChannels;
    unsigned char header[D_nHeaderSize];
    // The RIFF tags are four bytes each, no strings: no NUL goes with them.
    memcpy(header, "RIFF", 4);  // NOLINT(bugprone-not-null-terminated-result)
    StoreLe32(header + 4, static_cast<uint32_t>(m_nRiffSize));
    memcpy(header + 8, "WAVEfmt ", 8);  // NOLINT(bugprone-not-null-terminated-result)
    StoreLe32(header + 16, 16);
    StoreLe16(header + 20, static_cast<uint32_t>(m_nFormatTag));
    StoreLe16(header + 22, static_cast<uint32_t>(m_nChannels));
    StoreLe32(header + 24, static_cast<uint32_t>(m_nSamplesPerSec));
    StoreLe32(header + 28, static_cast<uint32_t>(m_nSamplesPerSec * nBytesPerFrame));
    StoreLe16(header + 32, static_cast<uint32_t>(nBytesPerFrame));
    StoreLe16(header + 34, static_cast<uint32_t>(m_nBitsPerSample));
    memcpy(header + 36, D_szDataTag, 4);  // NOLINT(bugprone-not-null-terminated-result)
    StoreLe32(header + 40, static_cast<uint32_t>(m_nDataSize));
    bool bWritten = fseek(m_pFile, 0, SEEK_SET) == 0 && fwrite(header, 1, sizeof(header), m_pFile) == sizeof(header);
    return fflush(m_pFile) == 0 && bWritten;
}

bool WaveFile::WriteSizeAt(long lOffset, int32_t nValue) {
    unsigned char size[4];
    StoreLe32(size, static_cast<uint32_t>(nValue));
    return fseek(m_pFile, lOffset, SEEK_SET) == 0 && fwrite(size, 1, sizeof(size), m_pFile) == sizeof(size);
}

bool WaveFile::WriteDataSizeAfterTag() {
    if (!FindDataTag()) return false;
    unsigned char size[4];
    StoreLe32(size, static_cast<uint32_t>(m_nDataSize));
    // stdio wants a seek between reading and writing an update stream.
    return fseek(m_pFile, 0, SEEK_CUR) == 0 && fwrite(size, 1, sizeof(size), m_pFile) == sizeof(size);
}
