// SIP plug-in log: CAgentLog's header format and file handling (white-box,
// on a log object of the test's own), then the bytes a short session with the
// built plug-in leaves in "BRAVIK32.log" (black-box).
#include <algorithm>
#include <functional>
#include <regex>
#include <string>

#include "AgentLog.h"
#include "sip_fixture.h"

namespace {
// "MM/DD/YYYY hh:mm:ss " as the header writes it.
const char D_szTime[] = R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d )";

std::string EntryPattern(const char *szFunction, const char *szText) {
    return std::string("\r\n") + D_szTime + "UA_KIRO\\.cpp:\\d+:" + szFunction + ": " + szText;
}
}  // namespace

class AgentLogTest : public CSipPluginTest {
protected:
    std::string FileName() const { return LogPath(); }
};

TEST_F(AgentLogTest, EntriesAreSeparatedByALineBreakInFrontOfEach) {
    CAgentLog log;
    log.SetFileName(FileName().c_str());
    log.Header("C:\\src\\UA_KIRO.cpp", 42, "TV_MakeCall", "int TV_MakeCall(const char *)").Write("successfully.");
    log.Header("C:\\src\\UA_KIRO.cpp", 7, "TV_HangUpCall", "int TV_HangUpCall()")
        .Write("failed, error code: ")
        .WriteNumber(-12);
    std::string strPattern = std::string("\r\n") + D_szTime + "UA_KIRO\\.cpp:42:TV_MakeCall: successfully\\." + "\r\n" +
                             D_szTime + "UA_KIRO\\.cpp:7:TV_HangUpCall: failed, error code: -12";
    EXPECT_TRUE(std::regex_match(ReadLog(), std::regex(strPattern)))
        << "a line break in front of every entry, none at the end; file was: " << ReadLog();
}

TEST_F(AgentLogTest, HeaderTimeIsTheLocalTimeZeroPadded) {
    CAgentLog log;
    log.SetFileName(FileName().c_str());
    SYSTEMTIME before;
    GetLocalTime(&before);
    log.Header("UA_KIRO.cpp", 1, "TV_PickUp", "");
    std::smatch fields;
    std::string strLog = ReadLog();
    ASSERT_TRUE(
        std::regex_match(strLog, fields,
                         std::regex("\r\n"
                                    R"((\d\d)/(\d\d)/(\d{4}) (\d\d):(\d\d):(\d\d) UA_KIRO\.cpp:1:TV_PickUp: )")))
        << strLog;
    EXPECT_EQ(std::stoi(fields[1]), before.wMonth);
    EXPECT_EQ(std::stoi(fields[2]), before.wDay);
    EXPECT_EQ(std::stoi(fields[3]), before.wYear);
    EXPECT_EQ(std::stoi(fields[4]), before.wHour);
    EXPECT_LT(std::stoi(fields[5]), 60);
}

struct SSourceName {
    const char *szFile;
    const char *szShown;
};

class AgentLogSourceTest : public AgentLogTest, public ::testing::WithParamInterface<SSourceName> {};

TEST_P(AgentLogSourceTest, ShowsTheBaseNameOnly) {
    CAgentLog log;
    log.SetFileName(FileName().c_str());
    log.Header(GetParam().szFile, 3, "F", "");
    EXPECT_EQ(ReadLog().substr(22), std::string(GetParam().szShown) + ":3:F: ");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Paths, AgentLogSourceTest,
                         ::testing::Values(SSourceName{"C:\\build\\sipagent\\UA_KIRO.cpp", "UA_KIRO.cpp"},
                                           SSourceName{"/work/sipagent/UA_KIRO.cpp", "UA_KIRO.cpp"},
                                           SSourceName{"UA_KIRO.cpp", "UA_KIRO.cpp"},
                                           SSourceName{"C:\\dir\\", ""}));
// clang-format on

TEST_F(AgentLogTest, PiecesBeforeAFileNameAreLost) {
    CAgentLog log;
    log.Header("UA_KIRO.cpp", 1, "TV_Installed", "").Write("Just called(DUMMY USE).");
    EXPECT_FALSE(LogExists()) << "no file before a name is set";
    log.SetFileName(FileName().c_str());
    log.Header("UA_KIRO.cpp", 2, "TV_Initialize", "");
    EXPECT_TRUE(
        std::regex_match(ReadLog(), std::regex(std::string("\r\n") + D_szTime + "UA_KIRO\\.cpp:2:TV_Initialize: ")))
        << "a new file begins with an empty line: " << ReadLog();
}

