// The WAV reader: header checks on hand-made images, files made by outside
// tools (sox, libsndfile; made by wav_make_files.sh before this suite), where
// reads stop, and misuse of the object.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "audio/WaveFile.h"
#include "wav_bytes.h"

namespace {

// Everything a test reads from an open file, in chunks of nChunk bytes.
Bytes ReadAll(WaveFile &file, int nChunk) {
    Bytes bytes;
    std::vector<unsigned char> chunk(nChunk);
    for (int nRead; (nRead = file.Read(chunk.data(), nChunk)) > 0;) {
        EXPECT_LE(nRead, nChunk) << "Read returned more bytes than were asked for";
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + nRead);
    }
    return bytes;
}

class WavReaderTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (m_pFile) m_pFile->Close();
        m_pFile.reset();
        if (!m_strPath.empty()) remove(m_strPath.c_str());
    }

    bool OpenImage(const Bytes &image) {
        m_strPath = TestTempPath();
        EXPECT_TRUE(WriteWholeFile(m_strPath, image)) << "cannot write " << m_strPath;
        m_pFile.reset(new WaveFile(m_strPath.c_str()));
        return m_pFile->Open('r');
    }

    std::string m_strPath;
    std::unique_ptr<WaveFile> m_pFile;
};

const Bytes D_Samples = CountingSamples(8, 100);

// A format chunk, optional bytes between it and the data chunk, the samples.
std::function<Bytes()> FmtThenData(uint32_t nTag, uint32_t nChannels, uint32_t nRate, uint32_t nBits,
                                   uint32_t nFmtSize = 16, const char *pszBetween = "") {
    return [=] {
        return CBytesBuilder()
            .RiffFmt(nTag, nChannels, nRate, nBits, nFmtSize)
            .Text(pszBetween)
            .DataChunk(D_Samples)
            .Build();
    };
}

Bytes Canonical() { return FmtThenData(1, 1, 8000, 16)(); }

Bytes WithByte(Bytes image, size_t nOffset, unsigned char cValue) {
    image[nOffset] = cValue;
    return image;
}

Bytes FirstBytes(const Bytes &image, size_t nCount) { return Bytes(image.begin(), image.begin() + nCount); }

struct HeaderCase {
    const char *pszName;
    std::function<Bytes()> makeImage;
    bool bOpens;
    int nTag, nChannels, nRate, nBits;
};

void PrintTo(const HeaderCase &c, std::ostream *pOut) { *pOut << c.pszName; }

// clang-format off
const HeaderCase D_HeaderCases[] = {
    {"CanonicalPcm", FmtThenData(1, 1, 8000, 16), true, 1, 1, 8000, 16},
    {"MuLawTag7", FmtThenData(7, 1, 8000, 8), true, 7, 1, 8000, 8},
    {"NoFmtAtOffset12KeepsConstructionFormat",
     [] {
         return CBytesBuilder().Text("RIFF").Le32(0).Text("WAVEJUNK").Le32(20).Fill(20, 0)
             .DataChunk(D_Samples).Build();
     },
     true, 1, 1, 8000, 16},
    {"FourthLetterOfFmtIsNotLookedAt", [] { return WithByte(Canonical(), 15, 'X'); }, true, 1, 1, 8000, 16},
    {"EighteenByteFmtPutsDataAt38", FmtThenData(1, 1, 8000, 16, 18), true, 1, 1, 8000, 16},
    {"ListChunkBeforeData",
     [] {
         return CBytesBuilder().RiffFmt(1, 1, 8000, 16).Text("LIST").Le32(14).Text("INFOISFT")
             .Le32(2).Text("ok").DataChunk(D_Samples).Build();
     },
     true, 1, 1, 8000, 16},
    // A byte that breaks a partial match can start the tag itself.
    {"RegressionDataTagRightAfterD", FmtThenData(1, 1, 8000, 16, 16, "d"), true, 1, 1, 8000, 16},
    {"RegressionDataTagRightAfterDa", FmtThenData(1, 1, 8000, 16, 16, "da"), true, 1, 1, 8000, 16},
    {"RegressionDataTagRightAfterDat", FmtThenData(1, 1, 8000, 16, 18, "dat"), true, 1, 1, 8000, 16},

    {"EmptyFile", [] { return Bytes(); }, false, 0, 0, 0, 0},
    {"ShorterThan12Bytes", [] { return FirstBytes(Canonical(), 11); }, false, 0, 0, 0, 0},
    {"OnlyPartOfTheChunkIdAt12", [] { return FirstBytes(Canonical(), 15); }, false, 0, 0, 0, 0},
    {"RifxIsNotRiff", [] { return WithByte(Canonical(), 3, 'X'); }, false, 0, 0, 0, 0},
    {"AviIsNotWave",
     [] { return CBytesBuilder().Text("RIFF").Le32(0).Text("AVI LIST").Fill(40, 0).Build(); },
     false, 0, 0, 0, 0},
    {"ZeroChannels", FmtThenData(1, 0, 8000, 16), false, 0, 0, 0, 0},
    {"ThreeChannels", FmtThenData(1, 3, 8000, 16), false, 0, 0, 0, 0},
    {"ZeroSampleRate", FmtThenData(1, 1, 0, 16), false, 0, 0, 0, 0},
    {"FourBitsPerSample", FmtThenData(1, 1, 8000, 4), false, 0, 0, 0, 0},
    {"FmtChunkCutShort", [] { return FirstBytes(Canonical(), 30); }, false, 0, 0, 0, 0},
    {"NothingAfterOffset36", [] { return FirstBytes(Canonical(), 36); }, false, 0, 0, 0, 0},
    {"NoDataTag", [] { return CBytesBuilder().RiffFmt(1, 1, 8000, 16).Text("dat").Fill(64, 'x').Build(); },
     false, 0, 0, 0, 0},
    {"DataTagWithoutItsSize",
     [] { return CBytesBuilder().RiffFmt(1, 1, 8000, 16).Text("data").Le16(8).Build(); },
     false, 0, 0, 0, 0},
};
// clang-format on

