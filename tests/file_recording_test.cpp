// File recording against the emulated device: whole 1280-byte buffers after a
// 44-byte header with sizes that agree, every captured byte in the file (also
// behind a slow write), the buffers the stop's reset returns kept, failed
// starts that leave nothing, and recordings left for outside readers
// (file_audio_check_written runs after this suite).
#include <atomic>
#include <thread>

#include "audio/FileJob.h"
#include "file_audio_support.h"
#include "stopwatch.h"

namespace {

const ESimWaveDirection D_eIn = ESimWaveDirection::Input;

class FileRecordingTest : public FileAudioTest {
protected:
    std::string RecordingPath() { return TestTempPath(); }
    static void ExpectConsistentHeader(const Bytes &file) {
        ASSERT_GE(file.size(), 44u) << "no 44-byte header";
        EXPECT_EQ(Le32At(file, 4), file.size() - 8) << "RIFF size at offset 4";
        EXPECT_EQ(Le32At(file, 40), file.size() - 44) << "data size at offset 40";
        EXPECT_EQ((file.size() - 44) % D_nRecordBuf, 0u) << "a whole number of 1280-byte buffers";
    }
};

TEST_F(FileRecordingTest, AboutOneSecondIsAHeaderAndWholeBuffersWithTheLastPadded) {
    std::string strPath = RecordingPath();
    ASSERT_EQ(StartRecordFile(strPath.c_str()), 0);
    EXPECT_EQ(IsRecordingFile(), 1);
    EXPECT_EQ(g_pfnWaveInData, &RecordBlockReady);
    CaptureBuffers(12);
    ASSERT_EQ(Sim().CaptureInput(640), 640u) << "half a buffer more: 16000 bytes, one second";
    Bytes file = StopAndReadRecording(strPath);
    ExpectConsistentHeader(file);
    Bytes expected = CountingSamples(16000);
    expected.resize(13 * D_nRecordBuf, 0x00);
    EXPECT_EQ(SamplesOf(file), expected) << "12 whole buffers, then 640 bytes and 640 bytes of silence";
}

TEST_F(FileRecordingTest, EveryCapturedByteReachesTheFileInOrder) {
    std::string strPath = RecordingPath();
    ASSERT_EQ(StartRecordFile(strPath.c_str()), 0);
    CaptureBuffers(250);  // 20 s of sound
    Bytes file = StopAndReadRecording(strPath);
    ExpectConsistentHeader(file);
    EXPECT_EQ(SamplesOf(file), CountingSamples(250 * D_nRecordBuf));
    EXPECT_EQ(Sim().OverrunBytes(), 0u);
}

// The recorder's writes, each held at the input sink's gate as a slow disk
// would hold it.
int SlowRecordBlockReady(const char *pBytes, int nLength) {
    g_InSink.Record(D_eIn, pBytes, nLength);
    return RecordBlockReady(pBytes, nLength);
}

// A write that lasts longer than the other three buffers (240 ms) left the
// input with no buffer queued, and the device drops what it captures then:
// on Windows' stack as on Wine's.
class SlowWriteTest : public FileRecordingTest, public ::testing::WithParamInterface<ESimWaveStack> {};

TEST_P(SlowWriteTest, RegressionCaptureDuringASlowWriteFindsABufferAndReachesTheFile) {
    Sim().SetStack(GetParam());
    std::string strPath = RecordingPath();
    ASSERT_EQ(StartRecordFile(strPath.c_str()), 0);
    g_pfnWaveInData = SlowRecordBlockReady;
    const int nRounds = 3;
    for (int nRound = 0; nRound < nRounds && !HasFailure(); ++nRound) {
        g_InSink.ArmGate();
        ASSERT_EQ(Sim().CaptureInput(D_nRecordBuf), D_nRecordBuf);
        ASSERT_TRUE(g_InSink.WaitUntilHeld(2000)) << "no write of the round's first buffer";
        EXPECT_EQ(Sim().CaptureInput(4 * D_nRecordBuf), 4 * D_nRecordBuf)
            << "320 ms captured during one write found no buffer for all of it";
        g_InSink.ReleaseGate();
        ExpectWithin([this] { return Sim().QueuedBlocks(D_eIn) == 4; }, 2000, "the buffers queued again");
    }
    Bytes file = StopAndReadRecording(strPath);
    ExpectConsistentHeader(file);
    EXPECT_EQ(SamplesOf(file), CountingSamples(nRounds * 5 * D_nRecordBuf)) << "every captured byte, in order";
    EXPECT_EQ(Sim().OverrunBytes(), 0u);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Stacks, SlowWriteTest, ::testing::Values(ESimWaveStack::Windows, ESimWaveStack::Wine),
                         [](const ::testing::TestParamInfo<ESimWaveStack> &info) {
                             return std::string(info.param == ESimWaveStack::Wine ? "Wine" : "Windows");
                         });
// clang-format on

TEST_F(FileRecordingTest, RegressionStopKeepsTheBuffersTheResetReturns) {
    // Three filled buffers wait behind a held wave message thread and a
    // fourth holds 300 bytes when the host stops: all of it belongs in the
    // file, the partial one padded to 1280 bytes.
    std::string strPath = RecordingPath();
    ASSERT_EQ(StartRecordFile(strPath.c_str()), 0);
    HoldWaveThread(D_eIn);
    ASSERT_EQ(Sim().CaptureInput(3 * D_nRecordBuf + 300), 3 * D_nRecordBuf + 300);
    std::atomic<LONG> nStopped{0};
    std::thread stopper([&] {
        StopRecordFile(CDeadline(CFileJob::D_dwLockBoundMs));
        nStopped = 1;
    });
    Sleep(50);
    EXPECT_EQ(nStopped, 0) << "the stop closed the file while buffers were still owed to it";
    ReleaseWaveThread();
    stopper.join();
    Bytes file = ReadWholeFile(strPath);
    ExpectConsistentHeader(file);
    Bytes expected = CountingSamples(3 * D_nRecordBuf + 300);
    expected.resize(4 * D_nRecordBuf, 0x00);
    EXPECT_EQ(SamplesOf(file), expected);
    EXPECT_FALSE(g_WaveIn.m_bOpen) << "the input closed before the stop returned";
}

TEST_F(FileRecordingTest, RegressionStartWhileAnInputStillClosesNeitherHoldsTheRecorderNorFails) {
    // An input stopped with no job left (a start that lost its job to
    // another host thread's stop) owes its buffers, which wait behind a held
    // wave message thread and need the recorder's lock once it goes on.
    g_pfnWaveInData = RecordBlockReady;
    Sim().SetInputSource(CEmulatedWave::CountingSource(100));
    ASSERT_EQ(OpenWaveIn(), MMSYSERR_NOERROR);
    HoldWaveThread(D_eIn);
    ASSERT_EQ(Sim().CaptureInput(2 * D_nRecordBuf), 2 * D_nRecordBuf);
    StopWaveIn(CDeadline(D_dwWaveLockBoundMs));
    Sim().SetInputSource(CEmulatedWave::CountingSource());
    std::string strPath = RecordingPath();
    std::atomic<LONG> nResult{99};
    std::atomic<DWORD> dwElapsed{0};
    std::thread starter([&] {
        CStopwatch sinceStart;
        nResult = StartRecordFile(strPath.c_str());
        dwElapsed = sinceStart.ElapsedMs();
    });
    EXPECT_TRUE(WaitUntil([&] { return nResult != 99; }, 4000)) << "the start still waits";
    ReleaseWaveThread();
    starter.join();
    EXPECT_EQ(nResult, 0) << "the start behind the closing input failed";
    EXPECT_LT(dwElapsed, D_dwCloseWaitTimeout + 1000) << "the start waited past its bound";
    CaptureBuffers(2);
    Bytes file = StopAndReadRecording(strPath);
    ExpectConsistentHeader(file);
    EXPECT_EQ(SamplesOf(file), CountingSamples(2 * D_nRecordBuf)) << "only the new input's sound, nothing of the old";
}

TEST_F(FileRecordingTest, NextRecordingHoldsOnlyItsOwnSound) {
    std::string strFirst = RecordingPath() + ".first.wav";
    std::string strSecond = RecordingPath();
    ASSERT_EQ(StartRecordFile(strFirst.c_str()), 0);
    CaptureBuffers(3);
    Sim().CaptureInput(100);
    EXPECT_EQ(StopRecordFile(CDeadline(CFileJob::D_dwLockBoundMs)), 0);
    ASSERT_EQ(StartRecordFile(strSecond.c_str()), 0);
    CaptureBuffers(2);
    Bytes first = ReadWholeFile(strFirst);
    Bytes second = StopAndReadRecording(strSecond);
    EXPECT_EQ(SamplesOf(first).size(), 4 * D_nRecordBuf);
    EXPECT_EQ(SamplesOf(second), CountingSamples(2 * D_nRecordBuf)) << "the second input counts from 0 again";
}

TEST_F(FileRecordingTest, SecondStartIsRefusedAndTheRecordingGoesOn) {
    std::string strPath = RecordingPath();
    ASSERT_EQ(StartRecordFile(strPath.c_str()), 0);
    EXPECT_EQ(StartRecordFile((strPath + ".other.wav").c_str()), -1);
    CaptureBuffers(2);
    EXPECT_EQ(SamplesOf(StopAndReadRecording(strPath)), CountingSamples(2 * D_nRecordBuf));
    EXPECT_EQ(GetFileAttributesA((strPath + ".other.wav").c_str()), INVALID_FILE_ATTRIBUTES)
        << "the refused start created no file";
}

TEST_F(FileRecordingTest, StopWithoutAJobReturnsZeroAndTouchesNoDevice) {
    EXPECT_EQ(StopRecordFile(CDeadline(CFileJob::D_dwLockBoundMs)), 0);
    EXPECT_EQ(Sim().Resets(D_eIn), 0);
    EXPECT_TRUE(Sim().Opens().empty());
}

class RecordingPathTest : public FileAudioTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(RecordingPathTest, EmptyOrNullPathIsRefusedWithoutAJob) {
    EXPECT_EQ(StartRecordFile(GetParam()), -1);
    EXPECT_EQ(IsRecordingFile(), 0);
    EXPECT_TRUE(Sim().Opens().empty()) << "no input opened";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Paths, RecordingPathTest, ::testing::Values("", nullptr),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                             return std::string(info.param ? "Empty" : "Null");
                         });
