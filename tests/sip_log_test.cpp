// SIP plug-in log: CAgentLog's header format and file handling (white-box,
// on a log object of the test's own), then the bytes a short session with the
// built plug-in leaves in "BRAVIK32.log" (black-box).
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
  log.Header("C:\\src\\UA_KIRO.cpp", 42, "TV_MakeCall", "int TV_MakeCall(const char *)")
      .Write("successfully.");
  log.Header("C:\\src\\UA_KIRO.cpp", 7, "TV_HangUpCall", "int TV_HangUpCall()")
      .Write("failed, error code: ")
      .WriteNumber(-12);
  std::string strPattern = std::string(D_szTime) + "UA_KIRO\\.cpp:42:TV_MakeCall: successfully\\." +
                           "\r\n" + D_szTime + "UA_KIRO\\.cpp:7:TV_HangUpCall: failed, error code: -12";
  EXPECT_TRUE(std::regex_match(ReadLog(), std::regex(strPattern)))
      << "first entry without a line break, none at the end; file was: " << ReadLog();
}

TEST_F(AgentLogTest, HeaderTimeIsTheLocalTimeZeroPadded) {
  CAgentLog log;
  log.SetFileName(FileName().c_str());
  SYSTEMTIME before;
  GetLocalTime(&before);
  log.Header("UA_KIRO.cpp", 1, "TV_PickUp", "");
  std::smatch fields;
  std::string strLog = ReadLog();
  ASSERT_TRUE(std::regex_match(strLog, fields,
                               std::regex(R"((\d\d)/(\d\d)/(\d{4}) (\d\d):(\d\d):(\d\d) UA_KIRO\.cpp:1:TV_PickUp: )")))
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
  EXPECT_EQ(ReadLog().substr(20), std::string(GetParam().szShown) + ":3:F: ");
}

INSTANTIATE_TEST_SUITE_P(Paths, AgentLogSourceTest,
                         ::testing::Values(SSourceName{"C:\\build\\sipagent\\UA_KIRO.cpp", "UA_KIRO.cpp"},
                                           SSourceName{"/work/sipagent/UA_KIRO.cpp", "UA_KIRO.cpp"},
                                           SSourceName{"UA_KIRO.cpp", "UA_KIRO.cpp"},
                                           SSourceName{"C:\\dir\\", ""}));

TEST_F(AgentLogTest, PiecesBeforeAFileNameAreLostYetTheFirstHeaderIsUsedUp) {
  CAgentLog log;
  log.Header("UA_KIRO.cpp", 1, "TV_Installed", "").Write("Just called(DUMMY USE).");
  EXPECT_FALSE(LogExists()) << "no file before a name is set";
  log.SetFileName(FileName().c_str());
  log.Header("UA_KIRO.cpp", 2, "TV_Initialize", "");
  EXPECT_TRUE(std::regex_match(ReadLog(), std::regex(std::string("\r\n") + D_szTime +
                                                     "UA_KIRO\\.cpp:2:TV_Initialize: ")))
      << "a new file begins with an empty line: " << ReadLog();
}

TEST_F(AgentLogTest, AppendsToAnExistingFileWithoutTruncating) {
  HANDLE hFile = CreateFileA(FileName().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
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
  HANDLE hOther = CreateFileA(FileName().c_str(), GetParam().dwAccess, GetParam().dwShare, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(hOther, INVALID_HANDLE_VALUE);
  log.Write("b");
  CloseHandle(hOther);
  log.Write("c");
  EXPECT_EQ(ReadLog(), GetParam().bPieceWritten ? "abc" : "ac");
}

INSTANTIATE_TEST_SUITE_P(
    Handles, AgentLogShareTest,
    ::testing::Values(
        SOtherHandle{"ReaderSharingWrite", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
        SOtherHandle{"ReaderNotSharingWrite", GENERIC_READ, FILE_SHARE_READ, false},
        SOtherHandle{"Writer", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, false}),
    [](const ::testing::TestParamInfo<SOtherHandle> &info) { return info.param.szName; });

// The built plug-in's own log.
using SipLogFileTest = CSipPluginTest;

TEST_F(SipLogFileTest, ExportsBeforeInitializeWriteNothing) {
  EXPECT_EQ(m_tv.Installed(), 1);
  EXPECT_EQ(m_tv.PickUp(), 0);
  EXPECT_EQ(m_tv.HangUpCall(), -2);
  EXPECT_EQ(m_tv.MakeCall(""), -2);
  EXPECT_FALSE(LogExists()) << "the log has no file name before TV_Initialize";
  ASSERT_EQ(Register(), 0);
  EXPECT_FALSE(LogExists()) << "TV_Initialize's own header precedes the name";
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
  EXPECT_EQ(m_tv.StartPlayFile("a.wav"), -1);  // file requests log nothing
  std::string strPattern = EntryPattern("TV_PickUp", "Picked up\\.") +
                           EntryPattern("TV_Installed", "Just called\\(DUMMY USE\\)\\.") +
                           EntryPattern("TV_Initialize", "") +
                           EntryPattern("TV_MakeCall", "successfully\\.") +
                           EntryPattern("TV_HangUpCall", "failed, error code: 10");
  EXPECT_TRUE(std::regex_match(ReadLog(), std::regex(strPattern))) << "log was: " << ReadLog();
}

TEST_F(SipLogFileTest, LogFollowsTheCurrentFolderOfEachWrite) {
  ASSERT_EQ(Register(), 0);
  std::string strOther = m_strFolder + "\\other";
  CreateDirectoryA(strOther.c_str(), nullptr);
  SetCurrentDirectoryA(strOther.c_str());
  EXPECT_EQ(m_tv.PickUp(), 0);
  SetCurrentDirectoryA(m_strFolder.c_str());
  std::string strMoved = strOther + "\\BRAVIK32.log";
  EXPECT_NE(GetFileAttributesA(strMoved.c_str()), INVALID_FILE_ATTRIBUTES)
      << "\"BRAVIK32.log\" is a relative name";
  EXPECT_FALSE(LogExists());
  DeleteFileA(strMoved.c_str());
  RemoveDirectoryA(strOther.c_str());
}
