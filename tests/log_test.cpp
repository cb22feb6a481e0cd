// The dated diagnostic log: file choice at load, line framing, limits,
// roll-over and concurrent writers. Every case works on real files in the
// test executable's folder (the log's folder), which no other suite shares.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "log_files.h"
#include "support/LogReporter.h"

namespace {

using namespace logfiles;

class LogFolderTest : public ::testing::Test {
protected:
    void SetUp() override { RemoveLogEntries(); }
    void TearDown() override { RemoveLogEntries(); }

    // Waits until the local timestamp differs from strTime, so that a file
    // started now gets a name of its own.
    static void WaitForNextSecond(const std::string &strTime) {
        for (int i = 0; i < 150 && LocalTimestamp() == strTime; ++i) Sleep(10);
        ASSERT_NE(LocalTimestamp(), strTime) << "the local clock did not move on";
    }
};

// ---------------------------------------------------------------- framing

TEST_F(LogFolderTest, FirstLoadCreatesATimestampedFileWithAFramedFirstLine) {
    std::string strBefore = LocalTimestamp();
    CLogReporter log;
    EXPECT_EQ(log.Open("halvex", "_", true), 1);
    log.WriteLog(CDeadline(D_dwLogLockMs), "HalvexV4 BRAVIK32.dll Log Started");
    std::string strAfter = LocalTimestamp();

    std::vector<std::string> files = LogFiles();
    ASSERT_EQ(files.size(), 1u);
    const std::string &strName = files[0];
    ASSERT_EQ(strName.size(), 7u + 14u + 4u) << "expected halvex_<14 digits>.log, got " << strName;
    std::string strStamp = strName.substr(7, 14);
    EXPECT_TRUE(strStamp >= strBefore && strStamp <= strAfter) << strName;
    EXPECT_EQ(strName.substr(21), ".log");

    std::string strBytes = ReadBytes(strName);
    ASSERT_EQ(strBytes.size(), 14u + 1u + 33u + 3u) << strBytes;
    EXPECT_EQ(strBytes.substr(14), "\tHalvexV4 BRAVIK32.dll Log Started \r\n");
    std::string strLineStamp = strBytes.substr(0, 14);
    EXPECT_TRUE(strLineStamp >= strBefore && strLineStamp <= strAfter) << strBytes;
}

TEST_F(LogFolderTest, FormatArgumentsAreWrittenAsTheFormatSays) {
    CLogReporter log;
    log.Open("halvex", "_", false);
    log.WriteLog(CDeadline(D_dwLogLockMs), "TV_ConnectTo :%d %d", 1, 2);
    log.WriteLog(CDeadline(D_dwLogLockMs), "CT_GetDTMFStr :%s", "12#*");
    const char *szNoFormat = nullptr;
    log.WriteLog(CDeadline(D_dwLogLockMs), szNoFormat);
    std::vector<std::string> lines = ReadLines(LogFiles().at(0));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(MessageOf(lines[0]), "TV_ConnectTo :1 2");
    EXPECT_EQ(MessageOf(lines[1]), "CT_GetDTMFStr :12#*");
    EXPECT_EQ(MessageOf(lines[2]), "(null)") << "a null format must not be dereferenced";
}

TEST_F(LogFolderTest, GbkMessageBytesAreWrittenUnchanged) {
    const wchar_t *wszText = L"打开设备失败，找不到话机";
    char szGbk[128] = {};
    ASSERT_GT(WideCharToMultiByte(936, 0, wszText, -1, szGbk, sizeof szGbk, nullptr, nullptr), 0);
    CLogReporter log;
    log.Open("halvex", "_", false);
    log.WriteLog(CDeadline(D_dwLogLockMs), "%s", szGbk);
    std::string strMessage = MessageOf(ReadLines(LogFiles().at(0)).at(0));
    wchar_t wszRead[128] = {};
    MultiByteToWideChar(936, 0, strMessage.c_str(), -1, wszRead, 128);
    EXPECT_STREQ(wszRead, wszText) << "expected the GBK bytes in the file, unconverted, no BOM";
    EXPECT_TRUE(isdigit(static_cast<unsigned char>(ReadBytes(LogFiles().at(0)).at(0))))
        << "the file must begin with the timestamp, no byte-order mark";
}

// A message longer than the line buffer allows is cut to whole characters,
// and the line keeps its framing.
struct LongMessageCase {
    const char *szName;
    size_t nAsciiBytes;
    bool bGbkTail;      // a two-byte character after the ASCII bytes
    size_t nKeptBytes;  // message bytes expected in the line
};

void PrintTo(const LongMessageCase &c, std::ostream *os) { *os << c.szName; }

class LongMessage : public LogFolderTest, public ::testing::WithParamInterface<LongMessageCase> {};

TEST_P(LongMessage, IsCutSafely) {
    const LongMessageCase &c = GetParam();
    std::string strMessage(c.nAsciiBytes, 'm');
    if (c.bGbkTail) strMessage += "\xB5\xE7";  // a GBK character
    CLogReporter log;
    log.Open("halvex", "_", false);
    log.WriteLog(CDeadline(D_dwLogLockMs), "%s", strMessage.c_str());
    std::vector<std::string> lines = ReadLines(LogFiles().at(0));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), strMessage.substr(0, c.nKeptBytes));
    EXPECT_LE(lines[0].size(), 255u) << "the line buffer holds 255 characters and its NUL";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Lengths, LongMessage,
    ::testing::Values(LongMessageCase{"Empty", 0, false, 0},
                      LongMessageCase{"Fits239", 239, false, 239},
                      LongMessageCase{"CutAt240", 240, false, 239},
                      LongMessageCase{"CutFarBeyondTheBuffer", 1000, false, 239},
                      LongMessageCase{"GbkCharacterEndingAt239Fits", 237, true, 239},
                      LongMessageCase{"GbkCharacterAcrossTheCutIsDropped", 238, true, 238}),
    [](const ::testing::TestParamInfo<LongMessageCase> &info) { return info.param.szName; });