class WavHeaderTest : public WavReaderTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(WavHeaderTest, OpenAcceptsOrRejectsTheHeader) {
    const HeaderCase &c = GetParam();
    ASSERT_EQ(OpenImage(c.makeImage()), c.bOpens) << c.pszName;
    if (!c.bOpens) return;
    EXPECT_EQ(m_pFile->m_nFormatTag, c.nTag);
    EXPECT_EQ(m_pFile->m_nChannels, c.nChannels);
    EXPECT_EQ(m_pFile->m_nSamplesPerSec, c.nRate);
    EXPECT_EQ(m_pFile->m_nBitsPerSample, c.nBits);
    EXPECT_EQ(m_pFile->GetDataSize(), static_cast<int>(D_Samples.size()));
    EXPECT_EQ(ReadAll(*m_pFile, 3), D_Samples) << "reads must start at the first byte after the data size";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Headers, WavHeaderTest, ::testing::ValuesIn(D_HeaderCases),
                         [](const auto &info) { return std::string(info.param.pszName); });
// clang-format on

// Where reads stop: at the end of a believable data chunk, else at the end of
// the file (recorders that never patched their header).
struct ExtentCase {
    const char *pszName;
    uint32_t nDeclared;
    size_t nSamples, nTrailing, nExpectedRead;
};

void PrintTo(const ExtentCase &c, std::ostream *pOut) { *pOut << c.pszName; }

// clang-format off
const ExtentCase D_ExtentCases[] = {
    {"RegressionTrailingChunkIsNotReadAsSamples", 1000, 1000, 40, 1000},
    {"DeclaredSizeShorterThanTheSamples", 500, 1000, 0, 500},
    {"DeclaredSizeExactlyToTheEnd", 1000, 1000, 0, 1000},
    {"UnpatchedZeroSizeReadsToTheEnd", 0, 1000, 40, 1040},
    {"SizePastTheEndReadsToTheEnd", 1001, 1000, 0, 1000},
    {"SizePastTheEndWithTrailerReadsAll", 5000, 1000, 40, 1040},
    {"AllBitsSetReadsToTheEnd", 0xFFFFFFFFu, 1000, 0, 1000},
};
// clang-format on

class WavExtentTest : public WavReaderTest, public ::testing::WithParamInterface<ExtentCase> {};

