// The SIP plug-in's soak: the plug-in loaded as the host loads it (its
// BRAVIK32.dll beside the simulated KIRO.dll), driven through a compressed
// shift of calls out and in, with the library delivering its events in its
// harshest mode, handing call handles out again as real libraries do,
// renewing the registration every few calls and, every so many calls, a
// second caller whom the plug-in must decline while its call goes on, and a
// busy far end whose failed call the plug-in must destroy.
//
// Threads: the main thread is the host's one calling thread (the plug-in's
// exports are called one at a time) and plays the far end through the
// simulated library's controls; the library's own threads run the plug-in's
// event callback, and through it the tone player's PlaySoundA.
//
// The plug-in's import of PlaySoundA is pointed at a recorder (as the host
// console does to show the tones): Wine's sound stack starts and ends
// threads and windows of its own as sounds come and go, which would blur
// the gauges, and the recorder lets the soak check the tones of each call.
// The recorder is the only state shared with the library's threads; it
// guards itself.
#pragma once

#include <windows.h>

#include <string>

#include "KiroApi.h"
#include "KiroSim.h"
#include "SoakReport.h"
#include "marenta.h"

struct SSipExports {
#define TV_SIP_SLOT(function) decltype(&function) pfn_##function;
#include "SipExportList.h"
#undef TV_SIP_SLOT
};

class CSipSoak {
public:
    explicit CSipSoak(const SSoakOptions &options);
    int Run();

private:
    // Plain: a kind indexes m_nKinds, and kKinds counts them.
    enum ECallKind { kOutHostEnds, kOutFarEnds, kInAnsweredHostEnds, kInAnsweredFarEnds, kInAutoAnswered, kKinds };

    bool Load();
    void UseHarshestDelivery();
    void Register();
    void Reregister();
    void RunCall();
    KIRO_HANDLE PlaceCall();
    KIRO_HANDLE TakeCall(bool bAutoAnswer);
    void PlayAndRecord(KIRO_HANDLE hCall);
    void SecondCaller();
    void BusyCall();
    void CountRenewals();
    void HangUp(KIRO_HANDLE hCall, bool bFarEnd);
    void Settle(const char *szWhat);
    bool Expect(const char *szExport, int nResult, int nExpected);
    // How many of the library's requests since the call began are exactly
    // strCall; whether there is one.
    int LibraryCount(const std::string &strCall, int nFrom = -1);
    bool LibraryGot(const std::string &strCall, int nFrom = -1) { return LibraryCount(strCall, nFrom) > 0; }
    void Measure(SSoakGauges *pGauges);
    void CheckLog();
    void CheckTones(ECallKind eKind);
    int Report(double dSeconds);

    SSoakOptions m_options;
    CSoakRandom m_random;
    CSoakChecks m_checks;
    std::string m_strFolder;
    HMODULE m_hPlugin;
    HMODULE m_hKiro;
    SSipExports m_tv;
    CKiroSimControls m_sim;
    int m_nCall;
    int m_nCallFirstRequest;
    KIRO_HANDLE m_hHighestCall;
    long long m_nHandleReuses, m_nSecondCallers, m_nRenewals, m_nBusyCalls;
    int64_t m_llLastRenewal;
    int m_nKinds[kKinds];
    long long m_nRegistrations, m_nPlacedCalls, m_nPickUps, m_nRecordCallsSeen;
    long long m_nLogEntries;
};
