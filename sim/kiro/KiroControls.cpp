// Test controls of the simulated SIP library (declared in KiroSim.h). They
// run on the test's thread under the library lock, like the KIRO_ requests,
// and are never called by the plug-in.
#include <stdio.h>
#include <string.h>

#include "KiroSim.h"
#include "KiroSimCore.h"

extern "C" {

void __cdecl KiroSim_Reset(void) {
  CKiroSim::CGuard guard;
  CKiroSim::Get().Reset();
}

void __cdecl KiroSim_ForceResult(const char *szFunction, int nResult) {
  CKiroSim::CGuard guard;
  if (szFunction) CKiroSim::Get().ForceResult(szFunction, nResult);
}

void __cdecl KiroSim_SetEventDelay(int nCode, int nDelayMs) {
  CKiroSim::CGuard guard;
  CKiroSim::Get().SetEventDelay(nCode, nDelayMs);
}

void __cdecl KiroSim_SendEvent(int nType, const uint32_t *pWords, int nWords, int nDelayMs) {
  CKiroSim::CGuard guard;
  CKiroSim::Get().QueueRawEvent(nType, pWords, nWords, nDelayMs);
}

// An incoming call on a line: 1000 then 9000; the accept brings 10000.
uint32_t __cdecl KiroSim_OfferCall(uint32_t hLine) {
  CKiroSim::CGuard guard;
  return CKiroSim::Get().OfferCall(hLine);
}

// The far end answers an outgoing call that is alerting: 4000.
int __cdecl KiroSim_RemoteAnswer(uint32_t hCall) {
  CKiroSim::CGuard guard;
  return CKiroSim::Get().AdvanceCall(hCall, EKiroSimCallState::Alerting, EKiroSimCallState::Connected,
                                     KIRO_CALL_CONNECTED);
}

// The far end hangs up: 8000; the call then waits for KIRO_CallDestroy.
int __cdecl KiroSim_RemoteHangUp(uint32_t hCall) {
  CKiroSim::CGuard guard;
  return CKiroSim::Get().ReleaseByFarEnd(hCall, CKiroSim::D_nStatusOfCode);
}

int __cdecl KiroSim_RemoteRelease(uint32_t hCall, int nStatus) {
  CKiroSim::CGuard guard;
  return CKiroSim::Get().ReleaseByFarEnd(hCall, nStatus);
}

int __cdecl KiroSim_RefuseReinvite(uint32_t hCall) {
  CKiroSim::CGuard guard;
  CKiroSim &sim = CKiroSim::Get();
  SKiroSimCall *pCall = sim.FindCall(hCall);
  if (!pCall) return KIROSIM_ERR_BAD_HANDLE;
  if (pCall->eState != EKiroSimCallState::Connected) return KIROSIM_ERR_WRONG_STATE;
  const int nConnected = KIRO_CALL_CONNECTED;
  sim.QueueCallEvents(hCall, &nConnected, 1, false, KIROSIM_STATUS_REINVITE_REFUSED);
  return 0;
}

void __cdecl KiroSim_SetEventStatus(int nCode, int nStatus) {
  CKiroSim::CGuard guard;
  CKiroSim::Get().SetEventStatus(nCode, nStatus);
}

int __cdecl KiroSim_WaitIdle(int nTimeoutMs) {
  CKiroSim::CGuard guard;
  return CKiroSim::Get().WaitIdle(nTimeoutMs) ? 1 : 0;
}

int __cdecl KiroSim_CallCount(void) {
  CKiroSim::CGuard guard;
  return CKiroSim::Get().CallCount();
}

// Copies one recorded call; answers its length, or -1 past the end.
int __cdecl KiroSim_GetCall(int nIndex, char *szOut, int nSize) {
  CKiroSim::CGuard guard;
  const std::string *pCall = CKiroSim::Get().CallAt(nIndex);
  if (!pCall || !szOut || nSize <= 0) return -1;
  snprintf(szOut, static_cast<size_t>(nSize), "%s", pCall->c_str());
  return static_cast<int>(pCall->size());
}

uint32_t __cdecl KiroSim_LatestLine(void) {
  CKiroSim::CGuard guard;
  return CKiroSim::Get().LatestLine();
}

uint32_t __cdecl KiroSim_LatestCall(void) {
  CKiroSim::CGuard guard;
  return CKiroSim::Get().LatestCall();
}

// Performance-counter reading taken just before the latest event with this
// code went to the listeners (0 if none went yet).
int64_t __cdecl KiroSim_DispatchTime(int nCode) {
  CKiroSim::CGuard guard;
  return CKiroSim::Get().DispatchTime(nCode);
}

void __cdecl KiroSim_SetMode(int nMode) {
  CKiroSim::CGuard guard;
  CKiroSim::Get().SetMode(nMode);
}

void __cdecl KiroSim_FailStep(int nStep, int nResult) {
  CKiroSim::CGuard guard;
  CKiroSim::Get().FailStep(nStep, nResult);
}

int __cdecl KiroSim_ListenerCount(void) {
  CKiroSim::CGuard guard;
  return CKiroSim::Get().ListenerCount();
}

int __cdecl KiroSim_LiveCalls(void) {
  CKiroSim::CGuard guard;
  return CKiroSim::Get().LiveCalls();
}

void __cdecl KiroSim_EndCalls(void) {
  CKiroSim::CGuard guard;
  CKiroSim::Get().EndCalls();
}

int __cdecl KiroSim_GetMode(void) {
  CKiroSim::CGuard guard;
  return CKiroSim::Get().Mode();
}

void __cdecl KiroSim_SetRenewal(int nEveryMs) {
  CKiroSim::CGuard guard;
  CKiroSim::Get().SetRenewal(nEveryMs);
}

int __cdecl KiroSim_ExpireLine(uint32_t hLine) {
  CKiroSim::CGuard guard;
  return CKiroSim::Get().ExpireLine(hLine);
}

}  // extern "C"