TEST_P(WavExtentTest, ReadsStopWhereTheSamplesEnd) {
    const ExtentCase &c = GetParam();
    Bytes samples = CountingSamples(c.nSamples);
    Bytes trailer;
    if (c.nTrailing) {
        trailer = CBytesBuilder()
                      .Text("LIST")
                      .Le32(static_cast<uint32_t>(c.nTrailing - 8))
                      .Fill(c.nTrailing - 8, 'L')
                      .Build();
    }
    ASSERT_TRUE(OpenImage(CBytesBuilder()
                              .RiffFmt(1, 1, 8000, 16)
                              .Text("data")
                              .Le32(c.nDeclared)
                              .Append(samples)
                              .Append(trailer)
                              .Build()));
    Bytes expected = samples;
    expected.insert(expected.end(), trailer.begin(), trailer.end());
    expected.resize(c.nExpectedRead);
    // 7 does not divide any of the sizes, so the last read is cut short.
    EXPECT_EQ(ReadAll(*m_pFile, 7), expected) << c.pszName;
    char cByte;
    EXPECT_EQ(m_pFile->Read(&cByte, 1), 0) << "a read after the end must return 0 again";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Extents, WavExtentTest, ::testing::ValuesIn(D_ExtentCases),
                         [](const auto &info) { return std::string(info.param.pszName); });
// clang-format on

// Files made by sox and libsndfile: the reader must take what they write.
struct OutsideCase {
    const char *pszFile;
    bool bOpens;
    int nTag, nChannels, nRate, nBits, nDataBytes;
};

void PrintTo(const OutsideCase &c, std::ostream *pOut) { *pOut << c.pszFile; }

// clang-format off
const OutsideCase D_OutsideCases[] = {
    {"sox_pcm16_mono_8k", true, 1, 1, 8000, 16, 1600},
    {"sox_pcm8_mono_8k", true, 1, 1, 8000, 8, 800},
    {"sox_pcm16_stereo_8k", true, 1, 2, 8000, 16, 3200},
    {"sox_pcm16_mono_44k", true, 1, 1, 44100, 16, 8820},
    {"sox_extensible_pcm24_stereo_44k", true, 0xFFFE, 2, 44100, 24, 26460},
    {"sox_ulaw_mono_8k", true, 7, 1, 8000, 8, 800},
    {"sox_alaw_mono_8k", true, 6, 1, 8000, 8, 800},
    {"sox_float32_mono_8k", true, 3, 1, 8000, 32, 3200},
    {"sox_pcm16_quad_8k", false, 0, 0, 0, 0, 0},
    {"sndfile_trailing_list", true, 1, 1, 8000, 16, 1600},
};
// clang-format on

class WavOutsideFileTest : public ::testing::TestWithParam<OutsideCase> {};

// The samples of a file as an independent look at its bytes finds them.
Bytes SamplesAsStored(const Bytes &image, size_t nCount) {
    static const unsigned char tag[] = {'d', 'a', 't', 'a'};
    auto it = std::search(image.begin() + 36, image.end(), tag, tag + 4);
    if (image.end() - it < static_cast<long>(8 + nCount)) return Bytes();
    return Bytes(it + 8, it + 8 + nCount);
}

TEST_P(WavOutsideFileTest, ReaderTakesTheFileAsWritten) {
    const OutsideCase &c = GetParam();
    std::string strPath = std::string("wav_data/") + c.pszFile + ".wav";
    Bytes image = ReadWholeFile(strPath);
    ASSERT_FALSE(image.empty()) << strPath << " missing: wav_make_files.sh must run first";
    WaveFile file(strPath.c_str());
    bool bOpened = file.Open('r');
    EXPECT_EQ(bOpened, c.bOpens) << strPath;
    if (bOpened && c.bOpens) {
        EXPECT_EQ(file.m_nFormatTag, c.nTag);
        EXPECT_EQ(file.m_nChannels, c.nChannels);
        EXPECT_EQ(file.m_nSamplesPerSec, c.nRate);
        EXPECT_EQ(file.m_nBitsPerSample, c.nBits);
        EXPECT_EQ(file.GetDataSize(), c.nDataBytes);
        EXPECT_EQ(ReadAll(file, 1280), SamplesAsStored(image, c.nDataBytes))
            << "the data chunk's bytes, exactly and nothing after them";
    }
    file.Close();
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(OutsideTools, WavOutsideFileTest, ::testing::ValuesIn(D_OutsideCases),
                         [](const auto &info) { return std::string(info.param.pszFile); });
// clang-format on

}  // namespace
