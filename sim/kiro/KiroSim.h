// Test controls of the simulated SIP library (sim KIRO.dll).
//
// The simulated KIRO.dll exports the 15 KIRO_ functions the agent plug-in
// imports, plus the KiroSim_ controls below. The plug-in never calls the
// controls: tests and the benchmark bind them with GetProcAddress (see
// CKiroSimControls) to force results, delay or drop events, inject raw event
// records, play the far end of a call and read back every KIRO_ call made.
// By default it does what real libraries do every day: call handles come
// from a table of as many calls as KIRO_Initialize allows, lowest free first,
// and are handed out again once a call is closed; a registered line is
// renewed every KIROSIM_RENEWAL_MS with 21000, during calls too; an outgoing
// call alerts twice (180, then 183); a line whose registration the server
// dropped has its unregistration refused. A mode makes the library as unkind as a
// real one can be (KiroSimMode); KiroSim_SetMode(KIROSIM_MODE_HARSHEST)
// switches the delivery modes on at once.
//
// Each KIRO_ call is recorded as one line of fields separated by '|': the
// function name, then its arguments in order (handles in decimal, strings as
// given, "(null)" for a null string; an out handle is not shown, the handle
// behind KIRO_CallDestroy's pointer is).
#pragma once

#include <windows.h>
#include <stdint.h>
#include <string>
#include <vector>

// Failure codes of the simulated library.
enum KiroSimError {
  KIROSIM_ERR_BAD_HANDLE = 101,
  KIROSIM_ERR_WRONG_STATE = 102,
  KIROSIM_ERR_BAD_ARGUMENT = 103,
  KIROSIM_ERR_NO_ROOM = 104,  // every call handle of the table in use
};

// How the library delivers its events; the bits combine.
enum KiroSimMode {
  KIROSIM_MODE_PLAIN = 0,    // one delivery thread, events after their delays
  KIROSIM_MODE_THREADS = 1,  // several delivery threads at once: one line's or
                             // call's events stay in order, different ones race
  KIROSIM_MODE_EARLY = 2,    // a request's events are delivered before it returns
  KIROSIM_MODE_REPEAT = 4,   // every event is delivered twice
  KIROSIM_MODE_STALE = 8,    // events keep coming for lines and calls already gone
  KIROSIM_MODE_HARSHEST = 15,
  KIROSIM_MODE_SYNC = 16,            // a request's events are delivered on the requesting
                                     // thread, inside the request
  KIROSIM_MODE_RACE_CALL = 32,       // one call's events are raced on two delivery threads
  KIROSIM_MODE_SECOND_CALLER = 64,   // a second caller is offered on the line as
                                     // each call connects
  KIROSIM_MODE_RENEWAL_FAILS = 128,  // every renewal fails (22000); the registration
                                     // holds until the server expires it
  KIROSIM_MODE_NO_ANSWER = 256,      // nobody answers an outgoing call: no alerting,
                                     // released by the library after KIROSIM_NO_ANSWER_MS
  KIROSIM_MODE_GLARE = 512,          // a caller is offered on the line as the agent places a
                                     // call, its events ahead of the placed call's
  KIROSIM_MODE_DESTROY_LOST = 1024,  // KIRO_CallDestroy ends the call but never reports it:
                                     // no 8000, no 11000
};

// Status words of call events the far end or the library failed: a busy
// far end (486), a cancelled call (487), a refused re-INVITE (0).
#define KIROSIM_STATUS_BUSY             486
#define KIROSIM_STATUS_CANCELLED        487
#define KIROSIM_STATUS_REINVITE_REFUSED 0

// Line event of a renewal that failed; the plug-in does not act on it.
#define KIROSIM_LINE_RENEWAL_FAILED 22000
// Period of the registration renewals until a test sets another.
#define KIROSIM_RENEWAL_MS 1000
// The library's own give-up time for an outgoing call nobody answers.
#define KIROSIM_NO_ANSWER_MS 400

// Delay value that drops an event instead of sending it.
#define KIROSIM_DROP (-1)
// Delay of every event until a test sets another.
#define KIROSIM_DEFAULT_DELAY_MS 5

