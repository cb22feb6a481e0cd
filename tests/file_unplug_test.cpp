// The handset unplugged while it plays, records or both: its USB audio
// device goes with its HID side. The player and the recorder give their
// usual results within their bounds, and once the handset is back the next
// playback and recording work end to end. A lost device may hand back the
// blocks it held, keep them and answer NODRIVER, or keep them and answer
// every call with success and nothing more; every case runs for each.
#include <deque>

#include "audio/FileJob.h"
#include "audio/WaveRetired.h"
#include "file_audio_support.h"
#include "hid/EmulatedHid.h"
#include "stopwatch.h"

namespace {

enum class EJobs { Playback, Recording, Both };

struct LostDevice {
    const char *pszName;
    ESimLostBlocks eBlocks;
    MMRESULT nResult;
};

void PrintTo(const LostDevice &lost, std::ostream *pOut) { *pOut << lost.pszName; }
void PrintTo(EJobs eJobs, std::ostream *pOut) { *pOut << static_cast<int>(eJobs); }

// clang-format off
const LostDevice D_LostDevices[] = {
    {"ReturnsItsBlocks", ESimLostBlocks::Returned, MMSYSERR_NODRIVER},
    {"KeepsItsBlocks", ESimLostBlocks::Kept, MMSYSERR_NODRIVER},
    {"KeepsItsBlocksAndAnswersSuccess", ESimLostBlocks::Kept, MMSYSERR_NOERROR},
};
// clang-format on

// Room for a busy machine on top of a documented bound.
const DWORD D_dwMargin = 1000;

template <class FN>
DWORD MillisecondsOf(FN fn) {
    CStopwatch sinceStart;
    fn();
    return sinceStart.ElapsedMs();
}

class FileUnplugTest : public FileAudioTest, public ::testing::WithParamInterface<std::tuple<EJobs, LostDevice>> {
protected:
    bool Plays() const { return std::get<0>(GetParam()) != EJobs::Recording; }
    bool Records() const { return std::get<0>(GetParam()) != EJobs::Playback; }
    const LostDevice &Lost() const { return std::get<1>(GetParam()); }
};

TEST_P(FileUnplugTest, UsualResultsWithinTheBoundsAndTheNextJobsWorkAfterTheReplug) {
    std::string strRecording = TestTempPath() + ".unplugged.wav";
    if (Plays()) {
        ASSERT_EQ(StartCountedPlayback(WritePrompt(CountingSamples(200000))), 0);
        PlayOneBlock();
    }
    if (Records()) {
        ASSERT_EQ(StartRecordFile(strRecording.c_str()), 0);
        CaptureBuffers(2);
    }
    Sim().SetLostDevice(Lost().eBlocks, Lost().nResult);
    CEmulatedHid::Instance().Unplug();

    if (Plays()) {
        if (Lost().eBlocks == ESimLostBlocks::Returned) {
            ExpectWithin([] { return IsPlayingFile() == 0; }, 2000,
                         "end of the playback whose blocks came back and whose refills were refused");
        } else {
            EXPECT_EQ(IsPlayingFile(), 1) << "the lost device keeps the blocks that would end the playback";
        }
        EXPECT_LT(MillisecondsOf([] { StopPlayFile(CDeadline(CFileJob::D_dwLockBoundMs)); }), D_dwMargin) << "the playback's stop waits for nothing";
        EXPECT_EQ(IsPlayingFile(), 0);
    }
    if (Records()) {
        EXPECT_EQ(IsRecordingFile(), 1) << "a recording never ends by itself";
        EXPECT_LT(MillisecondsOf([] { StopRecordFile(CDeadline(CFileJob::D_dwLockBoundMs)); }), D_dwRecordStopTimeout + D_dwMargin);
        EXPECT_EQ(IsRecordingFile(), 0);
        EXPECT_EQ(SamplesOf(ReadWholeFile(strRecording)), CountingSamples(2 * D_nRecordBuf))
            << "what was recorded before the unplug";
    }

    CEmulatedHid::Instance().Plug();
    // A device that kept its blocks gives them back late, while the next
    // jobs run: none of it may reach them.
    ExpectPlaybackAndRecordingWork([this] { Sim().ReturnLostBlocks(); });
    ExpectWithin([] { return RetiredWaveDevices() == 0; }, 2000,
                 "late notifications freeing what the lost devices held");
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<EJobs, LostDevice>> &info) {
    static const char *const apszJobs[] = {"Playing", "Recording", "PlayingAndRecording"};
    return std::string(apszJobs[static_cast<int>(std::get<0>(info.param))]) + "_" + std::get<1>(info.param).pszName;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Unplugged, FileUnplugTest,
                         ::testing::Combine(::testing::Values(EJobs::Playback, EJobs::Recording, EJobs::Both),
                                            ::testing::ValuesIn(D_LostDevices)),
                         CaseName);
// clang-format on

using FileUnplugBoundTest = FileAudioTest;

TEST_F(FileUnplugBoundTest, StartsWhileUnpluggedAnswerWithinTheirBounds) {
    // The stored ids now name other devices (the ones after the handset
    // moved down): a start opens those, as it would any device at the id.
    ASSERT_EQ(StartPlayFile(WritePrompt(CountingSamples(100000)).c_str()), 0);
    Sim().SetLostDevice(ESimLostBlocks::Kept, MMSYSERR_NOERROR);
    Sim().UnplugHandset();
    StopPlayFile(CDeadline(CFileJob::D_dwLockBoundMs));
    std::string strPrompt = WritePrompt(CountingSamples(1000));
    EXPECT_LT(MillisecondsOf([&] { StartPlayFile(strPrompt.c_str()); }), D_dwCloseWaitTimeout + D_dwMargin)
        << "a start behind an output that never closes";
    EXPECT_LT(MillisecondsOf([] { StartRecordFile(TestTempPath().c_str()); }), D_dwMargin);
    StopPlayFile(CDeadline(CFileJob::D_dwLockBoundMs));
    StopRecordFile(CDeadline(CFileJob::D_dwLockBoundMs));
    Sim().PlugHandset();
    ExpectPlaybackAndRecordingWork();
}

TEST_F(FileUnplugBoundTest, WhatLostDevicesKeepIsBoundedAndNeverReusedByTheNextRecording) {
    Sim().SetLostDevice(ESimLostBlocks::Kept, MMSYSERR_NODRIVER);
    std::deque<char *> kept;  // the pools of the devices still retired
    for (int nLoss = 0; nLoss < D_nMaxRetiredDevices + 2; ++nLoss) {
        ASSERT_EQ(StartRecordFile(TestTempPath().c_str()), 0);
        for (char *pPool : kept) EXPECT_NE(g_InWaveBuf, pPool) << "a recording got the buffers of a lost device";
        kept.push_back(g_InWaveBuf);
        if (kept.size() > static_cast<size_t>(D_nMaxRetiredDevices)) kept.pop_front();
        Sim().UnplugHandset();
        StopRecordFile(CDeadline(CFileJob::D_dwLockBoundMs));
        Sim().PlugHandset();
        EXPECT_EQ(RetiredWaveDevices(), std::min(nLoss + 1, D_nMaxRetiredDevices));
    }
    // The lost streams hold headers of forgotten devices: dropped unseen.
    Sim().Reset();
}

}  // namespace
