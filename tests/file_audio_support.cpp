// Shared by the file playback and recording suites: see file_audio_support.h.
#include "file_audio_support.h"

#include <algorithm>

#include "audio/FileJob.h"
#include "stopwatch.h"

const char D_szOutsideFiles[] = "file_audio_data";
const char D_szOursDir[] = "file_audio_data/ours";

std::atomic<LONG> FileAudioTest::s_nPlayerReturns{0};

namespace {

const DWORD D_dwHandledTimeout = 2000;

int CountingPlayBlockDone(const char *pBytes, int nLength) {
    int nResult = PlayBlockDone(pBytes, nLength);
    ++FileAudioTest::s_nPlayerReturns;
    return nResult;
}

}  // namespace

void FileAudioTest::SetUp() {
    AudioDeviceTest::SetUp();
    Sim().SetInputSource(CEmulatedWave::CountingSource());
    s_nPlayerReturns = 0;
}

void FileAudioTest::TearDown() {
    StopPlayFile(CDeadline(CFileJob::D_dwLockBoundMs));
    StopRecordFile(CDeadline(CFileJob::D_dwLockBoundMs));
    EXPECT_EQ(IsPlayingFile(), 0);
    EXPECT_EQ(IsRecordingFile(), 0);
    AudioDeviceTest::TearDown();
}

std::string FileAudioTest::WritePrompt(const Bytes &samples, const Bytes &trailing) {
    std::string strPath = TestTempPath();
    Bytes image = CBytesBuilder().RiffFmt(1, 1, 8000, 16).DataChunk(samples).Append(trailing).Build();
    EXPECT_TRUE(WriteWholeFile(strPath, image)) << "cannot write the prompt " << strPath;
    return strPath;
}

int FileAudioTest::StartCountedPlayback(const std::string &strPath) {
    int nResult = StartPlayFile(strPath.c_str());
    EXPECT_EQ(g_pfnWaveOutDone, &PlayBlockDone) << "the start installs the player as the output's sink";
    g_pfnWaveOutDone = CountingPlayBlockDone;
    return nResult;
}

bool FileAudioTest::PlayUntilTheJobEnds(DWORD dwMilliseconds) {
    return WaitUntil(
        [this] {
            if (!IsPlayingFile()) return true;
            Sim().PlayOutputBlocks(1);
            return false;
        },
        dwMilliseconds);
}

void FileAudioTest::PlayOneBlock() {
    LONG nBefore = s_nPlayerReturns;
    ASSERT_EQ(Sim().PlayOutputBlocks(1), 1) << "a queued block to play";
    ExpectWithin([nBefore] { return s_nPlayerReturns > nBefore; }, D_dwHandledTimeout,
                 "handling of the returned block by the player");
}

void FileAudioTest::CaptureBuffers(int nBuffers) {
    for (int nLeft = nBuffers; nLeft > 0;) {
        int nRound = std::min(nLeft, 4);
        ASSERT_EQ(Sim().CaptureInput(nRound * D_nRecordBuf), nRound * D_nRecordBuf)
            << "four input buffers queued to take the capture";
        ExpectWithin([this] { return Sim().QueuedBlocks(ESimWaveDirection::Input) == 4; }, D_dwHandledTimeout,
                     "data notifications handled and buffers queued again");
        nLeft -= nRound;
    }
}

Bytes FileAudioTest::StopAndReadRecording(const std::string &strPath) {
    EXPECT_EQ(StopRecordFile(CDeadline(CFileJob::D_dwLockBoundMs)), 0);
    EXPECT_EQ(IsRecordingFile(), 0);
    return ReadWholeFile(strPath);
}

void FileAudioTest::ExpectPlaybackAndRecordingWork(const std::function<void()> &fnWhileRunning) {
    Bytes prompt = CountingSamples(30000, 17);
    std::string strPrompt = WritePrompt(prompt);
    std::string strRecording = TestTempPath() + ".next.wav";
    size_t nPlayedBefore = Sim().PlayedBytes(D_nHandsetOutId).size();
    CStopwatch sinceStart;
    ASSERT_EQ(StartPlayFile(strPrompt.c_str()), 0) << "the next playback";
    ASSERT_EQ(StartRecordFile(strRecording.c_str()), 0) << "the next recording";
    // Each start may wait once for a device that no longer answers.
    EXPECT_LT(sinceStart.ElapsedMs(), 2 * D_dwCloseWaitTimeout + 1000) << "the next starts waited past their bounds";
    EXPECT_EQ(g_WaveOut.m_nDevice, D_nHandsetOutId) << "the next playback is not on the handset";
    EXPECT_EQ(g_WaveIn.m_nDevice, D_nHandsetInId) << "the next recording is not from the handset";
    fnWhileRunning();
    ASSERT_TRUE(PlayUntilTheJobEnds(3000)) << "the next playback did not end";
    CaptureBuffers(3);
    EXPECT_TRUE(HeardWhole(prompt, nPlayedBefore)) << "the next prompt, whole, and nothing else on the earpiece";
    EXPECT_EQ(SamplesOf(StopAndReadRecording(strRecording)), CountingSamples(3 * D_nRecordBuf))
        << "the next recording holds its own sound only";
}

::testing::AssertionResult HeardWhole(const Bytes &samples, size_t nFrom) {
    Bytes heard = CEmulatedWave::Instance().PlayedBytes(D_nHandsetOutId);
    heard.erase(heard.begin(), heard.begin() + static_cast<std::ptrdiff_t>(std::min(nFrom, heard.size())));
    if (CEmulatedWave::IsWholeThenSilence(heard, samples.data(), samples.size(), D_nPlayEndSilenceBytes))
        return ::testing::AssertionSuccess();
    size_t nSame = 0;
    while (nSame < heard.size() && nSame < samples.size() && heard[nSame] == samples[nSame]) ++nSame;
    return ::testing::AssertionFailure() << "the earpiece heard " << heard.size() << " bytes for a prompt of "
                                         << samples.size() << " sample bytes, the first " << nSame
                                         << " of them in place; expected the prompt whole, then at most "
                                         << D_nPlayEndSilenceBytes << " bytes of silence";
}

Bytes SamplesOf(const Bytes &file) {
    if (file.size() <= 44) return Bytes();
    return Bytes(file.begin() + 44, file.end());
}
