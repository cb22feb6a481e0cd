// The SIP plug-in's soak (see SipSoak.h): register, then calls out and in,
// answered by TV_OffHook or by auto-answer, play and record on each call,
// hang-ups from both ends, a re-registration every so many calls, a second
// caller every D_nSecondCallerEvery calls, a busy far end every
// D_nBusyEvery calls, renewals every D_nRenewalMs, and the gauges read after
// the warm-up and at the end.
#include "SipSoak.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "ImportTrace.h"
#include "ModuleHeap.h"

namespace {

const int D_nSettleMs = 5000;  // the library's queued events, delivered
const char D_szDomain[] = "example.com";
const char D_szUser[] = "1001";
const char D_szPrompt[] = "soak_prompt.wav";
const char D_szRecording[] = "soak_recording.wav";
// The simulated library keeps a record of every request it was asked (and
// of every call's events) until its next reset: the process's heap grows
// with it by design, a few hundred bytes a call, so that gauge is shown but
// not judged; what the plug-in itself holds is counted at its imports and
// judged instead. The private bytes may grow by
// twice what the heap grew (a growing array leaves its old buffer behind,
// committed, for later use) plus pages and heap segments.
const SSoakTolerance D_Tolerance = {{0, 0, 256 * 1024, D_llNotJudged, 1024, 0, 0, 0}};
// A second caller comes this often, during the agent's call.
const int D_nSecondCallerEvery = 50;
// A call is placed to a busy far end this often, before the call of the turn.
const int D_nBusyEvery = 20;
// The library renews the registration this often: every few calls.
const int D_nRenewalMs = 250;

// The tones the plug-in asked for since the last Take, one letter each:
// D dial tone, R ringback, T ring tone, B busy tone, . stop, ? other.
class CToneRecorder {
public:
    CToneRecorder() { InitializeCriticalSection(&m_cs); }
    ~CToneRecorder() { DeleteCriticalSection(&m_cs); }
    void Add(const char *pszSound) {
        static const struct {
            const char *szFile;
            char cLetter;
        } s_aTones[] = {{"DialTones.wav", 'D'}, {"Ringback.wav", 'R'}, {"Ringtone.wav", 'T'}, {"RemoteBusy.wav", 'B'}};
        char cLetter = pszSound ? '?' : '.';
        const char *pszName = pszSound ? strrchr(pszSound, '\\') : nullptr;
        for (const auto &tone : s_aTones)
            if (pszName && strcmp(pszName + 1, tone.szFile) == 0) cLetter = tone.cLetter;
        EnterCriticalSection(&m_cs);
        // A tone asked for again while it sounds changes nothing audible, nor
        // does a stop while silent (after a failed call the library's
        // renewals each stop the sound until the next call's events come),
        // also across a Take.
        if (cLetter != m_cLast) m_strTones += cLetter;
        m_cLast = cLetter;
        LeaveCriticalSection(&m_cs);
    }
    std::string Take() {
        EnterCriticalSection(&m_cs);
        std::string strTones;
        strTones.swap(m_strTones);
        LeaveCriticalSection(&m_cs);
        return strTones;
    }

private:
    CRITICAL_SECTION m_cs;
    std::string m_strTones;
    char m_cLast = 0;
};

CToneRecorder g_Tones;

BOOL WINAPI RecordedPlaySound(LPCSTR pszSound, HMODULE, DWORD) {
    g_Tones.Add(pszSound);
    return TRUE;
}

}  // namespace

CSipSoak::CSipSoak(const SSoakOptions &options)
    : m_options(options), m_random(options.nRandomStart), m_hPlugin(nullptr), m_hKiro(nullptr), m_tv(), m_nCall(0),
      m_nCallFirstRequest(0), m_hHighestCall(0), m_nHandleReuses(0), m_nSecondCallers(0), m_nRenewals(0),
      m_nBusyCalls(0), m_llLastRenewal(0), m_nKinds(), m_nRegistrations(0), m_nPlacedCalls(0), m_nPickUps(0),
      m_nRecordCallsSeen(0), m_nLogEntries(0) {}

