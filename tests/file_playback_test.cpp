// File playback against the emulated device: block sizes, the whole sample
// content reaching the earpiece byte for byte (prompts made by outside tools
// and by hand), the end of a playback heard to its end on Windows' stack and
// on Wine's, failed starts that leave no job behind, the host's stop, and a
// start right after a stop.
#include <atomic>
#include <thread>

#include "audio/FileJob.h"
#include "file_audio_support.h"
#include "stopwatch.h"

namespace {

const ESimWaveDirection D_eOut = ESimWaveDirection::Output;
const size_t D_nOpening = 40960;
const size_t D_nRefill = 10240;
const size_t D_nEndSilence = D_nPlayEndSilenceBytes;

using FilePlaybackTest = FileAudioTest;

TEST_F(FilePlaybackTest, FileOf30000BytesQueuesOneBlockThenTheEndsSilence) {
    Bytes samples = CountingSamples(30000);
    ASSERT_EQ(StartCountedPlayback(WritePrompt(samples)), 0);
    EXPECT_EQ(IsPlayingFile(), 1);
    EXPECT_EQ(Sim().QueuedBlocks(D_eOut), 1) << "one block: the second opening read finds nothing";
    PlayOneBlock();
    EXPECT_EQ(IsPlayingFile(), 1) << "the refill found the end of the file and queued the silence";
    EXPECT_EQ(Sim().QueuedBlocks(D_eOut), 1);
    PlayOneBlock();
    EXPECT_EQ(IsPlayingFile(), 0) << "the silence came back with nothing else queued";
    ExpectWithin([] { return !g_WaveOut.m_bOpen; }, 1000, "output close notification after the last block");
    EXPECT_EQ(Sim().Closes(D_eOut), 1);
    Bytes expected = samples;
    expected.resize(samples.size() + D_nEndSilence, 0x00);
    EXPECT_EQ(Sim().PlayedBytes(D_nHandsetOutId), expected) << "the samples, then 1600 bytes of 0x00";
}

TEST_F(FilePlaybackTest, TwoOpeningBlocksOf40960ThenRefillsOf10240) {
    Bytes samples = CountingSamples(2 * D_nOpening + 3 * D_nRefill + 7);
    ASSERT_EQ(StartCountedPlayback(WritePrompt(samples)), 0);
    EXPECT_EQ(Sim().QueuedBlocks(D_eOut), 2);
    const size_t expected[] = {D_nOpening, D_nOpening, D_nRefill, D_nRefill, D_nRefill, 7, D_nEndSilence};
    size_t nPlayed = 0;
    for (size_t nBlock : expected) {
        PlayOneBlock();
        size_t nNow = Sim().PlayedBytes(D_nHandsetOutId).size();
        EXPECT_EQ(nNow - nPlayed, nBlock) << "block after " << nPlayed << " bytes";
        nPlayed = nNow;
        if (nPlayed < samples.size()) {
            EXPECT_EQ(Sim().QueuedBlocks(D_eOut), 2) << "the refill keeps the queue two blocks deep";
        }
    }
    EXPECT_EQ(IsPlayingFile(), 0);
    EXPECT_TRUE(HeardWhole(samples));
}

// Where the samples end decides which block is still queued when a refill
// finds the end of the file; none of it may be cut. Under Wine the last
// block comes back while the driver still holds its end, which the end's
// reset drops: only the closing silence may go there.
struct EndCase {
    const char *pszName;
    size_t nSamples;
    ESimWaveStack eStack;
};
void PrintTo(const EndCase &endCase, std::ostream *pOut) { *pOut << endCase.nSamples << " sample bytes"; }

class PlaybackEndTest : public FileAudioTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(PlaybackEndTest, RegressionEndOfFileLetsTheQueuedBlocksPlayOut) {
    Sim().SetStack(GetParam().eStack);
    Bytes samples = CountingSamples(GetParam().nSamples);
    ASSERT_EQ(StartCountedPlayback(WritePrompt(samples)), 0);
    while (IsPlayingFile() && !HasFailure()) PlayOneBlock();
    size_t nHeard = Sim().PlayedBytes(D_nHandsetOutId).size();
    EXPECT_GE(nHeard, samples.size()) << "the job ended with " << samples.size() - std::min(nHeard, samples.size())
                                      << " sample bytes not yet heard";
    EXPECT_EQ(Sim().Resets(D_eOut), 1) << "the end's stop finds nothing left to cut";
    EXPECT_TRUE(HeardWhole(samples));
    ExpectWithin([] { return !g_WaveOut.m_bOpen; }, 1000, "output close notification at the end");
}

const ESimWaveStack D_eWindows = ESimWaveStack::Windows;
const ESimWaveStack D_eWine = ESimWaveStack::Wine;

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    WhereTheSamplesEnd, PlaybackEndTest,
    ::testing::Values(EndCase{"WithinTheFirstOpeningBlock", 1000, D_eWindows},
                      EndCase{"AtTheFirstBlocksEnd", 40960, D_eWindows},
                      EndCase{"WithinTheSecondOpeningBlock", 50000, D_eWindows},
                      EndCase{"AtTheSecondBlocksEnd", 81920, D_eWindows},
                      EndCase{"WithinARefill", 81920 + 10240 + 5000, D_eWindows},
                      EndCase{"AtARefillsEnd", 81920 + 20480, D_eWindows},
                      EndCase{"RegressionWineWithinTheFirstOpeningBlock", 1000, D_eWine},
                      EndCase{"RegressionWineShorterThanTheDriverHolds", 100, D_eWine},
                      EndCase{"RegressionWineWithinARefill", 81920 + 10240 + 5000, D_eWine}),
    [](const ::testing::TestParamInfo<EndCase> &info) { return std::string(info.param.pszName); });
