// SIP agent over the wire: the plug-in's exports, called as a host calls
// them, through the wire KIRO.dll (libre) against a real registrar and real
// scripted far ends on loopback. tests/wire/sip_wire.py runs each case in a
// process of its own, with the services the case needs started around it;
// it passes their addresses in the environment (WIRE_*, KIRO_*), plays its
// part when a case asks it to (stop or start the registrar, call in), and
// after the case checks the far end's result and the recorded audio.
//
// The plug-in's modules are linked in, as the white-box suites link them, so
// that the tones it asks for are seen through its sound table; its load-time
// import binds the wire KIRO.dll beside this program.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "SipAgent.h"
#include "sound_api.h"

extern "C" {
int __cdecl TV_Initialize(const char *, const char *, const char *, const char *, const char *);
int __cdecl TV_UnInitialize(void);
int __cdecl TV_MakeCall(const char *);
int __cdecl TV_HangUpCall(void);
int __cdecl TV_OffHook(void);
int __cdecl TV_StartPlayFile(const char *);
int __cdecl TV_StartRecordFile(const char *);
int __cdecl TV_StopRecordFile(void);
}

namespace {
// Bounds: a far end's answer, a registrar's, with a busy machine's slack.
const DWORD D_dwStateMs = 20000;
const DWORD D_dwRunnerMs = 30000;

std::string Env(const char *szName) {
  char szValue[1024];
  DWORD dwLength = GetEnvironmentVariableA(szName, szValue, sizeof szValue);
  return dwLength > 0 && dwLength < sizeof szValue ? std::string(szValue) : std::string();
}

std::mutex g_soundLock;
std::vector<std::string> g_sounds;

BOOL WINAPI RecordSound(LPCSTR pszSound, HMODULE, DWORD) {
  std::lock_guard<std::mutex> lock(g_soundLock);
  g_sounds.push_back(pszSound ? pszSound : "(stop)");
  return TRUE;
}

bool WaitFor(const std::function<bool()> &condition, DWORD dwMs) {
  for (ULONGLONG nEnd = GetTickCount64() + dwMs;; Sleep(10)) {
    if (condition()) return true;
    if (GetTickCount64() >= nEnd) return false;
  }
}

typedef int(__cdecl *PFN_Count)(void);
}  // namespace

class CWireTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Env("WIRE_PROXY").empty()) << "run by tests/wire/sip_wire.py, which starts the services";
    static const SOUND_API recorder = {RecordSound};
    InstallSoundApi(&recorder);
    m_strDir = Env("WIRE_DIR");
    SetCurrentDirectoryA(m_strDir.c_str());
    m_pfnLiveCalls = reinterpret_cast<PFN_Count>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("KIRO.dll"), "KiroWire_LiveCalls")));
    ASSERT_NE(m_pfnLiveCalls, nullptr) << "the wire KIRO.dll beside the test";
  }

  void TearDown() override {
    EXPECT_TRUE(WaitFor([this]() { return m_pfnLiveCalls() == 0; }, D_dwStateMs))
        << "a call is still live in the library: " << m_pfnLiveCalls();
    EXPECT_EQ(Agent().Call(), 0u) << "the agent still holds a call";
  }

  static CSipAgent &Agent() { return CSipAgent::Instance(); }
  int Register(const char *szPassword = "secret1") {
    return TV_Initialize(Env("WIRE_DOMAIN").c_str(), "agent1", szPassword, Env("WIRE_PROXY").c_str(), "");
  }
  static bool Reach(uint32_t nMask, DWORD dwMs = D_dwStateMs) {
    return WaitFor([nMask]() { return (Agent().State() & nMask) != 0; }, dwMs);
  }
  static bool Asked(const char *szTone) {
    std::lock_guard<std::mutex> lock(g_soundLock);
    return std::any_of(g_sounds.begin(), g_sounds.end(),
                       [szTone](const std::string &s) { return s.find(szTone) != std::string::npos; });
  }
  // Has the runner do its part (see sip_wire.py) and waits until it is done.
  bool AskRunner(const std::string &strWhat) {
    std::ofstream(m_strDir + "\\ask-" + strWhat).put('\n');
    std::string strDone = m_strDir + "\\done-" + strWhat;
    return WaitFor([&strDone]() { return GetFileAttributesA(strDone.c_str()) != INVALID_FILE_ATTRIBUTES; },
                   D_dwRunnerMs);
  }
  // Lines of the library's SIP trace (KIRO_TRACE) that contain szText.
  static int TraceCount(const char *szText) {
    std::ifstream trace(Env("KIRO_TRACE"));
    int nCount = 0;
    for (std::string strLine; std::getline(trace, strLine);) nCount += strLine.find(szText) != std::string::npos;
    return nCount;
  }
  std::string File(const char *szName) const { return m_strDir + "\\" + szName; }
  static size_t FileSize(const std::string &strPath) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(strPath.c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
  }
  void PlaceCall() {
    ASSERT_EQ(Register(), 0);
    ASSERT_EQ(TV_MakeCall(Env("WIRE_FAR").c_str()), 0);
  }

  std::string m_strDir;
  PFN_Count m_pfnLiveCalls = nullptr;
};

