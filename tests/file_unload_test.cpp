// The library's unload while the host goes on, with a playback and a
// recording running: both devices are closed and the recording's last
// buffers are in the file before its header is closed.
#include "core/PluginLifecycle.h"
#include "file_audio_support.h"

namespace {

class FileUnloadTest : public FileAudioTest {};

TEST_F(FileUnloadTest, RegressionUnloadDuringJobsClosesDevicesAndKeepsTheRecording) {
    std::string strRecording = TestTempPath();
    ASSERT_EQ(StartPlayFile(WritePrompt(CountingSamples(100000)).c_str()), 0);
    ASSERT_EQ(StartRecordFile(strRecording.c_str()), 0);
    CaptureBuffers(2);
    ASSERT_EQ(Sim().CaptureInput(300), 300u);

    PluginDetach(false);

    EXPECT_EQ(IsPlayingFile(), 0);
    EXPECT_EQ(IsRecordingFile(), 0);
    EXPECT_EQ(Sim().OpenStreams(ESimWaveDirection::Output), 0) << "the output left open at unload";
    EXPECT_EQ(Sim().OpenStreams(ESimWaveDirection::Input), 0) << "the input left open at unload";
    Bytes expected = CountingSamples(2 * D_nRecordBuf + 300);
    expected.resize(3 * D_nRecordBuf, 0x00);
    Bytes file = ReadWholeFile(strRecording);
    EXPECT_EQ(SamplesOf(file), expected) << "two buffers and the partial third, padded, before the header closed";
    ASSERT_GE(file.size(), 44u);
    EXPECT_EQ(Le32At(file, 40), file.size() - 44) << "data size at offset 40";
}

}  // namespace