// clang-format on

// Prompts made by sox and by libsndfile (a LIST chunk after the samples);
// sox's own reading of the samples is what the earpiece must get.
class OutsidePromptTest : public FileAudioTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(OutsidePromptTest, EverySampleByteReachesTheDeviceAndNothingElse) {
    std::string strDir = std::string(D_szOutsideFiles) + "/";
    Bytes expected = ReadWholeFile(strDir + "sox_prompt.raw");
    ASSERT_EQ(expected.size(), 96000u) << "6 s of 16-bit mono at 8000 Hz from sox";
    ASSERT_EQ(StartPlayFile((strDir + GetParam()).c_str()), 0);
    ASSERT_TRUE(PlayUntilTheJobEnds(5000)) << "the playback of " << GetParam() << " did not end";
    EXPECT_TRUE(HeardWhole(expected)) << "the earpiece got other bytes than sox reads";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Files, OutsidePromptTest,
                         ::testing::Values("sox_prompt.wav", "sndfile_prompt_with_list.wav"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                             std::string strName = info.param;
                             return strName.substr(0, strName.find('.'));
                         });
// clang-format on

TEST_F(FilePlaybackTest, RegressionFileWithNoSamplesFailsAndClosesTheOutputItOpened) {
    ASSERT_EQ(StartPlayFile(WritePrompt(Bytes()).c_str()), -1);
    EXPECT_EQ(IsPlayingFile(), 0) << "a failed start left its job";
    ExpectWithin([] { return !g_WaveOut.m_bOpen; }, 1000, "output close notification after the failed start");
    EXPECT_EQ(Sim().Closes(D_eOut), 1);
}

// A start that fails has started nothing: no job is left, and the next start
// works with no stop between.
enum class EPrompt { Path, Samples, NoSamples };
struct FailedPlayStart {
    const char *pszName;
    EPrompt ePrompt;
    const char *pszPath;  // for EPrompt::Path
    MMRESULT nOutputOpen;
};
void PrintTo(const FailedPlayStart &failure, std::ostream *pOut) { *pOut << failure.pszName; }

class FailedPlayStartTest : public FileAudioTest, public ::testing::WithParamInterface<FailedPlayStart> {};