extern "C" {
typedef void(__cdecl *PFN_KiroSim_Reset)(void);
typedef void(__cdecl *PFN_KiroSim_ForceResult)(const char *szFunction, int nResult);
typedef void(__cdecl *PFN_KiroSim_SetEventDelay)(int nCode, int nDelayMs);
typedef void(__cdecl *PFN_KiroSim_SendEvent)(int nType, const uint32_t *pWords, int nWords, int nDelayMs);
typedef uint32_t(__cdecl *PFN_KiroSim_OfferCall)(uint32_t hLine);
typedef int(__cdecl *PFN_KiroSim_RemoteAnswer)(uint32_t hCall);
typedef int(__cdecl *PFN_KiroSim_RemoteHangUp)(uint32_t hCall);
typedef int(__cdecl *PFN_KiroSim_WaitIdle)(int nTimeoutMs);
typedef int(__cdecl *PFN_KiroSim_CallCount)(void);
typedef int(__cdecl *PFN_KiroSim_GetCall)(int nIndex, char *szOut, int nSize);
typedef uint32_t(__cdecl *PFN_KiroSim_LatestLine)(void);
typedef uint32_t(__cdecl *PFN_KiroSim_LatestCall)(void);
typedef int64_t(__cdecl *PFN_KiroSim_DispatchTime)(int nCode);
typedef void(__cdecl *PFN_KiroSim_SetMode)(int nMode);
typedef void(__cdecl *PFN_KiroSim_FailStep)(int nStep, int nResult);
typedef int(__cdecl *PFN_KiroSim_ListenerCount)(void);
typedef int(__cdecl *PFN_KiroSim_LiveCalls)(void);
typedef void(__cdecl *PFN_KiroSim_EndCalls)(void);
typedef int(__cdecl *PFN_KiroSim_GetMode)(void);
typedef void(__cdecl *PFN_KiroSim_SetRenewal)(int nEveryMs);
typedef int(__cdecl *PFN_KiroSim_ExpireLine)(uint32_t hLine);
typedef void(__cdecl *PFN_KiroSim_SetEventStatus)(int nCode, int nStatus);
typedef int(__cdecl *PFN_KiroSim_RemoteRelease)(uint32_t hCall, int nStatus);
typedef int(__cdecl *PFN_KiroSim_RefuseReinvite)(uint32_t hCall);
}

// The controls bound from a loaded simulated KIRO.dll.
struct CKiroSimControls {
  // Forgets lines, calls, queued events, faults, delays, the mode and the
  // record; keeps the started instances and their listeners, as a real
  // library that has no call to remove them would.
  PFN_KiroSim_Reset Reset = nullptr;
  PFN_KiroSim_ForceResult ForceResult = nullptr;
  PFN_KiroSim_SetEventDelay SetEventDelay = nullptr;
  PFN_KiroSim_SendEvent SendEvent = nullptr;
  PFN_KiroSim_OfferCall OfferCall = nullptr;
  PFN_KiroSim_RemoteAnswer RemoteAnswer = nullptr;
  PFN_KiroSim_RemoteHangUp RemoteHangUp = nullptr;
  PFN_KiroSim_WaitIdle WaitIdle = nullptr;
  PFN_KiroSim_CallCount CallCount = nullptr;
  PFN_KiroSim_GetCall GetCall = nullptr;
  PFN_KiroSim_LatestLine LatestLine = nullptr;
  PFN_KiroSim_LatestCall LatestCall = nullptr;
  PFN_KiroSim_DispatchTime DispatchTime = nullptr;
  PFN_KiroSim_SetMode SetMode = nullptr;
  // The nStep-th KIRO_ call from now (0: the next one), made on any thread,
  // fails once with nResult; a negative step lifts it.
  PFN_KiroSim_FailStep FailStep = nullptr;
  PFN_KiroSim_ListenerCount ListenerCount = nullptr;
  PFN_KiroSim_LiveCalls LiveCalls = nullptr;
  // The far end gives up every call: 8000 (unless released), 11000, gone.
  PFN_KiroSim_EndCalls EndCalls = nullptr;
  PFN_KiroSim_GetMode GetMode = nullptr;
  // Registration renewals every nEveryMs from now; 0 stops them.
  PFN_KiroSim_SetRenewal SetRenewal = nullptr;
  // The server drops the line's registration: 23000, unasked; the line stays
  // in the library, unregistered and without renewals.
  PFN_KiroSim_ExpireLine ExpireLine = nullptr;
  // The status word of every later call event with this code (1 until set;
  // the release of RemoteRelease keeps its own).
  PFN_KiroSim_SetEventStatus SetEventStatus = nullptr;
  // The far end ends the call with this status word on its 8000 (486 for a
  // busy far end); the call then waits for KIRO_CallDestroy.
  PFN_KiroSim_RemoteRelease RemoteRelease = nullptr;
  // The far end refuses a re-INVITE on the connected call: 4000 with status
  // 0, and the call stays connected in the library.
  PFN_KiroSim_RefuseReinvite RefuseReinvite = nullptr;