TEST_F(CWireTest, RegisterAndUnregister) {
  EXPECT_EQ(Register(), 0) << "REGISTER, 401, REGISTER with credentials, 200";
  EXPECT_GE(TraceCount("send REGISTER"), 2) << "the first REGISTER is challenged";
  EXPECT_EQ(TV_UnInitialize(), 0) << "REGISTER with expiry 0 answered";
  EXPECT_EQ(Agent().State(), STATE_UNREGISTERED);
}

TEST_F(CWireTest, WrongPasswordFailsWithItsLogEntry) {
  EXPECT_EQ(Register("not-the-password"), -2);
  std::ifstream log(File("BRAVIK32.log"), std::ios::binary);
  std::stringstream text;
  text << log.rdbuf();
  EXPECT_NE(text.str().find("TV_Initialize: register failed, server timeout."), std::string::npos) << text.str();
  EXPECT_EQ(Agent().State(), STATE_UNREGISTERED) << "the registrar's refusal arrived as 23000";
}

TEST_F(CWireTest, HangUpWhileAlertingSendsCancel) {
  PlaceCall();
  ASSERT_TRUE(Reach(STATE_ALERTING)) << "180 from the far end";
  EXPECT_TRUE(Asked("Ringback.wav"));
  EXPECT_EQ(TV_HangUpCall(), 0) << "CANCEL, 487, then the call closed";
  EXPECT_GE(TraceCount("send CANCEL"), 1);
  EXPECT_EQ(TV_UnInitialize(), 0);
}

// The far end echoes what it receives: recorded here, it is what it got.
TEST_F(CWireTest, AnsweredCallPlaysTheFile) {
  PlaceCall();
  ASSERT_TRUE(Reach(STATE_TALKING)) << "200 from the far end";
  ASSERT_EQ(TV_StartRecordFile(File("echo.wav").c_str()), 0);
  ASSERT_EQ(TV_StartPlayFile(File("prompt440.wav").c_str()), 0);
  // The prompt's 2 s, echoed (nothing is sent once it has played).
  const size_t nWant = 44 + 2 * 8000 * 2;
  EXPECT_TRUE(WaitFor([&]() { return FileSize(File("echo.wav")) >= nWant; }, D_dwStateMs))
      << "echoed audio: " << FileSize(File("echo.wav")) << " bytes";
  EXPECT_EQ(TV_StopRecordFile(), 0);
  EXPECT_EQ(TV_HangUpCall(), 0) << "BYE answered";
  EXPECT_GE(TraceCount("send BYE"), 1);
  EXPECT_EQ(TV_UnInitialize(), 0);
}

TEST_F(CWireTest, PlayRefusesOtherFormats) {
  PlaceCall();
  ASSERT_TRUE(Reach(STATE_TALKING));
  EXPECT_EQ(TV_StartPlayFile(File("prompt16k.wav").c_str()), -1) << "a 16 kHz WAV";
  EXPECT_EQ(TV_StartPlayFile(File("missing.wav").c_str()), -1);
  EXPECT_EQ(TV_HangUpCall(), 0);
  EXPECT_EQ(TV_UnInitialize(), 0);
}

TEST_F(CWireTest, IncomingCallRingsAndIsRecorded) {
  ASSERT_EQ(Register(), 0);
  ASSERT_TRUE(AskRunner("call-in"));
  ASSERT_TRUE(Reach(STATE_RINGING)) << "INVITE from the far end, 180 sent";
  EXPECT_TRUE(Asked("Ringtone.wav"));
  ASSERT_EQ(TV_OffHook(), 0) << "200 sent, ACK received";
  ASSERT_EQ(TV_StartRecordFile(File("incoming.wav").c_str()), 0);
  EXPECT_TRUE(Reach(STATE_REGISTERED)) << "the far end hangs up after 2.5 s";
  EXPECT_EQ(TV_UnInitialize(), 0);
}

