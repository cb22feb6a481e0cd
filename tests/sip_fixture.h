// Black-box fixture for the SIP agent plug-in: every test loads BRAVIK32.dll
// beside the simulated KIRO.dll, whose controls play the SIP library's side,
// and runs in a scratch folder of its own, where the plug-in's relative log
// file lands. Once started, the plug-in stays loaded for the life of the
// process; suites built with sip_isolated_main.cpp run each test in a process
// of its own, so the agent and its log start from nothing. A fixture that
// shares one agent across its tests keeps the library as it is between them.
// KIROSIM_MODE in the environment (a KiroSimMode number) runs a fresh-library
// test under that mode.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "KiroApi.h"
#include "KiroSim.h"
#include "marenta.h"
#include "stopwatch.h"

// Bound for the simulated library to deliver what it has queued. A passing
// run waits milliseconds; the bound is wide because an emulated 32-bit guest
// on a busy machine runs the library's threads tens of times slower.
const int D_nSimIdleMs = 15000;

struct CMarentaExports {
    PFN_TV_Initialize Initialize = nullptr;
    PFN_TV_NoArgument UnInitialize = nullptr;
    PFN_TV_OneString MakeCall = nullptr;
    PFN_TV_NoArgument HangUpCall = nullptr;
    PFN_TV_NoArgument OffHook = nullptr;
    PFN_TV_NoArgument PickUp = nullptr;
    PFN_TV_NoArgument Installed = nullptr;
    PFN_TV_OneString StartPlayFile = nullptr;
    PFN_TV_NoArgument StopPlayFile = nullptr;
    PFN_TV_OneString StartRecordFile = nullptr;
    PFN_TV_NoArgument StopRecordFile = nullptr;

    // Resolves every export by its exact name; the name of the first missing one.
    std::string Bind(HMODULE hPlugin);
};

// Where a test can take the agent with the simulated library's events.
enum class ESipReach {
    Nothing,  // fresh plug-in, library not started
    Registered,
    Calling,  // outgoing call whose alerting event never comes
    Placed,   // outgoing call whose events have not come yet
    Alerting,
    Ringing,
    Talking,   // incoming call answered with TV_OffHook
    Released,  // far end hung up, the closing event never comes
    Expired,   // registered, then the server dropped the registration
};

// Exports a table can name.
enum class ESipAction { Register, Unregister, MakeCall, HangUp, OffHook };

class CSipPluginTest : public ::testing::Test {
public:
    // The selection pass of sip_isolated_main.cpp: each test only reports its
    // full name and is skipped.
    typedef void (*PFN_NoteTest)(const std::string &strName);
    static void SetSelectionPass(PFN_NoteTest pfnNote) { s_pfnNoteTest = pfnNote; }

protected:
    explicit CSipPluginTest(bool bFreshLibrary = true) : m_bFreshLibrary(bFreshLibrary) {}
    void SetUp() override;
    void TearDown() override;

    // TV_Initialize with the account every test uses.
    int Register();
    // Lets the simulated library deliver everything it has queued.
    void Settle();
    // Registered, then each state as the simulated library's events reach it.
    void ReachAlerting();
    KIRO_HANDLE ReachRinging();
    KIRO_HANDLE ReachTalking();
    // Any of the above; the call handle where there is a call.
    KIRO_HANDLE Reach(ESipReach eWhere);
    // Calls the export; its result.
    int Do(ESipAction eAction);
    // Renewals every few milliseconds until nCount of them reached the agent.
    void AwaitRenewals(int nCount);
    // Sends one call event record on the library's thread and lets it arrive.
    void SendCallEvent(KIRO_HANDLE hCall, int nCode, int nStatus);
    void SendLineEvent(KIRO_HANDLE hLine, int nCode);

    std::string LogPath() const { return m_strFolder + "\\BRAVIK32.log"; }
    // The log file's bytes; empty if there is no file.
    std::string ReadLog() const;
    bool LogExists() const;
    size_t CountCalls(const std::string &strFunction) const { return m_sim.CallsOf(strFunction).size(); }

    const bool m_bFreshLibrary;  // reset the simulated library around each test
    CKiroSimControls m_sim;
    CMarentaExports m_tv;
    HMODULE m_hKiro = nullptr;
    HMODULE m_hPlugin = nullptr;
    std::string m_strFolder;
    std::string m_strHomeFolder;

private:
    static PFN_NoteTest s_pfnNoteTest;
};

// The recorded KIRO_ calls of a registration with the fixture's account on
// a fresh simulated library, for the line handle it hands out.
std::vector<std::string> ExpectedRegistrationCalls(bool bLibraryStart, KIRO_HANDLE hLine = 0x2001);