// clang-format on

// A start that fails has started nothing: no job, no header-only file, and
// the next start records with no stop between.
struct FailedStart {
    const char *pszName;
    bool bMissingFolder;
    MMRESULT nInputOpen;
};
void PrintTo(const FailedStart &failure, std::ostream *pOut) { *pOut << failure.pszName; }

class FailedRecordStartTest : public FileRecordingTest, public ::testing::WithParamInterface<FailedStart> {};

TEST_P(FailedRecordStartTest, RegressionLeavesNoJobNorFileSoTheNextStartRecords) {
    std::string strPath = GetParam().bMissingFolder ? "file_audio_no_such_folder/rec.wav" : RecordingPath();
    DeleteFileA(strPath.c_str());
    Sim().RefuseOpen(D_eIn, 1, GetParam().nInputOpen);
    ASSERT_EQ(StartRecordFile(strPath.c_str()), -1);
    EXPECT_EQ(IsRecordingFile(), 0) << "a failed start left its job";
    EXPECT_EQ(GetFileAttributesA(strPath.c_str()), INVALID_FILE_ATTRIBUTES) << "a header-only file was left";
    Sim().RefuseOpen(D_eIn, 1, MMSYSERR_NOERROR);
    std::string strNext = RecordingPath() + ".next.wav";
    ASSERT_EQ(StartRecordFile(strNext.c_str()), 0) << "the next start, with no stop between";
    CaptureBuffers(1);
    EXPECT_EQ(SamplesOf(StopAndReadRecording(strNext)), CountingSamples(D_nRecordBuf));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Failures, FailedRecordStartTest,
    ::testing::Values(FailedStart{"FileInAMissingFolder", true, MMSYSERR_NOERROR},
                      FailedStart{"InputRefusesToOpen", false, MMSYSERR_ALLOCATED}),
    [](const ::testing::TestParamInfo<FailedStart> &info) { return std::string(info.param.pszName); });
// clang-format on

// Left for sox and Python's wave module: the name carries the number of
// sample bytes, the content counts from 0 (file_audio_check_written).
TEST_F(FileRecordingTest, RecordingsForOutsideReaders) {
    for (int nBuffers : {0, 1, 12}) {
        std::string strPath = std::string(D_szOursDir) + "/recording_" + std::to_string(nBuffers * D_nRecordBuf) +
                              ".wav";
        ASSERT_EQ(StartRecordFile(strPath.c_str()), 0) << strPath;
        CaptureBuffers(nBuffers);
        ExpectConsistentHeader(StopAndReadRecording(strPath));
    }
}

}  // namespace