// clang-format on

// ------------------------------------------------------ which file at load

// One existing file with a number of whole lines (or one overlong line):
// continued or not, and the count it leaves.
struct ExistingFileCase {
    const char *szName;
    long nLines;
    size_t nLineLength;
    bool bContinued;
    long lCountAfterOpen;
};

void PrintTo(const ExistingFileCase &c, std::ostream *os) { *os << c.szName; }

class ExistingFile : public LogFolderTest, public ::testing::WithParamInterface<ExistingFileCase> {};

TEST_P(ExistingFile, IsContinuedUnlessFull) {
    const ExistingFileCase &c = GetParam();
    const std::string strOld = "halvex_20200101000000.log";
    MakeLogFile(strOld, c.nLines, LocalToFileTime(2020, 1, 1, 0, 0, 0), std::string(c.nLineLength, 'x'));
    CLogReporter log;
    log.Open("halvex", "_", true);
    EXPECT_EQ(log.LineCount(), c.lCountAfterOpen);
    log.WriteLog(CDeadline(D_dwLogLockMs), "after load");

    std::vector<std::string> files = LogFiles();
    if (c.bContinued) {
        ASSERT_EQ(files.size(), 1u) << "expected the existing file to be continued";
        std::vector<std::string> lines = ReadLines(strOld);
        ASSERT_EQ(lines.size(), static_cast<size_t>(c.nLines + 1));
        EXPECT_EQ(MessageOf(lines.back()), "after load");
    } else {
        ASSERT_EQ(files.size(), 2u) << "expected a new file beside the full one";
        EXPECT_EQ(ReadLines(strOld).size(), static_cast<size_t>(c.nLines));
        EXPECT_EQ(MessageOf(ReadLines(files[1]).at(0)), "after load");
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Sizes, ExistingFile,
    ::testing::Values(ExistingFileCase{"Empty", 0, 1, true, 1},
                      ExistingFileCase{"TenLines", 10, 40, true, 11},
                      ExistingFileCase{"LongestReadableLine", 3, 1023, true, 4},
                      ExistingFileCase{"LineTooLongToRead", 3, 1024, false, 0},
                      ExistingFileCase{"FullAt99999Lines", 99999, 1, false, 0}),
    [](const ::testing::TestParamInfo<ExistingFileCase> &info) { return info.param.szName; });
// clang-format on

TEST_F(LogFolderTest, FileOf99998LinesTakesOneLineAndTheNextStartsANewFile) {
    const std::string strOld = "halvex_20200101000000.log";
    MakeLogFile(strOld, 99998, LocalToFileTime(2020, 1, 1, 0, 0, 0));
    CLogReporter log;
    log.Open("halvex", "_", true);
    ASSERT_EQ(log.LineCount(), 99999);
    log.WriteLog(CDeadline(D_dwLogLockMs), "line 100000 of the count");
    EXPECT_EQ(log.LineCount(), 0);
    log.WriteLog(CDeadline(D_dwLogLockMs), "second line of the new file");
    EXPECT_EQ(log.LineCount(), 1);

    std::vector<std::string> files = LogFiles();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(ReadLines(strOld).size(), 99998u) << "the old file must not grow at the limit";
    std::vector<std::string> lines = ReadLines(files[1]);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(MessageOf(lines[0]), "line 100000 of the count");
}

// Two or more entries beginning with the prefix: the newest file created
// after the floor is continued, whatever its name.
struct CandidateCase {
    const char *szName;
    const char *szFirst;
    FILETIME ftFirst;
    const char *szSecond;  // nullptr: only one file
    FILETIME ftSecond;
    const char *szContinued;  // nullptr: a new file is started
};

void PrintTo(const CandidateCase &c, std::ostream *os) { *os << c.szName; }

class Candidates : public LogFolderTest, public ::testing::WithParamInterface<CandidateCase> {};

TEST_P(Candidates, NewestAfterTheFloorIsContinued) {
    const CandidateCase &c = GetParam();
    MakeLogFile(c.szFirst, 3, c.ftFirst);
    if (c.szSecond) MakeLogFile(c.szSecond, 5, c.ftSecond);
    CreateDirectoryA((LogFolder() + "halvex_20990101000000.log").c_str(), nullptr);

    CLogReporter log;
    log.Open("halvex", "_", true);
    log.WriteLog(CDeadline(D_dwLogLockMs), "marker");
    std::vector<std::string> files = LogFiles();
    size_t nBefore = c.szSecond ? 2u : 1u;
    if (c.szContinued) {
        ASSERT_EQ(files.size(), nBefore) << "expected " << c.szContinued << " to be continued";
        EXPECT_EQ(MessageOf(ReadLines(c.szContinued).back()), "marker") << c.szContinued;
    } else {
        ASSERT_EQ(files.size(), nBefore + 1) << "expected a new file";
        EXPECT_EQ(ReadLines(files.back()).size(), 1u);
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Files, Candidates,
    ::testing::Values(
        CandidateCase{"LaterCreationWinsOverLaterName", "halvex_20230101000000.log",
                      LocalToFileTime(2021, 5, 1, 8, 0, 0), "halvex_20210101000000.log",
                      LocalToFileTime(2022, 5, 1, 8, 0, 0), "halvex_20210101000000.log"},
        CandidateCase{"OtherExtensionIsACandidate", "halvex_20220101000000.log",
                      LocalToFileTime(2022, 1, 1, 0, 0, 0), "halvex_old.txt",
                      LocalToFileTime(2023, 1, 1, 0, 0, 0), "halvex_old.txt"},
        CandidateCase{"FileFrom1999IsNeverContinued", "halvex_19990101000000.log",
                      LocalToFileTime(1999, 12, 31, 23, 0, 0), nullptr, {}, nullptr},
        CandidateCase{"FileAtTheFloorIsNeverContinued", "halvex_20000201010101.log",
                      LocalToFileTime(2000, 2, 1, 1, 1, 1), nullptr, {}, nullptr},
        CandidateCase{"FileJustAfterTheFloorIsContinued", "halvex_20000201010102.log",
                      LocalToFileTime(2000, 2, 1, 1, 1, 2), nullptr, {}, "halvex_20000201010102.log"},
        CandidateCase{"DirectoryWithThePrefixIsIgnored", "halvex_20200101000000.log",
                      LocalToFileTime(2020, 1, 1, 0, 0, 0), nullptr, {}, "halvex_20200101000000.log"}),
    [](const ::testing::TestParamInfo<CandidateCase> &info) { return info.param.szName; });
// clang-format on

// Support staff read and copy the log while the host runs: both the
// candidate's count and the writes must work beside other openers.
TEST_F(LogFolderTest, FilesAreSharedWithOtherOpenersForReadingAndWriting) {
    const std::string strOld = "halvex_20200101000000.log";
    MakeLogFile(strOld, 10, LocalToFileTime(2020, 1, 1, 0, 0, 0));
    HANDLE hOther = CreateFileA((LogFolder() + strOld).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hOther, INVALID_HANDLE_VALUE);
    CLogReporter log;
    log.Open("halvex", "_", true);
    EXPECT_EQ(log.LineCount(), 11) << "the candidate must be read with deny-none sharing";
    log.WriteLog(CDeadline(D_dwLogLockMs), "while shared");
    CloseHandle(hOther);
    EXPECT_EQ(ReadLines(strOld).size(), 11u) << "the line must be written beside the other opener";
    hOther = CreateFileA((LogFolder() + strOld).c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(hOther, INVALID_HANDLE_VALUE) << "the open log must deny nothing to other openers";
    if (hOther != INVALID_HANDLE_VALUE) CloseHandle(hOther);
}

// -------------------------------------------------------------- roll-over

TEST_F(LogFolderTest, RollOverPutsTheLineAtTheLimitFirstInTheNewFile) {
    const long lLimit = 5;
    CLogReporter log(lLimit);
    log.Open("halvex", "_", true);
    std::string strFirstStamp = LocalTimestamp();
    for (int i = 1; i < lLimit; ++i) log.WriteLog(CDeadline(D_dwLogLockMs), "line %d", i);
    WaitForNextSecond(strFirstStamp);
    std::string strSecondStamp = LocalTimestamp();
    log.WriteLog(CDeadline(D_dwLogLockMs), "line %d", 5);
    EXPECT_EQ(log.LineCount(), 0);
    for (int i = 6; i < 2 * lLimit; ++i) log.WriteLog(CDeadline(D_dwLogLockMs), "line %d", i);
    WaitForNextSecond(strSecondStamp);
    log.WriteLog(CDeadline(D_dwLogLockMs), "line %d", 10);

    std::vector<std::string> files = LogFiles();
    ASSERT_EQ(files.size(), 3u);
    std::vector<std::string> first = ReadLines(files[0]), second = ReadLines(files[1]);
    ASSERT_EQ(first.size(), static_cast<size_t>(lLimit - 1)) << "a file started at load";
    ASSERT_EQ(second.size(), static_cast<size_t>(lLimit)) << "a file started by a roll-over";
    EXPECT_EQ(MessageOf(first.back()), "line 4");
    EXPECT_EQ(MessageOf(second.front()), "line 5");
    EXPECT_EQ(MessageOf(ReadLines(files[2]).at(0)), "line 10");
}

TEST_F(LogFolderTest, ConcurrentWritersNeverInterleaveOrLoseLines) {
    const long lLimit = 50;
    const int nThreads = 4, nLinesEach = 302;
    CLogReporter log(lLimit);
    log.Open("halvex", "_", true);
    std::vector<std::thread> writers;
    const std::string strPadding(120, 'p');
    for (int t = 0; t < nThreads; ++t) {
        writers.emplace_back([&log, &strPadding, t] {
            for (int i = 0; i < nLinesEach; ++i) log.WriteLog(CDeadline(D_dwLogLockMs), "T%d L%04d %s", t, i, strPadding.c_str());
        });
    }
    for (std::thread &writer : writers) writer.join();

    // Roll-overs within one second reopen the same name; across files and
    // within them the lines must still come in each writer's order.
    std::vector<int> nextOf(nThreads, 0);
    size_t nTotal = 0;
    for (const std::string &strFile : LogFiles()) {
        for (const std::string &strLine : ReadLines(strFile)) {
            int t = -1, i = -1;
            char szPadding[200] = {};
            std::string strMessage = MessageOf(strLine);
            ASSERT_EQ(sscanf(strMessage.c_str(), "T%d L%d %199s", &t, &i, szPadding), 3) << strLine;
            ASSERT_TRUE(t >= 0 && t < nThreads) << strLine;
            EXPECT_EQ(i, nextOf[t]) << "writer " << t << " lost or reordered a line: " << strLine;
            EXPECT_EQ(strPadding, szPadding) << "line cut or interleaved: " << strLine;
            nextOf[t] = i + 1;
            ++nTotal;
        }
    }
    EXPECT_EQ(nTotal, static_cast<size_t>(nThreads * nLinesEach));
    EXPECT_EQ(log.LineCount(), (nThreads * nLinesEach) % lLimit) << "every line counted once";
}

// A writer that writes lines until it is ended, and one that writes one
// line. Nothing but WriteLog runs in the loop: the writer must be ended
// inside the log, not inside an allocation of its own.
struct LogWriter {
    CLogReporter *pLog;
    HANDLE hWriting;
    const char *szPadding;
    static DWORD WINAPI WriteForEver(LPVOID lpWriter) {
        LogWriter *pWriter = static_cast<LogWriter *>(lpWriter);
        for (int i = 0;; ++i) {
            pWriter->pLog->WriteLog(CDeadline(D_dwLogLockMs), "writer line %d %s", i, pWriter->szPadding);
            if (i == 0) SetEvent(pWriter->hWriting);
        }
    }
    static DWORD WINAPI WriteOnce(LPVOID lpWriter) {
        static_cast<LogWriter *>(lpWriter)->pLog->WriteLog(CDeadline(D_dwLogLockMs), "after the end of a writer");
        return 0;
    }
    static DWORD WINAPI CloseLog(LPVOID lpWriter) { return static_cast<LogWriter *>(lpWriter)->pLog->Close(CDeadline(D_dwLogLockMs)); }
};

bool RunsWithin(LPTHREAD_START_ROUTINE pfnBody, LogWriter &writer, DWORD dwBoundMs) {
    HANDLE hThread = CreateThread(nullptr, 0, pfnBody, &writer, 0, nullptr);
    const bool bDone = hThread && WaitForSingleObject(hThread, dwBoundMs) == WAIT_OBJECT_0;
    if (hThread) CloseHandle(hThread);
    return bDone;
}

// Fault "Unload can freeze the host": a writer ended by force while it held
// the log's lock (the link thread, at unload) left the lock, and the C
// library stream's own lock, owned by a dead thread; the detach step then
// waited for ever to write "Log Exited". Writers ended at random moments of
// their lines: every later line and the Close still complete, lines whole.
TEST_F(LogFolderTest, RegressionUnloadCanFreezeTheHostWriterEndedInsideALine) {
    CLogReporter log;
    log.Open("halvex", "_", true);
    const std::string strPadding(100, 'w');
    LogWriter writer{&log, CreateEventA(nullptr, TRUE, FALSE, nullptr), strPadding.c_str()};
    const DWORD dwBoundMs = 5000;
    for (int nEnded = 0; nEnded < 40; ++nEnded) {
        ResetEvent(writer.hWriting);
        HANDLE hWriter = CreateThread(nullptr, 0, LogWriter::WriteForEver, &writer, 0, nullptr);
        ASSERT_NE(hWriter, nullptr);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(writer.hWriting, dwBoundMs)) << "the writer did not write";
        TerminateThread(hWriter, 0);
        WaitForSingleObject(hWriter, dwBoundMs);
        CloseHandle(hWriter);
        ASSERT_TRUE(RunsWithin(LogWriter::WriteOnce, writer, dwBoundMs))
            << "a line after writer " << nEnded << " was ended waits for ever";
    }
    ASSERT_TRUE(RunsWithin(LogWriter::CloseLog, writer, dwBoundMs)) << "the Close waits for ever";
    CloseHandle(writer.hWriting);
    for (const std::string &strFile : LogFiles()) {
        for (const std::string &strLine : ReadLines(strFile)) {
            const std::string strMessage = MessageOf(strLine);
            EXPECT_TRUE(
                strMessage == "after the end of a writer" ||
                (strMessage.compare(0, 12, "writer line ") == 0 && strMessage.size() > 100 && strMessage.back() == 'w'))
                << "a line cut by the end of its writer: " << strLine;
        }
    }
}

// -------------------------------------------------- before Open, after Close

TEST_F(LogFolderTest, AfterCloseNothingIsWrittenNotEvenAtTheLimit) {
    CLogReporter log(3);
    log.Open("halvex", "_", true);
    log.WriteLog(CDeadline(D_dwLogLockMs), "HalvexV4 BRAVIK32.dll Log Exited");
    EXPECT_EQ(log.Close(CDeadline(D_dwLogLockMs)), 1);
    for (int i = 0; i < 7; ++i) log.WriteLog(CDeadline(D_dwLogLockMs), "after close %d", i);
    std::vector<std::string> files = LogFiles();
    ASSERT_EQ(files.size(), 1u) << "a roll-over after Close must not create a file";
    std::vector<std::string> lines = ReadLines(files[0]);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), "HalvexV4 BRAVIK32.dll Log Exited");
}

TEST_F(LogFolderTest, BeforeOpenLinesAreCountedButNoFileIsCreated) {
    CLogReporter log(3);
    for (int i = 0; i < 7; ++i) log.WriteLog(CDeadline(D_dwLogLockMs), "before open %d", i);
    EXPECT_EQ(log.LineCount(), 7 % 3);
    EXPECT_TRUE(LogFiles().empty());
}

TEST_F(LogFolderTest, UnopenableFileIsReportedAsOpenedAndLinesGoNowhere) {
    CLogReporter log(3);
    EXPECT_EQ(log.Open("halvex_bad<name>", "|", false), 1);
    for (int i = 0; i < 4; ++i) log.WriteLog(CDeadline(D_dwLogLockMs), "line %d", i);
    EXPECT_EQ(log.LineCount(), 4 % 3) << "the count goes on while nothing can be written";
    EXPECT_TRUE(LogFiles().empty());
}

}  // namespace
