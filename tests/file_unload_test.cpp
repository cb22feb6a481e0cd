// The library's unload while the host goes on, with a playback and a
// recording running: both devices are closed and the recording's last
// buffers are in the file before its header is closed. Run as the host's
// FreeLibrary runs it, under the loader lock, the step makes no close at
// all: a close waits for the system's audio threads, which need that lock.
// The devices are closed by threads of their own once the lock is free.
#include "core/PluginLifecycle.h"
#include "file_audio_support.h"
#include "platform/wave_api.h"

extern "C" {
LONG NTAPI LdrLockLoaderLock(ULONG ulFlags, ULONG *pulDisposition, ULONG_PTR *pCookie);
LONG NTAPI LdrUnlockLoaderLock(ULONG ulFlags, ULONG_PTR ulCookie);
}

namespace {

const DWORD D_dwCloserBoundMs = 5000;

// The emulated closes, watched: how many came while the test held the
// loader lock.
volatile LONG g_lLoaderLockHeld = 0;
volatile LONG g_lClosesUnderLoaderLock = 0;
PFN_waveInClose g_pfnEmulatedInClose = nullptr;
PFN_waveOutClose g_pfnEmulatedOutClose = nullptr;

void NoteClose() {
    if (g_lLoaderLockHeld) InterlockedIncrement(&g_lClosesUnderLoaderLock);
}
MMRESULT WINAPI WatchedInClose(HWAVEIN hwi) {
    NoteClose();
    return g_pfnEmulatedInClose(hwi);
}
MMRESULT WINAPI WatchedOutClose(HWAVEOUT hwo) {
    NoteClose();
    return g_pfnEmulatedOutClose(hwo);
}

class FileUnloadTest : public FileAudioTest, public ::testing::WithParamInterface<bool> {
protected:
    void DetachAsTheHostDoes(bool bUnderLoaderLock) {
        g_pfnEmulatedInClose = g_Wave.waveInClose;
        g_pfnEmulatedOutClose = g_Wave.waveOutClose;
        g_Wave.waveInClose = WatchedInClose;
        g_Wave.waveOutClose = WatchedOutClose;
        InterlockedExchange(&g_lClosesUnderLoaderLock, 0);
        ULONG_PTR ulCookie = 0;
        if (bUnderLoaderLock) ASSERT_EQ(0, LdrLockLoaderLock(0, nullptr, &ulCookie));
        InterlockedExchange(&g_lLoaderLockHeld, bUnderLoaderLock);
        PluginDetach(false);
        InterlockedExchange(&g_lLoaderLockHeld, 0);
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

    EXPECT_EQ(g_lClosesUnderLoaderLock, 0) << "a device closed while the unload held the loader lock";
    EXPECT_EQ(IsPlayingFile(), 0);
    EXPECT_EQ(IsRecordingFile(), 0);
    EXPECT_TRUE(WaitUntil([] { return Sim().OpenStreams(ESimWaveDirection::Output) == 0; }, D_dwCloserBoundMs))
        << "the output left open at unload";
    EXPECT_TRUE(WaitUntil([] { return Sim().OpenStreams(ESimWaveDirection::Input) == 0; }, D_dwCloserBoundMs))
        << "the input left open at unload";
    Bytes expected = CountingSamples(2 * D_nRecordBuf + 300);
    expected.resize(3 * D_nRecordBuf, 0x00);
    Bytes file = ReadWholeFile(strRecording);
    EXPECT_EQ(SamplesOf(file), expected) << "two buffers and the partial third, padded, before the header closed";
    ASSERT_GE(file.size(), 44u);
    EXPECT_EQ(Le32At(file, 40), file.size() - 44) << "data size at offset 40";
}

INSTANTIATE_TEST_SUITE_P(Unload, FileUnloadTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return info.param ? "UnderTheLoaderLock" : "WithoutTheLoaderLock";
                         });

}  // namespace
