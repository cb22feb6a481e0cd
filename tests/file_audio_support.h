// Shared by the file playback and recording suites: the audio device fixture
// with the jobs ended after every case, prompts written as WAV files, and
// steps that move sound through the emulated device on demand and wait until
// the player or the recorder has handled it.
#pragma once

#include <atomic>
#include <string>

#include "audio/FilePlayback.h"
#include "audio/FileRecording.h"
#include "audio_support.h"
#include "wav_bytes.h"

// Made before the suites by file_audio_make_files.sh (sox, libsndfile).
extern const char D_szOutsideFiles[];
// Recordings left here are read by outside tools after the suites.
extern const char D_szOursDir[];

const UINT D_nHandsetOutId = 1;
const UINT D_nHandsetInId = 1;
const size_t D_nRecordBuf = 1280;

class FileAudioTest : public AudioDeviceTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // A canonical 16-bit mono 8000 Hz WAV file holding the samples, plus
    // trailing bytes after the data chunk when given; returns its path.
    std::string WritePrompt(const Bytes &samples, const Bytes &trailing = Bytes());
    // Plays whatever the output holds, block by block, until the play job
    // has ended; false when it has not ended within dwMilliseconds.
    bool PlayUntilTheJobEnds(DWORD dwMilliseconds);
    // Plays one block and waits until the player has handled its return
    // (refill queued or job ended).
    void PlayOneBlock();
    // Captures whole input buffers from the counting source, a round of at
    // most four at a time, each round written to the file before the next.
    void CaptureBuffers(int nBuffers);
    // Stops the recording and returns the recorded file.
    Bytes StopAndReadRecording(const std::string &strPath);

    // StartPlayFile, then a wrapper around the sink it installed that counts
    // the returned blocks the player has handled.
    int StartCountedPlayback(const std::string &strPath);
    // Full recovery: a playback and a recording started together (within
    // the starts' bounds), fnWhileRunning run while both go on, the prompt
    // played whole on the handset and the recording holding just its sound.
    void ExpectPlaybackAndRecordingWork(const std::function<void()> &fnWhileRunning = [] {});

public:
    static std::atomic<LONG> s_nPlayerReturns;
};

// The earpiece's sound from byte nFrom on is the samples whole, then the
// silence that ends a playback (what of it the stack did not drop), nothing
// else.
::testing::AssertionResult HeardWhole(const Bytes &samples, size_t nFrom = 0);

// The samples of a recorded file (everything after the 44-byte header).
Bytes SamplesOf(const Bytes &file);
