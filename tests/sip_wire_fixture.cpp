// The wire suites' fixture (see sip_wire_fixture.h).
#include "sip_wire_fixture.h"

#include <algorithm>
#include <fstream>
#include <mutex>
#include <set>

#include "stopwatch.h"

namespace {
// Each sound asked, once: a soak's thousands of tones must not grow the heap.
std::mutex g_soundLock;
std::set<std::string> g_sounds;

BOOL WINAPI RecordSound(LPCSTR pszSound, HMODULE, DWORD) {
  std::lock_guard<std::mutex> lock(g_soundLock);
  g_sounds.insert(pszSound ? pszSound : "(stop)");
  return TRUE;
}
}  // namespace

std::string Env(const char *szName) {
  char szValue[1024];
  DWORD dwLength = GetEnvironmentVariableA(szName, szValue, sizeof szValue);
  return dwLength > 0 && dwLength < sizeof szValue ? std::string(szValue) : std::string();
}

bool WaitFor(const std::function<bool()> &condition, DWORD dwMs) {
  for (CStopwatch sinceStart;; Sleep(10)) {
    if (condition()) return true;
    if (sinceStart.ElapsedMs() >= dwMs) return false;
  }
}

void CWireTest::SetUp() {
  ASSERT_FALSE(Env("WIRE_PROXY").empty()) << "run by tests/wire/sip_wire.py, which starts the services";
  static const SOUND_API recorder = {RecordSound};
  InstallSoundApi(&recorder);
  m_strDir = Env("WIRE_DIR");
  SetCurrentDirectoryA(m_strDir.c_str());
  m_pfnLiveCalls = reinterpret_cast<PFN_Count>(
      reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("KIRO.dll"), "KiroWire_LiveCalls")));
  ASSERT_NE(m_pfnLiveCalls, nullptr) << "the wire KIRO.dll beside the test";
}

void CWireTest::TearDown() {
  EXPECT_TRUE(WaitFor([this]() { return m_pfnLiveCalls() == 0; }, D_dwStateMs))
      << "a call is still live in the library: " << m_pfnLiveCalls();
  EXPECT_EQ(Agent().Call(), 0u) << "the agent still holds a call";
}

bool CWireTest::Asked(const char *szTone) {
  std::lock_guard<std::mutex> lock(g_soundLock);
  return std::any_of(g_sounds.begin(), g_sounds.end(),
                     [szTone](const std::string &s) { return s.find(szTone) != std::string::npos; });
}

bool CWireTest::AskRunner(const std::string &strWhat) {
  std::string strDone = m_strDir + "\\done-" + strWhat;
  DeleteFileA(strDone.c_str());
  std::ofstream(m_strDir + "\\ask-" + strWhat).put('\n');
  return WaitFor([&strDone]() { return GetFileAttributesA(strDone.c_str()) != INVALID_FILE_ATTRIBUTES; },
                 D_dwRunnerMs);
}

int CWireTest::TraceCount(const char *szText) {
  std::ifstream trace(Env("KIRO_TRACE"));
  int nCount = 0;
  for (std::string strLine; std::getline(trace, strLine);) nCount += strLine.find(szText) != std::string::npos;
  return nCount;
}
