// WaveFile: one WAV file on disk, opened for reading (a prompt played into the
// handset) or for writing (a recording of the handset's microphone).
//
// The object knows nothing of devices or threads and takes no lock: its owner
// uses it from one thread at a time. Reading checks the RIFF WAVE header and
// then hands out the bytes of the "data" chunk as they stand, never
// converting them. Writing lays down a fixed 44-byte PCM header (mono, 8000
// Hz, 16 bits) and patches its two size fields after every block, so the file
// on disk is a complete WAV file at any moment, even if the host dies in the
// middle of a recording. A block the disk does not take (it is full) fails
// the write for good: the header is set to the samples that did reach the
// file, and later blocks are refused rather than appended after a gap.
//
// File access is plain C stdio on purpose: the same source builds for the
// plug-in and natively for the fuzzer.
#pragma once

#include <cstdint>
#include <cstdio>

class WaveFile final {
public:
    static const int D_nMaxPathLength = 1023;
    static const int D_nHeaderSize = 44;

    explicit WaveFile(const char *pszPath);
    // Destruction does not close the file: the owner calls Close first.
    ~WaveFile() = default;

    // 'r' or 'w'; any other mode opens nothing.
    virtual bool Open(char cMode);
    // Patches the sizes of a written file, then closes the stream. False
    // when the patch or the close failed (Failed is then set); the file
    // then keeps the sizes of its last good Write. Does nothing, and is
    // true, when no stream is open.
    virtual bool Close();
    virtual int GetDataSize();
    // Bytes read (0 at the end of the samples), or -1.
    virtual int Read(void *pBuffer, int nCount);
    // 0 after the bytes and the header sizes are on disk, -1 on refusal,
    // when the header's "data" tag cannot be found again, or when the bytes
    // or the sizes could not be written (Failed is then set, and every later
    // Write is refused).
    virtual int Write(const void *pBuffer, int nCount);
    // Rewinds a file being written to an empty recording (offset 44).
    virtual void Restart();
    // A write or the close failed. Why is not told reliably: a write the
    // disk took only in part is no error to the system, and Wine's C library
    // then reports whatever error came before.
    bool Failed() const { return m_bFailed; }

    char m_szPath[D_nMaxPathLength + 1];
    FILE *m_pFile;
    char m_cMode;
    int32_t m_nDataSize;
    int32_t m_nRiffSize;
    int32_t m_nFormatTag;
    int32_t m_nChannels;
    int32_t m_nSamplesPerSec;
    int32_t m_nBitsPerSample;
    bool m_bPatchHeader;

private:
    bool OpenForReading();
    bool OpenForWriting();
    bool ReadFormatChunk();
    bool FindDataTag();
    void LimitReadsToDataChunk();
    void ResetFormat();
    bool WriteHeader();
    bool WriteSizeAt(long lOffset, int32_t nValue);
    bool WriteDataSizeAfterTag();
    int FailWrite();
    bool NoteFailure(bool bSucceeded);

    // Sample bytes a Read may still hand out; -1 when reads run to the end of
    // the file (a declared size of 0 or one past the end of the file).
    int64_t m_llReadLeft;
    bool m_bFailed;

    WaveFile(const WaveFile &) = delete;
    WaveFile &operator=(const WaveFile &) = delete;
};
