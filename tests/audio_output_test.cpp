// The handset's wave output: blocks accepted right after the open, every
// block back to the player and played byte for byte, the deferred and the
// immediate close, writes while closing, a start while closing, and that all
// notifications are handled on the one wave message thread.
#include "audio/WaveRetired.h"
#include "audio_support.h"
#include "stopwatch.h"

namespace {

const ESimWaveDirection D_eOut = ESimWaveDirection::Output;
const UINT D_nHandsetId = 1;

class AudioOutputTest : public AudioDeviceTest {
protected:
    void StopAndExpectClosed() {
        StopWaveOut(CDeadline(D_dwWaveLockBoundMs));
        ExpectWithin([] { return !g_WaveOut.m_bOpen; }, 1000, "output close notification");
        EXPECT_EQ(Sim().Closes(D_eOut), 1);
        EXPECT_EQ(Sim().PreparedAtClose(), 0) << "every block unprepared before the close";
        EXPECT_EQ(g_WaveOut.m_hDevice, nullptr);
        EXPECT_EQ(g_WaveOut.m_nHeld, 0);
    }
};

TEST_F(AudioOutputTest, RegressionBlocksWrittenRightAfterTheOpenAreAccepted) {
    // The open notification waits behind a held thread, as it may on a busy
    // machine; the player writes its first blocks at once all the same.
    HoldWaveThread(D_eOut);
    ASSERT_EQ(OpenWaveOut(), MMSYSERR_NOERROR);
    Bytes written = WriteBlocks({40960, 40960});
    EXPECT_EQ(OpenWaveOut(), MMSYSERR_NOERROR);
    EXPECT_EQ(Sim().OpenStreams(D_eOut), 1) << "a second open in that window must not open the device again";
    ReleaseWaveThread();
    EXPECT_EQ(Sim().PlayOutputBlocks(2), 2);
    EXPECT_EQ(Sim().PlayedBytes(D_nHandsetId), written);
}

TEST_F(AudioOutputTest, EveryBlockComesBackToThePlayerAndIsPlayedByteForByte) {
    ASSERT_EQ(OpenWaveOut(), MMSYSERR_NOERROR);
    Bytes written = WriteBlocks({40960, 10240, 7});
    EXPECT_EQ(g_WaveOut.m_nHeld, 3);
    EXPECT_EQ(Sim().PlayOutputBlocks(3), 3);
    ExpectWithin([] { return g_OutSink.Count() == 3; }, 1000, "done notification for each of three blocks");
    std::vector<SinkCall> calls = g_OutSink.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].bytes.size(), 40960u);
    EXPECT_EQ(calls[1].bytes.size(), 10240u);
    EXPECT_EQ(calls[2].bytes.size(), 7u);
    EXPECT_EQ(Sim().PlayedBytes(D_nHandsetId), written);
    EXPECT_EQ(g_WaveOut.m_nHeld, 0);
    StopAndExpectClosed();
}

// What the Wine rows of the player's suites stand on: Wine's winmm returns a
// block while its ALSA driver still holds the end of the sound, which later
// blocks or time push out and a reset drops.
TEST_F(AudioOutputTest, UnderWineABlockComesBackWhileTheDriverStillHoldsItsEnd) {
    const size_t nHeld = CEmulatedWave::D_nWineDriverBytes;
    Sim().SetStack(ESimWaveStack::Wine);
    ASSERT_EQ(OpenWaveOut(), MMSYSERR_NOERROR);
    Bytes written = WriteBlocks({1000, 1000, 1000});
    EXPECT_EQ(Sim().PlayOutputBlocks(1), 1);
    EXPECT_EQ(Sim().PlayedBytes(D_nHandsetId), Bytes(written.begin(), written.begin() + 1000 - nHeld));
    EXPECT_EQ(Sim().PlayOutputBlocks(1), 1);
    EXPECT_EQ(Sim().PlayedBytes(D_nHandsetId).size(), 2000 - nHeld) << "the next block pushed the end out";
    StopAndExpectClosed();
    EXPECT_EQ(Sim().DroppedDriverBytes(), nHeld) << "the reset dropped what the driver held";

    Sim().SetClock(ESimWaveClock::RealTime);
    ASSERT_EQ(OpenWaveOut(), MMSYSERR_NOERROR);
    written = WriteBlocks({1000});
    ExpectWithin([this] { return Sim().PlayedBytes(D_nHandsetId).size() == 2000 - nHeld + 1000; }, 2000,
                 "the driver's last bytes heard in time, after the block came back");
    EXPECT_EQ(Sim().DroppedDriverBytes(), nHeld);
}