TEST_P(FailedPlayStartTest, RegressionLeavesNoJobSoTheNextStartPlays) {
    Bytes samples = CountingSamples(100);
    // The case's one prompt file holds what fails first, then the next prompt.
    std::string strFailing = WritePrompt(GetParam().ePrompt == EPrompt::NoSamples ? Bytes() : samples);
    Sim().RefuseOpen(D_eOut, D_nHandsetOutId, GetParam().nOutputOpen);
    ASSERT_EQ(StartPlayFile(GetParam().ePrompt == EPrompt::Path ? GetParam().pszPath : strFailing.c_str()), -1);
    EXPECT_EQ(IsPlayingFile(), 0) << "a failed start left its job";
    Sim().RefuseOpen(D_eOut, D_nHandsetOutId, MMSYSERR_NOERROR);
    std::string strPrompt = WritePrompt(samples);
    ASSERT_EQ(StartPlayFile(strPrompt.c_str()), 0) << "the next start, with no stop between";
    ASSERT_TRUE(PlayUntilTheJobEnds(2000));
    EXPECT_TRUE(HeardWhole(samples));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Failures, FailedPlayStartTest,
    ::testing::Values(
        FailedPlayStart{"MissingFile", EPrompt::Path, "file_audio_no_such_prompt.wav", MMSYSERR_NOERROR},
        FailedPlayStart{"NullPath", EPrompt::Path, nullptr, MMSYSERR_NOERROR},
        FailedPlayStart{"FileWithNoSamples", EPrompt::NoSamples, nullptr, MMSYSERR_NOERROR},
        FailedPlayStart{"OutputRefusesToOpen", EPrompt::Samples, nullptr, MMSYSERR_ALLOCATED}),
    [](const ::testing::TestParamInfo<FailedPlayStart> &info) { return std::string(info.param.pszName); });
// clang-format on

TEST_F(FilePlaybackTest, SecondStartIsRefusedAndLeavesTheRunningPlaybackAlone) {
    Bytes samples = CountingSamples(60000);
    ASSERT_EQ(StartPlayFile(WritePrompt(samples).c_str()), 0);
    EXPECT_EQ(StartPlayFile(WritePrompt(CountingSamples(100, 7)).c_str()), -1);
    EXPECT_EQ(Sim().QueuedBlocks(D_eOut), 2);
    ASSERT_TRUE(PlayUntilTheJobEnds(2000));
    EXPECT_TRUE(HeardWhole(samples));
}

TEST_F(FilePlaybackTest, HostStopCutsAtOnceAndReturnedBlocksRefillNothing) {
    ASSERT_EQ(StartCountedPlayback(WritePrompt(CountingSamples(200000))), 0);
    PlayOneBlock();
    EXPECT_EQ(StopPlayFile(CDeadline(CFileJob::D_dwLockBoundMs)), 0);
    EXPECT_EQ(IsPlayingFile(), 0);
    ExpectWithin([] { return !g_WaveOut.m_bOpen; }, 1000, "output close notification after the stop");
    EXPECT_EQ(s_nPlayerReturns, 3) << "the two blocks the reset returned reached the player";
    EXPECT_EQ(Sim().PlayedBytes(D_nHandsetOutId).size(), D_nOpening) << "nothing played after the stop";
    EXPECT_EQ(Sim().OpenStreams(D_eOut), 0) << "no refill reopened or fed the output";
}

TEST_F(FilePlaybackTest, StopWithoutAJobReturnsZeroAndTouchesNoDevice) {
    EXPECT_EQ(StopPlayFile(CDeadline(CFileJob::D_dwLockBoundMs)), 0);
    EXPECT_EQ(IsPlayingFile(), 0);
    EXPECT_EQ(Sim().Resets(D_eOut), 0);
    EXPECT_TRUE(Sim().Opens().empty());
}