  // Binds every control; false if the module lacks one of them.
  bool Bind(HMODULE hKiro) {
    return BindOne(hKiro, Reset, "KiroSim_Reset") && BindOne(hKiro, ForceResult, "KiroSim_ForceResult") &&
           BindOne(hKiro, SetEventDelay, "KiroSim_SetEventDelay") && BindOne(hKiro, SendEvent, "KiroSim_SendEvent") &&
           BindOne(hKiro, OfferCall, "KiroSim_OfferCall") && BindOne(hKiro, RemoteAnswer, "KiroSim_RemoteAnswer") &&
           BindOne(hKiro, RemoteHangUp, "KiroSim_RemoteHangUp") && BindOne(hKiro, WaitIdle, "KiroSim_WaitIdle") &&
           BindOne(hKiro, CallCount, "KiroSim_CallCount") && BindOne(hKiro, GetCall, "KiroSim_GetCall") &&
           BindOne(hKiro, LatestLine, "KiroSim_LatestLine") && BindOne(hKiro, LatestCall, "KiroSim_LatestCall") &&
           BindOne(hKiro, DispatchTime, "KiroSim_DispatchTime") && BindOne(hKiro, SetMode, "KiroSim_SetMode") &&
           BindOne(hKiro, FailStep, "KiroSim_FailStep") && BindOne(hKiro, ListenerCount, "KiroSim_ListenerCount") &&
           BindOne(hKiro, LiveCalls, "KiroSim_LiveCalls") && BindOne(hKiro, EndCalls, "KiroSim_EndCalls") &&
           BindOne(hKiro, GetMode, "KiroSim_GetMode") && BindOne(hKiro, SetRenewal, "KiroSim_SetRenewal") &&
           BindOne(hKiro, ExpireLine, "KiroSim_ExpireLine") &&
           BindOne(hKiro, SetEventStatus, "KiroSim_SetEventStatus") &&
           BindOne(hKiro, RemoteRelease, "KiroSim_RemoteRelease") &&
           BindOne(hKiro, RefuseReinvite, "KiroSim_RefuseReinvite");
  }

  // Every KIRO_ call recorded since the last reset, oldest first.
  std::vector<std::string> Calls() const {
    std::vector<std::string> calls;
    char szLine[1024];
    for (int i = 0, n = CallCount(); i < n; ++i)
      if (GetCall(i, szLine, sizeof szLine) >= 0) calls.push_back(szLine);
    return calls;
  }

  // The recorded calls of one function only.
  std::vector<std::string> CallsOf(const std::string &strFunction) const {
    std::vector<std::string> found;
    for (const std::string &strCall : Calls())
      if (strCall.compare(0, strFunction.size() + 1, strFunction + "|") == 0 || strCall == strFunction)
        found.push_back(strCall);
    return found;
  }

 private:
  template <typename F>
  static bool BindOne(HMODULE hKiro, F &pfn, const char *szName) {
    pfn = reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(hKiro, szName)));
    return pfn != nullptr;
  }
};