TEST_F(AudioOutputTest, CallersBufferIsFreeForReuseWhenTheWriteReturns) {
    ASSERT_EQ(OpenWaveOut(), MMSYSERR_NOERROR);
    char buffer[4] = {1, 2, 3, 4};
    ASSERT_EQ(WriteWaveOut(buffer, 4), 0);
    memset(buffer, 9, sizeof(buffer));
    Sim().PlayOutputBlocks(1);
    EXPECT_EQ(Sim().PlayedBytes(D_nHandsetId), (Bytes{1, 2, 3, 4}));
}

TEST_F(AudioOutputTest, StopWithTwoQueuedBlocksClosesAfterTheSecondReturns) {
    ASSERT_EQ(OpenWaveOut(), MMSYSERR_NOERROR);
    WriteBlocks({40960, 40960});
    StopAndExpectClosed();
    std::vector<SinkCall> calls = g_OutSink.Calls();
    ASSERT_EQ(calls.size(), 2u) << "both blocks come back as done";
    EXPECT_EQ(calls[0].nQueuedAtCall, 1) << "the first finds one block still counted";
    EXPECT_EQ(calls[1].nQueuedAtCall, 0);
    EXPECT_EQ(calls[0].nClosesAtCall, 0);
    EXPECT_EQ(calls[1].nClosesAtCall, 0) << "the close follows the last block's handling";
    EXPECT_TRUE(Sim().PlayedBytes(D_nHandsetId).empty()) << "the reset returns them unplayed";
}

TEST_F(AudioOutputTest, StopWithNothingQueuedClosesAtOnce) {
    ASSERT_EQ(OpenWaveOut(), MMSYSERR_NOERROR);
    StopWaveOut(CDeadline(D_dwWaveLockBoundMs));
    EXPECT_EQ(Sim().Closes(D_eOut), 1) << "closed inside the stop";
    StopAndExpectClosed();
    EXPECT_EQ(g_OutSink.Count(), 0u);
}

TEST_F(AudioOutputTest, WritesAreRefusedWhileClosingAndAcceptedAfterTheReopen) {
    ASSERT_EQ(OpenWaveOut(), MMSYSERR_NOERROR);
    WriteBlocks({1280, 1280});
    HoldWaveThread(D_eOut);
    StopWaveOut(CDeadline(D_dwWaveLockBoundMs));
    char cByte = 0;
    EXPECT_EQ(WriteWaveOut(&cByte, 1), -1) << "closing: the returned blocks wait behind the held thread";
    EXPECT_EQ(OpenWhileClosing(OpenWaveOut), MMSYSERR_NOERROR);
    EXPECT_EQ(Sim().Closes(D_eOut), 1);
    EXPECT_EQ(Sim().OpenStreams(D_eOut), 1) << "opened afresh after the close";
    EXPECT_EQ(WriteWaveOut(&cByte, 1), 0);
}

TEST_F(AudioOutputTest, RegressionStartAbandonsAnOutputWhoseCloseNeverComesAndOpensAfresh) {
    ASSERT_EQ(OpenWaveOut(), MMSYSERR_NOERROR);
    WriteBlocks({1280});
    HoldWaveThread(D_eOut);
    StopWaveOut(CDeadline(D_dwWaveLockBoundMs));
    CStopwatch sinceStart;
    EXPECT_EQ(OpenWaveOut(), MMSYSERR_NOERROR) << "the start after the bounded wait for the close";
    DWORD dwElapsed = sinceStart.ElapsedMs();
    EXPECT_GE(dwElapsed, 900u);
    EXPECT_LT(dwElapsed, 3000u);
    EXPECT_EQ(Sim().OpenStreams(D_eOut), 1) << "the old output closed, a new one open";
    Bytes written = WriteBlocks({7});
    ReleaseWaveThread();
    ExpectWithin([] { return RetiredWaveDevices() == 0; }, 1000,
                 "late block and close notification of the abandoned output");
    EXPECT_TRUE(g_WaveOut.m_bOpen) << "the old output's close must not close the new one";
    EXPECT_EQ(g_WaveOut.m_nHeld, 1) << "the old output's block must not be counted off the new one";
    EXPECT_EQ(g_OutSink.Count(), 0u) << "the abandoned output's block reached the player";
    EXPECT_EQ(Sim().PlayOutputBlocks(1), 1);
    EXPECT_EQ(Sim().PlayedBytes(D_nHandsetId), written);
}

