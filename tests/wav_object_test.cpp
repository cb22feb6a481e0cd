// Using a WaveFile wrongly: operations of the other mode, failed opens, bad
// arguments, long paths. None may touch the file or crash.
#include <gtest/gtest.h>

#include <string>

#include "audio/WaveFile.h"
#include "wav_bytes.h"

namespace {

class WavObjectTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_strPath = TestTempPath();
        m_image = CBytesBuilder().RiffFmt(1, 1, 8000, 16).DataChunk(CountingSamples(64)).Build();
        ASSERT_TRUE(WriteWholeFile(m_strPath, m_image));
    }
    void TearDown() override { remove(m_strPath.c_str()); }

    std::string m_strPath;
    Bytes m_image;
    unsigned char m_buffer[64] = {};
};

TEST_F(WavObjectTest, WriteOnAFileOpenedForReadingIsRefusedAndChangesNothing) {
    WaveFile file(m_strPath.c_str());
    ASSERT_TRUE(file.Open('r'));
    EXPECT_EQ(file.Write(m_buffer, sizeof(m_buffer)), -1);
    EXPECT_EQ(file.GetDataSize(), 64);
    file.Close();
    EXPECT_EQ(ReadWholeFile(m_strPath), m_image);
}

TEST_F(WavObjectTest, ReadOnAFileOpenedForWritingIsRefused) {
    WaveFile file(m_strPath.c_str());
    ASSERT_TRUE(file.Open('w'));
    EXPECT_EQ(file.Read(m_buffer, sizeof(m_buffer)), -1);
    file.Close();
    EXPECT_EQ(ReadWholeFile(m_strPath).size(), 44u) << "a new, empty recording";
}

TEST_F(WavObjectTest, BadBuffersAndCountsAreRefused) {
    WaveFile reader(m_strPath.c_str());
    ASSERT_TRUE(reader.Open('r'));
    EXPECT_EQ(reader.Read(nullptr, 10), -1);
    EXPECT_EQ(reader.Read(m_buffer, 0), -1);
    EXPECT_EQ(reader.Read(m_buffer, -5), -1) << "a negative count must not become a huge read";
    EXPECT_EQ(reader.Read(m_buffer, 64), 64) << "the refusals consumed nothing";
    reader.Close();

    WaveFile writer(m_strPath.c_str());
    ASSERT_TRUE(writer.Open('w'));
    EXPECT_EQ(writer.Write(nullptr, 10), -1);
    EXPECT_EQ(writer.Write(m_buffer, 0), 0);
    EXPECT_EQ(writer.Write(m_buffer, -5), 0) << "nothing written, header untouched";
    writer.Close();
    EXPECT_EQ(ReadWholeFile(m_strPath).size(), 44u);
}

TEST_F(WavObjectTest, UnknownModeOpensNothing) {
    WaveFile file(m_strPath.c_str());
    EXPECT_FALSE(file.Open('a'));
    EXPECT_EQ(file.m_pFile, nullptr);
    EXPECT_EQ(file.Read(m_buffer, 1), -1);
    EXPECT_EQ(file.Write(m_buffer, 1), -1);
    file.Close();
    EXPECT_EQ(ReadWholeFile(m_strPath), m_image);
}

// A failed open leaves the object usable for Close; everything else refuses.
class WavFailedOpenTest : public WavObjectTest, public ::testing::WithParamInterface<char> {};

TEST_P(WavFailedOpenTest, CloseAndEverythingAfterItAreHarmless) {
    WaveFile file("wav_tmp/no such folder/file.wav");
    EXPECT_FALSE(file.Open(GetParam()));
    EXPECT_EQ(file.m_bPatchHeader, GetParam() == 'w') << "Open sets the patch flag only for writing";
    file.Close();
    file.Close();
    EXPECT_EQ(file.Read(m_buffer, 1), -1);
    EXPECT_EQ(file.Write(m_buffer, 1), -1);
}

INSTANTIATE_TEST_SUITE_P(Modes, WavFailedOpenTest, ::testing::Values('r', 'w'));

TEST_F(WavObjectTest, RegressionSecondOpenReleasesTheFirstStream) {
    WaveFile file(m_strPath.c_str());
    ASSERT_TRUE(file.Open('r'));
    ASSERT_TRUE(file.Open('r'));
    file.Close();
    // Windows refuses to delete a file that a stream still holds.
    EXPECT_EQ(remove(m_strPath.c_str()), 0) << "the first stream was leaked and still holds the file";
}

class WavPathTest : public ::testing::TestWithParam<size_t> {};

TEST_P(WavPathTest, PathIsCutTo1023Characters) {
    std::string strPath(GetParam(), 'p');
    WaveFile file(strPath.c_str());
    size_t nKept = std::min<size_t>(GetParam(), 1023);
    EXPECT_EQ(std::string(file.m_szPath), strPath.substr(0, nKept));
    EXPECT_EQ(file.m_szPath[1023], '\0');
}

INSTANTIATE_TEST_SUITE_P(Lengths, WavPathTest, ::testing::Values(0, 1022, 1023, 1024, 4000));

TEST(WavPath, NullPathIsEmpty) {
    WaveFile file(nullptr);
    EXPECT_STREQ(file.m_szPath, "");
    EXPECT_FALSE(file.Open('r'));
    file.Close();
}

}  // namespace