TEST_F(FilePlaybackTest, HostStopMeetingTheEndOfTheFileEndsTheJobOnce) {
    // The last block has come back but its notification waits behind a held
    // wave message thread when the host stops.
    Bytes samples = CountingSamples(1000);
    ASSERT_EQ(StartCountedPlayback(WritePrompt(samples)), 0);
    HoldWaveThread(D_eOut);
    ASSERT_EQ(Sim().PlayOutputBlocks(1), 1);
    EXPECT_EQ(StopPlayFile(CDeadline(CFileJob::D_dwLockBoundMs)), 0);
    ReleaseWaveThread();
    ExpectWithin([] { return s_nPlayerReturns == 1; }, 1000, "handling of the last block's return");
    ExpectWithin([] { return !g_WaveOut.m_bOpen; }, 1000, "output close notification");
    EXPECT_EQ(IsPlayingFile(), 0);
    EXPECT_EQ(Sim().Closes(D_eOut), 1);
    EXPECT_EQ(Sim().Resets(D_eOut), 1) << "only the host's stop reset the output";
    EXPECT_EQ(Sim().PlayedBytes(D_nHandsetOutId), samples);
}

TEST_F(FilePlaybackTest, RegressionStartRightAfterAStopWaitsForTheOldOutputInsteadOfFailing) {
    // The stopped output still owes two returned blocks to the player when
    // the next start comes; the start must neither deadlock against the
    // player's lock nor let the old blocks refill from the new file.
    ASSERT_EQ(StartPlayFile(WritePrompt(CountingSamples(200000)).c_str()), 0);
    HoldWaveThread(D_eOut);
    EXPECT_EQ(StopPlayFile(CDeadline(CFileJob::D_dwLockBoundMs)), 0);
    Bytes second = CountingSamples(50000, 100);
    std::string strSecond = WritePrompt(second);
    std::atomic<LONG> nResult{99};
    std::thread starter([&] { nResult = StartPlayFile(strSecond.c_str()); });
    Sleep(50);
    ReleaseWaveThread();
    starter.join();
    ASSERT_EQ(nResult, 0) << "the start after the stop failed";
    EXPECT_EQ(Sim().Closes(D_eOut), 1) << "the old output closed before the new one opened";
    ASSERT_TRUE(PlayUntilTheJobEnds(2000));
    EXPECT_TRUE(HeardWhole(second)) << "the new prompt, whole, and nothing else";
}

TEST_F(FilePlaybackTest, RefillRefusedByTheDeviceEndsThePlaybackInsteadOfHanging) {
    ASSERT_EQ(StartCountedPlayback(WritePrompt(CountingSamples(200000))), 0);
    Sim().RefuseWrites(MMSYSERR_NOMEM);
    PlayOneBlock();
    EXPECT_EQ(IsPlayingFile(), 1) << "the second opening block still plays";
    PlayOneBlock();
    EXPECT_EQ(IsPlayingFile(), 0) << "no block left to carry the playback on";
}

TEST_F(FilePlaybackTest, RegressionPlaybackWhoseOpeningBlocksAreAllRefusedEnds) {
    Sim().RefuseWrites(MMSYSERR_NOMEM);
    EXPECT_EQ(StartPlayFile(WritePrompt(CountingSamples(100000)).c_str()), 0) << "the file yielded sound";
    EXPECT_EQ(IsPlayingFile(), 0) << "nothing of the playback is queued, so no returned block would ever end it";
    ExpectWithin([] { return !g_WaveOut.m_bOpen; }, 1000, "output close notification");
    Sim().RefuseWrites(MMSYSERR_NOERROR);
    Bytes samples = CountingSamples(30000, 3);
    ASSERT_EQ(StartPlayFile(WritePrompt(samples).c_str()), 0);
    ASSERT_TRUE(PlayUntilTheJobEnds(2000));
    EXPECT_TRUE(HeardWhole(samples));
}

TEST_F(FilePlaybackTest, RealTimePlaybackEndsOnItsOwn) {
    Sim().SetClock(ESimWaveClock::RealTime);
    Bytes samples = CountingSamples(8000);  // 0.5 s
    CStopwatch sinceStart;
    ASSERT_EQ(StartPlayFile(WritePrompt(samples).c_str()), 0);
    ExpectWithin([] { return IsPlayingFile() == 0; }, 3000, "end of the playback");
    EXPECT_GE(sinceStart.ElapsedMs(), 400u) << "the job lasts as long as its sound";
    EXPECT_TRUE(HeardWhole(samples));
}

}  // namespace
