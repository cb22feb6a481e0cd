// The wire suites' fixture: the SIP plug-in's exports, called as a host calls
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
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>

#include "SipAgent.h"
#include "sound_api.h"

// The exports, linked in from the plug-in's modules.
extern "C" {
int __cdecl TV_Initialize(const char *, const char *, const char *, const char *, const char *);
int __cdecl TV_UnInitialize(void);
int __cdecl TV_MakeCall(const char *);
int __cdecl TV_HangUpCall(void);
int __cdecl TV_OffHook(void);
int __cdecl TV_StartPlayFile(const char *);
int __cdecl TV_StartRecordFile(const char *);
int __cdecl TV_StopRecordFile(void);
int __cdecl TV_StopPlayFile(void);
}

// Bounds: a far end's answer, a registrar's, with a busy machine's slack.
const DWORD D_dwStateMs = 20000;
const DWORD D_dwRunnerMs = 30000;

std::string Env(const char *szName);
// Polls the condition until it holds (true) or dwMs have passed (false).
bool WaitFor(const std::function<bool()> &condition, DWORD dwMs);
typedef int(__cdecl *PFN_Count)(void);

class CWireTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  static CSipAgent &Agent() { return CSipAgent::Instance(); }
  int Register(const char *szPassword = "secret1") {
    return TV_Initialize(Env("WIRE_DOMAIN").c_str(), "agent1", szPassword, Env("WIRE_PROXY").c_str(), "");
  }
  static bool Reach(uint32_t nMask, DWORD dwMs = D_dwStateMs) {
    return WaitFor([nMask]() { return (Agent().State() & nMask) != 0; }, dwMs);
  }
  // Whether the plug-in asked for the tone (a file name) since the start.
  static bool Asked(const char *szTone);
  // Has the runner do its part (see sip_wire.py) and waits until it is done.
  bool AskRunner(const std::string &strWhat);
  // Lines of the library's SIP trace (KIRO_TRACE) that contain szText.
  static int TraceCount(const char *szText);
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