TEST_F(AgentLogTest, AppendsToAnExistingFileWithoutTruncating) {
    HANDLE hFile = CreateFileA(FileName().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
    DWORD dwWritten = 0;
    WriteFile(hFile, "earlier", 7, &dwWritten, nullptr);
    CloseHandle(hFile);
    CAgentLog log;
    log.SetFileName(FileName().c_str());
    log.Write("later").WriteNumber(5);
    EXPECT_EQ(ReadLog(), "earlierlater5");
}

// Another handle on the file while a piece is appended.
struct SOtherHandle {
    const char *szName;
    DWORD dwAccess;
    DWORD dwShare;
    bool bPieceWritten;
};
inline void PrintTo(const SOtherHandle &c, std::ostream *pOut) { *pOut << c.szName; }

class AgentLogShareTest : public AgentLogTest, public ::testing::WithParamInterface<SOtherHandle> {};

TEST_P(AgentLogShareTest, PieceIsWrittenOnlyWhenTheOtherHandleAllowsIt) {
    CAgentLog log;
    log.SetFileName(FileName().c_str());
    log.Write("a");
    HANDLE hOther = CreateFileA(FileName().c_str(), GetParam().dwAccess, GetParam().dwShare, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(hOther, INVALID_HANDLE_VALUE);
    log.Write("b");
    CloseHandle(hOther);
    log.Write("c");
    EXPECT_EQ(ReadLog(), GetParam().bPieceWritten ? "abc" : "ac");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Handles, AgentLogShareTest,
    ::testing::Values(
        SOtherHandle{"ReaderSharingWrite", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
        SOtherHandle{"ReaderNotSharingWrite", GENERIC_READ, FILE_SHARE_READ, false},
        SOtherHandle{"Writer", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, false}),
    [](const ::testing::TestParamInfo<SOtherHandle> &info) { return info.param.szName; });
// clang-format on

// The built plug-in's own log.
using SipLogFileTest = CSipPluginTest;

TEST_F(SipLogFileTest, ExportsBeforeInitializeWriteNothing) {
    EXPECT_EQ(m_tv.Installed(), 1);
    EXPECT_EQ(m_tv.PickUp(), 0);
    EXPECT_EQ(m_tv.HangUpCall(), -2);
    EXPECT_EQ(m_tv.MakeCall(""), -2);
    EXPECT_FALSE(LogExists()) << "the log has no file name before TV_Initialize";
    ASSERT_EQ(Register(), 0);
    // Regression: the first TV_Initialize of a process wrote its entry before
    // naming the file, so it never reached it.
    EXPECT_TRUE(std::regex_match(ReadLog(), std::regex(EntryPattern("TV_Initialize", ""))))
        << "the first TV_Initialize is logged; log was: " << ReadLog();
}

TEST_F(SipLogFileTest, ShortSessionLeavesTheseBytes) {
    ASSERT_EQ(Register(), 0);
    EXPECT_EQ(m_tv.PickUp(), 0);
    EXPECT_EQ(m_tv.Installed(), 1);
    EXPECT_EQ(Register(), -3);  // header only
    EXPECT_EQ(m_tv.MakeCall("100"), 0);
    Settle();
    EXPECT_EQ(m_tv.HangUpCall(), 0);  // nothing logged
    EXPECT_EQ(m_tv.HangUpCall(), -2);
    EXPECT_EQ(m_tv.StartPlayFile("a.wav"), -1);
    std::string strPattern = EntryPattern("TV_Initialize", "") + EntryPattern("TV_PickUp", "Picked up\\.") +
                             EntryPattern("TV_Installed", "Just called\\(DUMMY USE\\)\\.") +
                             EntryPattern("TV_Initialize", "") +
                             EntryPattern("TV_Initialize", "failed \\(-3\\), wrong state: registered\\.") +
                             EntryPattern("TV_MakeCall", "successfully\\.") +
                             EntryPattern("TV_HangUpCall", "failed, error code: 10") +
                             EntryPattern("TV_StartPlayFile", "failed \\(-1\\), wrong state: registered\\.");
    EXPECT_TRUE(std::regex_match(ReadLog(), std::regex(strPattern))) << "log was: " << ReadLog();
}

// Regression: most refusals and library failures left nothing in the log, so
// it could not explain a failing export. Each writes one entry with its
// result and the library's error code or the reason.
struct SFailureEntry {
    const char *szName;
    ESipReach eWhere;
    const char *szFailing;  // forced to fail with 77, or "" for none
    std::function<int(const CMarentaExports &)> call;
    int nResult;
    std::string strEntry;  // pattern of the export's entry
};
inline void PrintTo(const SFailureEntry &c, std::ostream *pOut) { *pOut << c.szName; }

class SipLogFailureTest : public CSipPluginTest, public ::testing::WithParamInterface<SFailureEntry> {};

TEST_P(SipLogFailureTest, WritesOneEntryWithTheResultAndWhy) {
    const SFailureEntry &c = GetParam();
    Reach(c.eWhere);
    if (c.eWhere == ESipReach::Nothing) {
        ASSERT_EQ(m_tv.Installed(), 1);
    }
    if (*c.szFailing) m_sim.ForceResult(c.szFailing, 77);
    std::string strBefore = ReadLog();
    EXPECT_EQ(c.call(m_tv), c.nResult);
    std::string strAdded = ReadLog().substr(strBefore.size());
    std::string strPattern = std::string("(") + EntryPattern("TV_Initialize", "") + ")?" + c.strEntry;
    EXPECT_TRUE(std::regex_match(strAdded, std::regex(strPattern))) << "log added: " << strAdded;
}

const auto D_fnRegister = [](const CMarentaExports &tv) {
    return tv.Initialize("example.com", "1001", "secret", "proxy.example.com", "");
};

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Each, SipLogFailureTest,
    ::testing::Values(
        SFailureEntry{"StartFailed", ESipReach::Nothing, "KIRO_Initialize", D_fnRegister, -1,
                      EntryPattern("TV_Initialize", "failed \\(-1\\), error code: 77\\.")},
        SFailureEntry{"RegistrationBadArgument", ESipReach::Nothing, "",
                      [](const CMarentaExports &tv) { return tv.Initialize("", "1", "s", "p", ""); },
                      -3, EntryPattern("TV_Initialize", "failed \\(-3\\), bad argument\\.")},
        // Regression: an identity too long for its 254 characters was cut
        // and registered.
        SFailureEntry{"IdentityTooLong", ESipReach::Nothing, "",
                      [](const CMarentaExports &tv) {
                          return tv.Initialize("example.com", std::string(243, 'u').c_str(), "s", "p", "");
                      },
                      -3, EntryPattern("TV_Initialize", "failed \\(-3\\), bad argument\\.")},
        SFailureEntry{"RegistrationRefusedByTheLibrary", ESipReach::Nothing, "KIRO_AddLine", D_fnRegister,
                      -3, EntryPattern("TV_Initialize", "failed \\(-3\\), error code: 77\\.")},
        SFailureEntry{"UnregistrationFailed", ESipReach::Registered, "KIRO_LineUnRegister",
                      [](const CMarentaExports &tv) { return tv.UnInitialize(); }, -2,
                      EntryPattern("TV_UnInitialize", "failed \\(-2\\), error code: 77\\.")},
        SFailureEntry{"CallWhileRinging", ESipReach::Ringing, "",
                      [](const CMarentaExports &tv) { return tv.MakeCall("100"); }, -2,
                      EntryPattern("TV_MakeCall", "failed \\(-2\\), wrong state: ringing\\.")},
        SFailureEntry{"CallWhileThePreviousCallCloses", ESipReach::Released, "",
                      [](const CMarentaExports &tv) { return tv.MakeCall("100"); }, -2,
                      EntryPattern("TV_MakeCall", "failed \\(-2\\), wrong state: released\\.")},
        SFailureEntry{"CallWithoutADestination", ESipReach::Registered, "",
                      [](const CMarentaExports &tv) { return tv.MakeCall(""); }, -2,
                      EntryPattern("TV_MakeCall", "failed \\(-2\\), bad argument\\.")},
        SFailureEntry{"CallRefusedByTheLibrary", ESipReach::Registered, "KIRO_CallCreate",
                      [](const CMarentaExports &tv) { return tv.MakeCall("100"); }, -2,
                      EntryPattern("TV_MakeCall", "failed \\(-2\\), error code: 77\\.")},
        SFailureEntry{"AnswerWithNoCall", ESipReach::Registered, "",
                      [](const CMarentaExports &tv) { return tv.OffHook(); }, -2,
                      EntryPattern("TV_OffHook", "failed \\(-2\\), wrong state: registered\\.")},
        SFailureEntry{"AnswerRefusedByTheLibrary", ESipReach::Ringing, "KIRO_CallAnswer",
                      [](const CMarentaExports &tv) { return tv.OffHook(); }, -2,
                      EntryPattern("TV_OffHook", "failed \\(-2\\), error code: 77\\.")},
        SFailureEntry{"PlayWithoutAFile", ESipReach::Talking, "",
                      [](const CMarentaExports &tv) { return tv.StartPlayFile(nullptr); }, -1,
                      EntryPattern("TV_StartPlayFile", "failed \\(-1\\), bad argument\\.")},
        SFailureEntry{"StopRecordRefusedByTheLibrary", ESipReach::Talking, "KIRO_CallRecordStop",
                      [](const CMarentaExports &tv) { return tv.StopRecordFile(); }, -1,
                      EntryPattern("TV_StopRecordFile", "failed \\(-1\\), error code: 77\\.")},
        SFailureEntry{"StopPlayWhileAlerting", ESipReach::Alerting, "",
                      [](const CMarentaExports &tv) { return tv.StopPlayFile(); }, -1,
                      EntryPattern("TV_StopPlayFile", "failed \\(-1\\), wrong state: alerting\\.")},
        SFailureEntry{"RecordWhileRinging", ESipReach::Ringing, "",
                      [](const CMarentaExports &tv) { return tv.StartRecordFile("a.wav"); }, -1,
                      EntryPattern("TV_StartRecordFile",
                                   "failed \\(-1\\), wrong state: ringing\\.")}),
    [](const ::testing::TestParamInfo<SFailureEntry> &info) { return info.param.szName; });
// clang-format on

namespace {
// Calls one export nCount times, as one of the host's threads.
struct SLogWriter {
    PFN_TV_NoArgument pfnExport;
    int nCount;
    static DWORD WINAPI Run(void *pParam) {
        const SLogWriter *pWriter = static_cast<const SLogWriter *>(pParam);
        for (int i = 0; i < pWriter->nCount; ++i) pWriter->pfnExport();
        return 0;
    }
};
}  // namespace

// Regression: each piece of an entry was its own append, so entries made by
// two host threads at once interleaved (one export's text under the other's
// header). Each entry now reaches the file whole.
TEST_F(SipLogFileTest, EntriesFromTwoHostThreadsStayWhole) {
    ASSERT_EQ(Register(), 0);
    const int nEach = 300;
    SLogWriter writers[2] = {{m_tv.PickUp, nEach}, {m_tv.Installed, nEach}};
    HANDLE ahThreads[2];
    for (int i = 0; i < 2; ++i) ahThreads[i] = CreateThread(nullptr, 0, &SLogWriter::Run, &writers[i], 0, nullptr);
    ASSERT_EQ(WaitForMultipleObjects(2, ahThreads, TRUE, 60000), WAIT_OBJECT_0) << "the writers never finished";
    for (HANDLE h : ahThreads) CloseHandle(h);
    const std::regex entry(std::string(D_szTime) +
                           "UA_KIRO\\.cpp:\\d+:(TV_Initialize: |TV_PickUp: Picked up\\.|"
                           "TV_Installed: Just called\\(DUMMY USE\\)\\.)");
    const std::string strLog = ReadLog();
    ASSERT_EQ(strLog.compare(0, 2, "\r\n"), 0);
    int nEntries = 0, nBroken = 0;
    for (size_t nStart = 2; nStart <= strLog.size(); ++nEntries) {
        size_t nEnd = std::min(strLog.find("\r\n", nStart), strLog.size());
        if (!std::regex_match(strLog.substr(nStart, nEnd - nStart), entry)) ++nBroken;
        nStart = nEnd + 2;
    }
    EXPECT_EQ(nBroken, 0) << "entries not whole, of " << nEntries;
    EXPECT_EQ(nEntries, 1 + 2 * nEach) << "every entry written";
}

TEST_F(SipLogFileTest, LogFollowsTheCurrentFolderOfEachWrite) {
    ASSERT_EQ(Register(), 0);
    std::string strOther = m_strFolder + "\\other";
    CreateDirectoryA(strOther.c_str(), nullptr);
    SetCurrentDirectoryA(strOther.c_str());
    EXPECT_EQ(m_tv.PickUp(), 0);
    SetCurrentDirectoryA(m_strFolder.c_str());
    std::string strMoved = strOther + "\\BRAVIK32.log";
    EXPECT_NE(GetFileAttributesA(strMoved.c_str()), INVALID_FILE_ATTRIBUTES) << "\"BRAVIK32.log\" is a relative name";
    EXPECT_TRUE(std::regex_match(ReadLog(), std::regex(EntryPattern("TV_Initialize", ""))))
        << "only TV_Initialize's entry in the first folder: " << ReadLog();
    DeleteFileA(strMoved.c_str());
    RemoveDirectoryA(strOther.c_str());
}
