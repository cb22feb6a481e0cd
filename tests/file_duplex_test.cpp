// Playback and recording together on the emulated device: the two jobs run
// independently, and stopping either leaves the other running to its end.
#include "audio/FileJob.h"
#include "file_audio_support.h"

namespace {

class FileDuplexTest : public FileAudioTest, public ::testing::WithParamInterface<bool> {
protected:
    bool StopPlaybackFirst() const { return GetParam(); }
};

TEST_P(FileDuplexTest, StoppingOneJobLeavesTheOtherRunning) {
    Bytes prompt = CountingSamples(100000, 50);
    std::string strRecording = TestTempPath() + ".rec.wav";
    ASSERT_EQ(StartCountedPlayback(WritePrompt(prompt)), 0);
    ASSERT_EQ(StartRecordFile(strRecording.c_str()), 0);
    PlayOneBlock();
    CaptureBuffers(4);

    if (StopPlaybackFirst()) {
        EXPECT_EQ(StopPlayFile(CDeadline(CFileJob::D_dwLockBoundMs)), 0);
        EXPECT_EQ(IsRecordingFile(), 1);
        CaptureBuffers(4);
        EXPECT_EQ(Sim().Resets(ESimWaveDirection::Input), 0) << "the input was not touched";
        EXPECT_EQ(SamplesOf(StopAndReadRecording(strRecording)), CountingSamples(8 * D_nRecordBuf));
    } else {
        EXPECT_EQ(SamplesOf(StopAndReadRecording(strRecording)), CountingSamples(4 * D_nRecordBuf));
        EXPECT_EQ(IsPlayingFile(), 1);
        EXPECT_EQ(Sim().Resets(ESimWaveDirection::Output), 0) << "the output was not touched";
        ASSERT_TRUE(PlayUntilTheJobEnds(2000));
        EXPECT_TRUE(HeardWhole(prompt));
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(WhichStopsFirst, FileDuplexTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return std::string(info.param ? "PlaybackStopsFirst" : "RecordingStopsFirst");
                         });
// clang-format on

}  // namespace