TEST_F(AudioOutputTest, BlockTheDeviceRefusesIsNeitherCountedNorKept) {
    ASSERT_EQ(OpenWaveOut(), MMSYSERR_NOERROR);
    Sim().RefuseWrites(MMSYSERR_NOMEM);
    char cByte = 0;
    EXPECT_EQ(WriteWaveOut(&cByte, 1), 0);
    EXPECT_EQ(g_WaveOut.m_nHeld, 0);
    EXPECT_EQ(Sim().QueuedBlocks(D_eOut), 0);
    Sim().RefuseWrites(MMSYSERR_NOERROR);
    StopAndExpectClosed();
    EXPECT_EQ(g_OutSink.Count(), 0u);
}

TEST_F(AudioOutputTest, WritesWithoutAnOpenOutputOrBytesAreRefused) {
    char cByte = 0;
    EXPECT_EQ(WriteWaveOut(&cByte, 1), -1) << "output not open";
    ASSERT_EQ(OpenWaveOut(), MMSYSERR_NOERROR);
    EXPECT_EQ(WriteWaveOut(nullptr, 1), -1);
    EXPECT_EQ(WriteWaveOut(&cByte, 0), -1);
    EXPECT_EQ(WriteWaveOut(&cByte, -1), -1);
    EXPECT_EQ(Sim().QueuedBlocks(D_eOut), 0);
}

TEST_F(AudioOutputTest, RealTimePlaybackTakesTheBlocksDuration) {
    Sim().SetClock(ESimWaveClock::RealTime);
    ASSERT_EQ(OpenWaveOut(), MMSYSERR_NOERROR);
    CStopwatch sinceStart;
    Bytes written = WriteBlocks({1600});
    ExpectWithin([] { return g_OutSink.Count() == 1; }, 2000, "done notification of a 100 ms block");
    DWORD dwElapsed = sinceStart.ElapsedMs();
    EXPECT_GE(dwElapsed, 80u) << "1600 bytes at 16000 bytes/s";
    EXPECT_LT(dwElapsed, 1000u);
    EXPECT_EQ(Sim().PlayedBytes(D_nHandsetId), written);
}

TEST_F(AudioOutputTest, NotificationsOfBothDirectionsArriveOnTheOneWaveMessageThread) {
    ASSERT_EQ(OpenWaveOut(), MMSYSERR_NOERROR);
    ASSERT_EQ(OpenWaveIn(), MMSYSERR_NOERROR);
    WriteBlocks({320, 320});
    Sim().PlayOutputBlocks(2);
    Sim().CaptureInput(2 * 1280);
    ExpectWithin([] { return g_OutSink.Count() == 2 && g_InSink.Count() == 2; }, 1000,
                 "two done and two data notifications");
    for (const CSinkRecorder *pSink : {&g_OutSink, &g_InSink}) {
        for (const SinkCall &call : pSink->Calls()) EXPECT_EQ(call.dwThreadId, g_dwWaveThreadId);
    }
    for (const SimWaveOpen &open : Sim().Opens()) {
        EXPECT_EQ(open.dwCallback, static_cast<DWORD_PTR>(g_dwWaveThreadId));
        EXPECT_EQ(open.fdwOpen, static_cast<DWORD>(CALLBACK_THREAD));
    }
}

TEST_F(AudioOutputTest, FirstOpenStartsTheWaveThreadReadyForItsOpenNotification) {
    StopWaveMsgThread(CDeadline(D_dwWaveThreadStopBoundMs));
    ASSERT_EQ(g_dwWaveThreadId, 0u);
    ASSERT_EQ(OpenWaveOut(), MMSYSERR_NOERROR);
    EXPECT_NE(g_dwWaveThreadId, 0u);
    EXPECT_EQ(Sim().LostNotifications(), 0) << "the open notification found the thread's queue";
    WriteBlocks({2});
    Sim().PlayOutputBlocks(1);
    ExpectWithin([] { return g_OutSink.Count() == 1; }, 1000, "done notification on the new thread");
}

}  // namespace