bool CSipSoak::Load() {
    m_strFolder = SoakFolder();
    // The plug-in logs into the current folder.
    SetCurrentDirectoryA(m_strFolder.c_str());
    DeleteFileA((m_strFolder + "BRAVIK32.log").c_str());
    m_hPlugin = LoadLibraryExA((m_strFolder + "BRAVIK32.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    m_hKiro = GetModuleHandleA("KIRO.dll");
    if (!m_hPlugin || !m_hKiro || !m_sim.Bind(m_hKiro)) {
        printf("cannot load BRAVIK32.dll beside the simulated KIRO.dll in %s\n", m_strFolder.c_str());
        return false;
    }
    bool bBound = true;
#define TV_SIP_SLOT(function)                                            \
    m_tv.pfn_##function = reinterpret_cast<decltype(&function)>(         \
        reinterpret_cast<void *>(GetProcAddress(m_hPlugin, #function))); \
    bBound = bBound && m_tv.pfn_##function;
#include "SipExportList.h"
#undef TV_SIP_SLOT
    if (!bBound) printf("an export of the SIP plug-in is missing\n");
    void *pfnPlaySound = nullptr;
    if (bBound && !RedirectImport(m_hPlugin, "winmm.dll", "PlaySoundA", reinterpret_cast<void *>(RecordedPlaySound),
                                  &pfnPlaySound)) {
        printf("the SIP plug-in does not import PlaySoundA\n");
        return false;
    }
    if (bBound && !CountModuleHeap(m_hPlugin)) {
        printf("the SIP plug-in does not allocate through msvcrt.dll's malloc and free\n");
        return false;
    }
    return bBound;
}

// The one place that chooses how the simulated library delivers its events:
// several delivery threads, a request's events before it returns, every
// event twice, and events for lines and calls already gone.
void CSipSoak::UseHarshestDelivery() {
    m_sim.Reset();
    m_sim.SetMode(KIROSIM_MODE_HARSHEST);
    m_sim.SetRenewal(D_nRenewalMs);
}

bool CSipSoak::Expect(const char *szExport, int nResult, int nExpected) {
    return m_checks.Check(
        "documented export results", nResult == nExpected, m_nCall,
        std::string(szExport) + " = " + std::to_string(nResult) + ", expected " + std::to_string(nExpected));
}

void CSipSoak::Settle(const char *szWhat) {
    m_checks.Check("library events delivered", m_sim.WaitIdle(D_nSettleMs) != 0, m_nCall, szWhat);
}

int CSipSoak::LibraryCount(const std::string &strCall, int nFrom) {
    char szLine[512];
    int nFound = 0;
    const int nCount = m_sim.CallCount();
    for (int i = nCount - 1; i >= 0 && i >= (nFrom < 0 ? m_nCallFirstRequest : nFrom); --i)
        if (m_sim.GetCall(i, szLine, sizeof szLine) >= 0 && strCall == szLine) ++nFound;
    return nFound;
}

// The library renewed the registration since the last look (counted once
// however many renewals came meanwhile: a lower bound).
void CSipSoak::CountRenewals() {
    const int64_t llRenewal = m_sim.DispatchTime(KIRO_LINE_REGISTERED);
    if (llRenewal != m_llLastRenewal) ++m_nRenewals;
    m_llLastRenewal = llRenewal;
}

// Another call offered on the line while the agent talks: declined (its
// handle destroyed, never accepted or answered), and the agent's call goes on.
void CSipSoak::SecondCaller() {
    ++m_nSecondCallers;
    const int nFrom = m_sim.CallCount();
    const KIRO_HANDLE hSecond = m_sim.OfferCall(m_sim.LatestLine());
    Settle("the second caller's offer");
    const std::string strSecond = std::to_string(hSecond);
    m_checks.Check("second callers declined",
                   hSecond != 0 && LibraryGot("KIRO_CallDestroy|" + strSecond, nFrom) &&
                       !LibraryGot("KIRO_CallAccept|" + strSecond, nFrom) &&
                       !LibraryGot("KIRO_CallAnswer|" + strSecond, nFrom),
                   m_nCall, "call " + strSecond + " offered during the agent's call");
}

// The far end answers busy (486): the call is over, and the plug-in ends it
// in the library, exactly once, by its own handle; no call stays live. The
// tones: dial tone, ringback, then silence (a failed call plays no busy tone).
void CSipSoak::BusyCall() {
    ++m_nBusyCalls;
    ++m_nPlacedCalls;
    const int nFrom = m_sim.CallCount();
    Expect("TV_MakeCall", m_tv.pfn_TV_MakeCall("299"), 0);
    const KIRO_HANDLE hCall = m_sim.LatestCall();
    Settle("the busy call's progress");
    m_checks.Check("busy far end", m_sim.RemoteRelease(hCall, KIROSIM_STATUS_BUSY) == 0, m_nCall,
                   "the far end answers busy");
    Settle("the busy call's end");
    const int nDestroys = LibraryCount("KIRO_CallDestroy|" + std::to_string(hCall), nFrom);
    m_checks.Check("busy far end", nDestroys == 1 && m_sim.LiveCalls() == 0, m_nCall,
                   "busy call " + std::to_string(hCall) + " destroyed " + std::to_string(nDestroys) + " times, " +
                       std::to_string(m_sim.LiveCalls()) + " calls live");
    const std::string strTones = g_Tones.Take();
    m_checks.Check("tones of each call", strTones == "DR.", m_nCall,
                   "busy call's tones " + strTones + ", expected DR.");
}

void CSipSoak::Register() {
    ++m_nRegistrations;
    Expect("TV_Initialize", m_tv.pfn_TV_Initialize(D_szDomain, D_szUser, "secret", "proxy.example.com", ""), 0);
}

void CSipSoak::Reregister() {
    Expect("TV_UnInitialize", m_tv.pfn_TV_UnInitialize(), 0);
    Settle("unregistration");
    Register();
}

KIRO_HANDLE CSipSoak::PlaceCall() {
    ++m_nPlacedCalls;
    const std::string strDestination = "2" + m_random.Digits(m_random.Between(3, 10), "0123456789");
    Expect("TV_MakeCall", m_tv.pfn_TV_MakeCall(strDestination.c_str()), 0);
    const KIRO_HANDLE hCall = m_sim.LatestCall();
    m_checks.Check(
        "calls reach the far end",
        hCall != 0 && LibraryGot("KIRO_CallCreate|4097|" + std::to_string(m_sim.LatestLine()) + "|" + strDestination),
        m_nCall, "the library created a call to " + strDestination);
    Settle("outgoing call progress");
    m_checks.Check("calls reach the far end", m_sim.RemoteAnswer(hCall) == 0, m_nCall, "the far end answers");
    Settle("the far end's answer");
    return hCall;
}

KIRO_HANDLE CSipSoak::TakeCall(bool bAutoAnswer) {
    if (bAutoAnswer) {
        ++m_nPickUps;
        Expect("TV_PickUp", m_tv.pfn_TV_PickUp(), 0);
    }
    const KIRO_HANDLE hCall = m_sim.OfferCall(m_sim.LatestLine());
    m_checks.Check("calls reach the far end", hCall != 0, m_nCall, "an incoming call offered on the line");
    Settle("the incoming call's offer and ringing");
    if (!bAutoAnswer) Expect("TV_OffHook", m_tv.pfn_TV_OffHook(), 0);
    const std::string strCall = std::to_string(hCall);
    m_checks.Check("calls reach the far end",
                   LibraryGot("KIRO_CallAnswer|" + strCall) && LibraryGot("KIRO_CallAccept|" + strCall), m_nCall,
                   "the plug-in accepted and answered call " + strCall);
    Settle("the answer");
    return hCall;
}

void CSipSoak::PlayAndRecord(KIRO_HANDLE hCall) {
    const std::string strCall = std::to_string(hCall);
    Expect("TV_StartPlayFile", m_tv.pfn_TV_StartPlayFile(D_szPrompt), 0);
    Expect("TV_StartRecordFile", m_tv.pfn_TV_StartRecordFile(D_szRecording), 0);
    m_checks.Check("play and record reach the library",
                   LibraryGot("KIRO_CallStartPlayFile|" + strCall + "|" + D_szPrompt + "|0") &&
                       LibraryGot("KIRO_CallRecordStart|" + strCall + "|" + D_szRecording),
                   m_nCall, "play and record started on call " + strCall);
    Expect("TV_StopPlayFile", m_tv.pfn_TV_StopPlayFile(), 0);
    Expect("TV_StopRecordFile", m_tv.pfn_TV_StopRecordFile(), 0);
    m_checks.Check("play and record reach the library",
                   LibraryGot("KIRO_CallStopPlayFile|" + strCall) && LibraryGot("KIRO_CallRecordStop|" + strCall),
                   m_nCall, "play and record stopped on call " + strCall);
}

void CSipSoak::HangUp(KIRO_HANDLE hCall, bool bFarEnd) {
    if (bFarEnd)
        m_checks.Check("calls reach the far end", m_sim.RemoteHangUp(hCall) == 0, m_nCall, "the far end hangs up");
    else
        Expect("TV_HangUpCall", m_tv.pfn_TV_HangUpCall(), 0);
    Settle("the call's end");
    m_checks.Check("calls reach the far end", LibraryGot("KIRO_CallDestroy|" + std::to_string(hCall)), m_nCall,
                   "the plug-in destroyed the ended call");
}

// Out: dial tone, ringback, silence once answered (and after each play and
// record request), busy tone at the end. In: ring tone, silence, busy tone.
void CSipSoak::CheckTones(ECallKind eKind) {
    const std::string strExpected = eKind == kOutHostEnds || eKind == kOutFarEnds ? "DR.B" : "T.B";
    const std::string strTones = g_Tones.Take();
    m_checks.Check("tones of each call", strTones == strExpected, m_nCall,
                   "tones " + strTones + ", expected " + strExpected);
}

void CSipSoak::RunCall() {
    // The warm-up goes through every kind of call in turn, so that whatever
    // the platform sets up on first use (the sound API for each tone) is in
    // place before the first reading; after it, the kinds come at random.
    const ECallKind eKind = static_cast<ECallKind>(
        m_nCall <= m_options.WarmUpCalls() ? m_nCall % kKinds : m_random.Between(0, kKinds - 1));
    ++m_nKinds[eKind];
    if (m_nCall % D_nBusyEvery == 0) BusyCall();
    m_nCallFirstRequest = m_sim.CallCount();
    KIRO_HANDLE hCall;
    switch (eKind) {
    case kOutHostEnds:
    case kOutFarEnds: hCall = PlaceCall(); break;
    case kInAutoAnswered: hCall = TakeCall(true); break;
    default: hCall = TakeCall(false); break;
    }
    if (hCall <= m_hHighestCall) ++m_nHandleReuses;
    m_hHighestCall = std::max(m_hHighestCall, hCall);
    if (m_nCall % D_nSecondCallerEvery == 0) SecondCaller();
    PlayAndRecord(hCall);
    const bool bFarEnd = eKind == kOutFarEnds || eKind == kInAnsweredFarEnds ||
                         (eKind == kInAutoAnswered && m_random.Between(0, 1) == 1);
    HangUp(hCall, bFarEnd);
    CheckTones(eKind);
    CountRenewals();
}

void CSipSoak::Measure(SSoakGauges *pGauges) {
    Settle("before reading the gauges");
    *pGauges = ReadSoakGauges();
}

int CSipSoak::Run() {
    SoakSeconds();
    printf("== soak: the SIP plug-in beside the simulated KIRO.dll, %d calls (random start %u)\n", m_options.nCalls,
           m_options.nRandomStart);
    fflush(stdout);
    if (!Load()) return 1;
    UseHarshestDelivery();
    Register();
    g_Tones.Take();
    // The gauges are read right after a re-registration, whose unregistered
    // state stops every tone: a busy tone still sounding would hold the
    // sound API's thread and window.
    const int nEvery = m_options.nReregisterEvery;
    const int nWarmUp = m_options.WarmUpCalls();
    SSoakGauges warm, end;
    for (m_nCall = 1; m_nCall <= m_options.nCalls; ++m_nCall) {
        RunCall();
        if ((nEvery && m_nCall % nEvery == 0) || m_nCall == nWarmUp || m_nCall == m_options.nCalls) {
            Reregister();
            m_checks.Check("tones of each call", g_Tones.Take() == ".", m_nCall, "silence once unregistered");
        }
        if (m_nCall == nWarmUp) Measure(&warm);
        PrintSoakProgress(m_nCall);
    }
    m_nCall = m_options.nCalls;
    Measure(&end);
    m_checks.Check("call handles reused",
                   m_hHighestCall >= 0x3001 && m_hHighestCall < 0x3001 + 16 && m_nHandleReuses > 0, m_nCall,
                   "highest call handle " + std::to_string(m_hHighestCall));
    Expect("TV_UnInitialize", m_tv.pfn_TV_UnInitialize(), 0);
    Settle("the last unregistration");
    const double dSeconds = SoakSeconds();
    CheckLog();
    SSoakTolerance tolerance = D_Tolerance;
    tolerance.an[kPrivateBytes] += 2 * std::max(0LL, end.an[kHeapBytes] - warm.an[kHeapBytes]);
    PrintGaugeTable(nWarmUp, warm, end, 0, "", SSoakGauges(), tolerance);
    JudgeGrowth(m_checks, m_options, "zero growth of the gauges", GaugesWithin(end - warm, tolerance), m_nCall);
    return Report(dSeconds);
}

int CSipSoak::Report(double dSeconds) {
    static const SSoakCheckRow s_aRows[] = {
        {"calls reach the far end", "calls placed, offered, answered, ended at the far end"},
        {"play and record reach the library", "play and record requests reach the library"},
        {"library events delivered", "library's events delivered after each step"},
        {"tones of each call", "tones of each call asked of the sound API"},
        {"second callers declined", "second callers declined, the agent's call going on"},
        {"busy far end", "busy far ends' calls destroyed once, none left live"},
        {"call handles reused", "call handles from the library's table of 16, reused"},
        {"documented export results", "exports return a documented result"},
        {"log entries whole", "log entries whole"},
        {"log entries per export", "log entries per export equal to its calls"},
        {"zero growth of the gauges", "zero growth of the gauges (within tolerance)"},
    };
    PrintCheckRows(m_checks, s_aRows, sizeof s_aRows / sizeof s_aRows[0]);
    printf(
        "   calls: out ended by the agent %d, out ended by the far end %d, in answered ended by the agent %d,\n"
        "          in answered ended by the far end %d, in auto-answered %d; registrations %lld; log entries %lld\n",
        m_nKinds[kOutHostEnds], m_nKinds[kOutFarEnds], m_nKinds[kInAnsweredHostEnds], m_nKinds[kInAnsweredFarEnds],
        m_nKinds[kInAutoAnswered], m_nRegistrations, m_nLogEntries);
    printf(
        "   library: call handles up to %u, a handle handed out again %lld times; registration renewed every %d ms,\n"
        "            seen after at least %lld calls; second callers declined %lld; busy far ends %lld\n",
        m_hHighestCall, m_nHandleReuses, D_nRenewalMs, m_nRenewals, m_nSecondCallers, m_nBusyCalls);
    return PrintVerdict(m_checks, m_options.nCalls, dSeconds);
}
