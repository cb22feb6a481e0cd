// The handset's wave input: four circulating buffers, whole 1280-byte
// buffers for the recorder (a partial last one padded with silence), the
// close after the last buffer, and a start while the input is closing.
#include "audio_support.h"
#include "stopwatch.h"

namespace {

const size_t D_nBuf = 1280;

Bytes Counting(size_t nCount, uint64_t nFirst = 0) {
    Bytes bytes(nCount);
    CEmulatedWave::CountingSource(nFirst)(bytes.data(), nCount, 0);
    return bytes;
}

class AudioInputTest : public AudioDeviceTest {
protected:
    void SetUp() override {
        AudioDeviceTest::SetUp();
        Sim().SetInputSource(CEmulatedWave::CountingSource());
    }
    void StopAndExpectClosed() {
        StopWaveIn(CDeadline(D_dwWaveLockBoundMs));
        ExpectWithin([] { return !g_WaveIn.m_bOpen; }, 1000, "input close notification");
        EXPECT_EQ(Sim().Closes(ESimWaveDirection::Input), 1);
        EXPECT_EQ(Sim().PreparedAtClose(), 0) << "every buffer retired (unprepared) before the close";
        EXPECT_EQ(g_WaveIn.m_hDevice, nullptr);
    }
};

TEST_F(AudioInputTest, OpenQueuesFourBuffersOf1280BytesAndStarts) {
    ASSERT_EQ(OpenWaveIn(), MMSYSERR_NOERROR);
    EXPECT_TRUE(g_WaveIn.m_bOpen);
    EXPECT_EQ(g_nInWaveBufSize, 1280);
    EXPECT_EQ(Sim().QueuedBlocks(ESimWaveDirection::Input), 4);
    for (int nSlot = 0; nSlot < 4; ++nSlot) {
        EXPECT_EQ(g_InWaveHdr[nSlot].lpData, g_InWaveBuf + nSlot * 10000) << "slot " << nSlot;
        EXPECT_EQ(g_InWaveHdr[nSlot].dwBufferLength, 1280u) << "slot " << nSlot;
    }
    EXPECT_EQ(Sim().CaptureInput(D_nBuf), D_nBuf) << "the input was started";
}

TEST_F(AudioInputTest, FullBuffersReachTheRecorderInOrderAndGoBackToTheDevice) {
    ASSERT_EQ(OpenWaveIn(), MMSYSERR_NOERROR);
    ASSERT_EQ(Sim().CaptureInput(4 * D_nBuf), 4 * D_nBuf);
    ExpectWithin([] { return g_InSink.Count() == 4; }, 1000, "data notification for each of four buffers");
    ExpectWithin([this] { return Sim().QueuedBlocks(ESimWaveDirection::Input) == 4; }, 1000,
                 "re-queue of the four buffers");
    ASSERT_EQ(Sim().CaptureInput(3 * D_nBuf), 3 * D_nBuf) << "the buffers went back to the device";
    ExpectWithin([] { return g_InSink.Count() == 7; }, 1000, "data notifications of the second round");

    Bytes recorded;
    for (const SinkCall &call : g_InSink.Calls()) {
        EXPECT_EQ(call.bytes.size(), D_nBuf);
        recorded.insert(recorded.end(), call.bytes.begin(), call.bytes.end());
    }
    EXPECT_EQ(recorded, Counting(7 * D_nBuf)) << "captured bytes in capture order, none lost or repeated";
    EXPECT_EQ(Sim().OverrunBytes(), 0u);
}

TEST_F(AudioInputTest, PartialBufferOf300BytesIsDeliveredAs1280WithSilence) {
    ASSERT_EQ(OpenWaveIn(), MMSYSERR_NOERROR);
    Sim().CaptureInput(300);
    StopAndExpectClosed();
    std::vector<SinkCall> calls = g_InSink.Calls();
    ASSERT_EQ(calls.size(), 1u) << "only the partial buffer is delivered; the three empty ones are not";
    Bytes expected = Counting(300);
    expected.resize(D_nBuf, 0x00);
    EXPECT_EQ(calls[0].bytes, expected) << "300 recorded bytes, then 980 bytes of 0x00";
}

TEST_F(AudioInputTest, EightBitPartialBufferIsPaddedWith0x80) {
    g_nBitsPerSample = 8;
    ASSERT_EQ(OpenWaveIn(), MMSYSERR_NOERROR);
    EXPECT_EQ(g_nInWaveBufSize, 640);
    EXPECT_EQ(g_nBlockAlign, 1);
    Sim().CaptureInput(100);
    StopAndExpectClosed();
    std::vector<SinkCall> calls = g_InSink.Calls();
    ASSERT_EQ(calls.size(), 1u);
    Bytes expected = Counting(100);
    expected.resize(640, 0x80);
    EXPECT_EQ(calls[0].bytes, expected) << "unsigned 8-bit silence is 0x80";
}

TEST_F(AudioInputTest, EmptyBuffersAreRetiredWithoutDeliveryAndTheFourthCloses) {
    ASSERT_EQ(OpenWaveIn(), MMSYSERR_NOERROR);
    StopAndExpectClosed();
    EXPECT_EQ(g_InSink.Count(), 0u);
    EXPECT_EQ(g_WaveIn.m_nHeld, 0);
    EXPECT_EQ(Sim().Resets(ESimWaveDirection::Input), 1);
}

TEST_F(AudioInputTest, StartWhileStoppingWaitsForTheCloseThenOpensAgain) {
    ASSERT_EQ(OpenWaveIn(), MMSYSERR_NOERROR);
    HoldWaveThread(ESimWaveDirection::Input);
    StopWaveIn(CDeadline(D_dwWaveLockBoundMs));
    ASSERT_TRUE(g_WaveIn.m_bOpen) << "still closing: its buffers wait behind the held thread";
    EXPECT_EQ(OpenWhileClosing(OpenWaveIn), MMSYSERR_NOERROR);
    EXPECT_TRUE(g_WaveIn.m_bOpen);
    EXPECT_EQ(Sim().Closes(ESimWaveDirection::Input), 1);
    EXPECT_EQ(Sim().OpenStreams(ESimWaveDirection::Input), 1) << "opened afresh after the close";
    EXPECT_EQ(Sim().QueuedBlocks(ESimWaveDirection::Input), 4);
}

TEST_F(AudioInputTest, RealTimeCaptureDeliversABufferEvery80ms) {
    Sim().SetClock(ESimWaveClock::RealTime);
    CStopwatch sinceStart;
    ASSERT_EQ(OpenWaveIn(), MMSYSERR_NOERROR);
    ExpectWithin([] { return g_InSink.Count() >= 3; }, 2000, "three data notifications at 16000 bytes/s");
    DWORD dwElapsed = sinceStart.ElapsedMs();
    EXPECT_GE(dwElapsed, 200u) << "three buffers are 240 ms of sound";
    Bytes recorded;
    for (const SinkCall &call : g_InSink.Calls()) recorded.insert(recorded.end(), call.bytes.begin(), call.bytes.end());
    EXPECT_EQ(recorded, Counting(recorded.size()));
}

}  // namespace
