// The library's unload while the host goes on, with a playback and a
// recording running: both devices are closed and the recording's buffers
// are in the file before its header is closed. Run as the host's
// FreeLibrary runs it, under the loader lock, no wave call is made at all,
// by the step or by any thread while it runs: a reset or a close waits for
// the system's audio threads, which need that lock. The devices are reset
// and closed by threads of their own once the lock is free.
#include "core/PluginLifecycle.h"
#include "file_audio_support.h"
#include "loader_lock.h"
#include "platform/wave_api.h"

namespace {

const DWORD D_dwCloserBoundMs = 5000;

// The emulated wave table, every entry watched: how many calls came while
// the test held the loader lock, from any thread.
std::atomic<bool> g_bLoaderLockHeld{false};
std::atomic<LONG> g_lWaveCallsUnderLoaderLock{0};
WAVE_API g_Emulated;

template <typename PFN, PFN WAVE_API::*pMember>
struct Watched;
template <typename R, typename... A, R (WINAPI *WAVE_API::*pMember)(A...)>
struct Watched<R(WINAPI *)(A...), pMember> {
    static R WINAPI Call(A... args) {
        if (g_bLoaderLockHeld) ++g_lWaveCallsUnderLoaderLock;
        return (g_Emulated.*pMember)(args...);
    }
};
#define TV_WATCH(name) g_Wave.name = Watched<decltype(g_Wave.name), &WAVE_API::name>::Call

void WatchEveryWaveCall() {
    g_Emulated = g_Wave;
    TV_WATCH(waveInGetNumDevs);
    TV_WATCH(waveInGetDevCapsA);
    TV_WATCH(waveInOpen);
    TV_WATCH(waveInPrepareHeader);
    TV_WATCH(waveInUnprepareHeader);
    TV_WATCH(waveInAddBuffer);
    TV_WATCH(waveInStart);
    TV_WATCH(waveInReset);
    TV_WATCH(waveInClose);
    TV_WATCH(waveOutGetNumDevs);
    TV_WATCH(waveOutGetDevCapsA);
    TV_WATCH(waveOutOpen);
    TV_WATCH(waveOutPrepareHeader);
    TV_WATCH(waveOutUnprepareHeader);
    TV_WATCH(waveOutWrite);
    TV_WATCH(waveOutReset);
    TV_WATCH(waveOutClose);
}
#undef TV_WATCH

class FileUnloadTest : public FileAudioTest, public ::testing::WithParamInterface<bool> {
protected:
    void DetachAsTheHostDoes(bool bUnderLoaderLock) {
        WatchEveryWaveCall();
        g_lWaveCallsUnderLoaderLock = 0;
        ULONG_PTR ulCookie = 0;
        if (bUnderLoaderLock) {
            ASSERT_EQ(0, LdrLockLoaderLock(0, nullptr, &ulCookie));
        }
        g_bLoaderLockHeld = bUnderLoaderLock;
        PluginDetach(false, bUnderLoaderLock);
        g_bLoaderLockHeld = false;
        if (bUnderLoaderLock) LdrUnlockLoaderLock(0, ulCookie);
    }
};

TEST_P(FileUnloadTest, RegressionUnloadDuringJobsClosesDevicesAndKeepsTheRecording) {
    std::string strRecording = TestTempPath();
    ASSERT_EQ(StartPlayFile(WritePrompt(CountingSamples(100000)).c_str()), 0);
    ASSERT_EQ(StartRecordFile(strRecording.c_str()), 0);
    CaptureBuffers(2);
    ASSERT_EQ(Sim().CaptureInput(300), 300u);

    DetachAsTheHostDoes(GetParam());

    EXPECT_EQ(g_lWaveCallsUnderLoaderLock, 0) << "a wave call (a reset, a close) while the unload held the loader lock";
    EXPECT_EQ(IsPlayingFile(), 0);
    EXPECT_EQ(IsRecordingFile(), 0);
    EXPECT_TRUE(WaitUntil([] { return Sim().OpenStreams(ESimWaveDirection::Output) == 0; }, D_dwCloserBoundMs))
        << "the output left open at unload";
    EXPECT_TRUE(WaitUntil([] { return Sim().OpenStreams(ESimWaveDirection::Input) == 0; }, D_dwCloserBoundMs))
        << "the input left open at unload";
    // Without the loader lock the reset returns the partial third buffer
    // before the file closes; under it no reset is made before the file
    // closes, and the recording keeps what had reached it.
    Bytes expected = CountingSamples(2 * D_nRecordBuf + (GetParam() ? 0 : 300));
    if (!GetParam()) expected.resize(3 * D_nRecordBuf, 0x00);
    Bytes file = ReadWholeFile(strRecording);
    EXPECT_EQ(SamplesOf(file), expected) << "the buffers returned before the header closed";
    ASSERT_GE(file.size(), 44u);
    EXPECT_EQ(Le32At(file, 40), file.size() - 44) << "data size at offset 40";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Unload, FileUnloadTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return info.param ? "UnderTheLoaderLock" : "WithoutTheLoaderLock";
                         });
// clang-format on

}  // namespace