TEST_F(CWireTest, CallerCancelsWhileRinging) {
  ASSERT_EQ(Register(), 0);
  ASSERT_TRUE(AskRunner("cancel-in"));
  ASSERT_TRUE(Reach(STATE_RINGING));
  EXPECT_TRUE(Reach(STATE_REGISTERED)) << "CANCEL, 487: released, then closed";
  EXPECT_EQ(TV_UnInitialize(), 0);
}

TEST_F(CWireTest, BusyGivesTheBusyToneThenRegistered) {
  PlaceCall();
  EXPECT_TRUE(Reach(STATE_RELEASED | STATE_REGISTERED));
  EXPECT_TRUE(WaitFor([]() { return Asked("RemoteBusy.wav"); }, D_dwStateMs)) << "486: the busy tone";
  EXPECT_TRUE(Reach(STATE_REGISTERED));
  EXPECT_EQ(TV_UnInitialize(), 0);
}

TEST_F(CWireTest, SilentFarEndGetsTheProxysTimeout) {
  PlaceCall();
  EXPECT_TRUE(WaitFor([]() { return Asked("RemoteBusy.wav"); }, D_dwStateMs)) << "408 from the proxy";
  EXPECT_TRUE(Reach(STATE_REGISTERED));
  EXPECT_EQ(TV_UnInitialize(), 0);
}

TEST_F(CWireTest, FarEndByeGivesRegistered) {
  PlaceCall();
  ASSERT_TRUE(Reach(STATE_TALKING)) << "200 with no 18x";
  EXPECT_FALSE(Asked("Ringback.wav")) << "no alerting came";
  EXPECT_TRUE(Reach(STATE_REGISTERED)) << "the far end's BYE";
  EXPECT_EQ(TV_UnInitialize(), 0);
}

TEST_F(CWireTest, EarlyMediaThenAnswer) {
  PlaceCall();
  ASSERT_TRUE(Reach(STATE_ALERTING | STATE_TALKING)) << "183 with SDP";
  ASSERT_TRUE(Reach(STATE_TALKING)) << "then 200";
  EXPECT_EQ(TV_HangUpCall(), 0);
  EXPECT_EQ(TV_UnInitialize(), 0);
}

TEST_F(CWireTest, HoldAndResumeLeaveTheCallTalking) {
  PlaceCall();
  ASSERT_TRUE(Reach(STATE_TALKING));
  EXPECT_TRUE(WaitFor([]() { return TraceCount("recv INVITE") >= 2; }, D_dwStateMs)) << "hold, then resume";
  EXPECT_TRUE(WaitFor([]() { return TraceCount("send SIP/2.0 200") >= 2; }, D_dwStateMs)) << "both answered";
  EXPECT_EQ(Agent().State(), STATE_TALKING);
  EXPECT_TRUE(Reach(STATE_REGISTERED)) << "the far end's BYE after the resume";
  EXPECT_EQ(TV_UnInitialize(), 0);
}

// KIRO_REG_EXPIRES is short here: the line renews every few seconds.
TEST_F(CWireTest, RenewalDuringACallLeavesItTalking) {
  PlaceCall();
  ASSERT_TRUE(Reach(STATE_TALKING));
  int nRegisters = TraceCount("send REGISTER"), nAnswers = TraceCount("recv SIP/2.0 200");
  ASSERT_TRUE(WaitFor([&]() { return TraceCount("send REGISTER") > nRegisters; }, D_dwStateMs))
      << "a renewal while talking";
  ASSERT_TRUE(WaitFor([&]() { return TraceCount("recv SIP/2.0 200") > nAnswers; }, D_dwStateMs))
      << "the renewal's 200";
  EXPECT_EQ(Agent().State(), STATE_TALKING);
  EXPECT_EQ(TV_HangUpCall(), 0) << "the call went on: BYE answered";
  EXPECT_GE(TraceCount("send BYE"), 1);
  EXPECT_EQ(TV_UnInitialize(), 0);
}

TEST_F(CWireTest, RegistrarStoppedThenBack) {
  ASSERT_EQ(Register(), 0);
  ASSERT_TRUE(AskRunner("stop-registrar"));
  EXPECT_TRUE(Reach(STATE_UNREGISTERED, 60000)) << "the renewal fails: the line drops";
  ASSERT_TRUE(AskRunner("start-registrar"));
  EXPECT_EQ(Register(), 0) << "registered again";
  EXPECT_EQ(TV_UnInitialize(), 0);
}
