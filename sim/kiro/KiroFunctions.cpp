// The 15 KIRO_ functions of the simulated SIP library.
//
// Each request is recorded with its arguments, then answers with a result a
// test forced (by function, or by its step in the sequence of calls; doing
// nothing else), or checks its handles and arguments as the real library
// would and queues the events that tell the outcome. The events go out on the
// library's own threads after their delays, never inside the request unless
// the early mode delivers them before it returns; a listener may re-enter any
// of these functions from its callback. Default flows: register -> 21000;
// unregister -> 23000; remove line -> every call on it ends (8000, 11000);
// create -> 1000, 2000, 3000, 3000 (180, then 183), or without alerting and
// released after KIROSIM_NO_ANSWER_MS when nobody answers; accept -> 10000;
// answer -> 4000; destroy ->
// 8000, 11000 (only 11000 when the far end released first and the call waits
// for its destroy). Call events carry status word 1 unless a test set
// another for their code (or the far end's release carries its own).
#include <stdio.h>

#include "KiroSim.h"
#include "KiroSimCore.h"

namespace {
const char *Shown(const char *szText) { return szText ? szText : "(null)"; }

bool IsEmpty(const char *szText) { return !szText || !*szText; }

// Record the request, then answer with a forced result if a test set one.
#define KIROSIM_ENTER(function, ...) \
  CKiroSim::CRequest request;        \
  CKiroSim &sim = CKiroSim::Get();   \
  sim.Record(function __VA_ARGS__);  \
  if (int nForced = sim.ForcedResult(function)) return nForced

// A call request that needs a live call; answers its check's result.
int CheckCall(CKiroSim &sim, KIRO_HANDLE hCall) { return sim.FindCall(hCall) ? 0 : KIROSIM_ERR_BAD_HANDLE; }
}  // namespace

extern "C" {

int __cdecl KIRO_Initialize(KIRO_HANDLE *phInstance, int nSipPort, int nMediaPort, int nMaxCalls,
                            const char *szUserAgent, const char *szOptions, int nFlags) {
  KIROSIM_ENTER("KIRO_Initialize", "|%d|%d|%d|%s|%s|%d", nSipPort, nMediaPort, nMaxCalls, Shown(szUserAgent),
                Shown(szOptions), nFlags);
  if (!phInstance) return KIROSIM_ERR_BAD_ARGUMENT;
  sim.SetMaxCalls(nMaxCalls);
  *phInstance = sim.NewInstance();
  return 0;
}

int __cdecl KIRO_EventListenerAdd(KIRO_HANDLE hInstance, KIRO_EVENT_CALLBACK pfnCallback, void *pContext) {
  KIROSIM_ENTER("KIRO_EventListenerAdd", "|%u|%llu", hInstance,
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pContext)));
  if (!sim.IsInstance(hInstance)) return KIROSIM_ERR_BAD_HANDLE;
  if (!pfnCallback) return KIROSIM_ERR_BAD_ARGUMENT;
  sim.AddListener(pfnCallback, pContext);
  return 0;
}

int __cdecl KIRO_AddLine(KIRO_HANDLE hInstance, KIRO_HANDLE *phLine, const char *szIdentity) {
  KIROSIM_ENTER("KIRO_AddLine", "|%u|%s", hInstance, Shown(szIdentity));
  if (!sim.IsInstance(hInstance)) return KIROSIM_ERR_BAD_HANDLE;
  if (!phLine || IsEmpty(szIdentity)) return KIROSIM_ERR_BAD_ARGUMENT;
  *phLine = sim.NewLine();
  return 0;
}

int __cdecl KIRO_SetOutboundProxy(KIRO_HANDLE hInstance, const char *szProxy) {
  KIROSIM_ENTER("KIRO_SetOutboundProxy", "|%u|%s", hInstance, Shown(szProxy));
  return sim.IsInstance(hInstance) ? 0 : KIROSIM_ERR_BAD_HANDLE;
}

int __cdecl KIRO_LineRegister(KIRO_HANDLE hLine, const char *szDomain, const char *szUser, const char *szCredential,
                              const char *szIdentity) {
  KIROSIM_ENTER("KIRO_LineRegister", "|%u|%s|%s|%s|%s", hLine, Shown(szDomain), Shown(szUser), Shown(szCredential),
                Shown(szIdentity));
  if (!sim.IsLine(hLine)) return KIROSIM_ERR_BAD_HANDLE;
  if (IsEmpty(szDomain) || IsEmpty(szUser)) return KIROSIM_ERR_BAD_ARGUMENT;
  sim.ConfirmRegistration(hLine);
  return 0;
}

int __cdecl KIRO_LineUnRegister(KIRO_HANDLE hLine) {
  KIROSIM_ENTER("KIRO_LineUnRegister", "|%u", hLine);
  if (!sim.IsLine(hLine)) return KIROSIM_ERR_BAD_HANDLE;
  // Nothing to take back from the server once it dropped the registration.
  if (sim.IsDropped(hLine)) return KIROSIM_ERR_WRONG_STATE;
  sim.StopRenewals(hLine);
  sim.QueueLineEvent(hLine, KIRO_LINE_UNREGISTERED);
  return 0;
}

int __cdecl KIRO_RemoveLine(KIRO_HANDLE hLine) {
  KIROSIM_ENTER("KIRO_RemoveLine", "|%u", hLine);
  if (!sim.IsLine(hLine)) return KIROSIM_ERR_BAD_HANDLE;
  sim.RemoveLine(hLine);
  return 0;
}

int __cdecl KIRO_CallCreate(KIRO_HANDLE hInstance, KIRO_HANDLE hLine, KIRO_HANDLE *phCall, const char *szDestination) {
  KIROSIM_ENTER("KIRO_CallCreate", "|%u|%u|%s", hInstance, hLine, Shown(szDestination));
  if (!sim.IsInstance(hInstance) || !sim.IsLine(hLine)) return KIROSIM_ERR_BAD_HANDLE;
  if (!phCall || IsEmpty(szDestination)) return KIROSIM_ERR_BAD_ARGUMENT;
  const bool bNoAnswer = (sim.Mode() & KIROSIM_MODE_NO_ANSWER) != 0;
  if (sim.Mode() & KIROSIM_MODE_GLARE) sim.OfferCall(hLine);
  KIRO_HANDLE hCall = sim.NewCall(hLine, bNoAnswer ? EKiroSimCallState::Calling : EKiroSimCallState::Alerting);
  if (!hCall) return KIROSIM_ERR_NO_ROOM;
  *phCall = hCall;
  const int aProgress[] = {KIRO_CALL_CREATED, KIRO_CALL_OUTGOING, KIRO_CALL_ALERTING, KIRO_CALL_ALERTING};
  sim.QueueCallEvents(hCall, aProgress, bNoAnswer ? 2 : 4);
  if (bNoAnswer) sim.GiveUpLater(hCall);
  return 0;
}

int __cdecl KIRO_CallAccept(KIRO_HANDLE hCall) {
  KIROSIM_ENTER("KIRO_CallAccept", "|%u", hCall);
  return sim.AdvanceCall(hCall, EKiroSimCallState::Offered, EKiroSimCallState::Ringing, KIRO_CALL_RINGING);
}

int __cdecl KIRO_CallAnswer(KIRO_HANDLE hCall) {
  KIROSIM_ENTER("KIRO_CallAnswer", "|%u", hCall);
  return sim.AdvanceCall(hCall, EKiroSimCallState::Ringing, EKiroSimCallState::Connected, KIRO_CALL_CONNECTED);
}

int __cdecl KIRO_CallDestroy(KIRO_HANDLE *phCall) {
  KIROSIM_ENTER("KIRO_CallDestroy", "|%u", phCall ? *phCall : 0u);
  if (!phCall) return KIROSIM_ERR_BAD_ARGUMENT;
  SKiroSimCall *pCall = sim.FindCall(*phCall);
  if (!pCall) return KIROSIM_ERR_BAD_HANDLE;
  KIRO_HANDLE hCall = *phCall;
  // In the lost mode the call ends all the same, its end never told.
  if (!(sim.Mode() & KIROSIM_MODE_DESTROY_LOST)) sim.QueueEnd(hCall);
  sim.RemoveCall(hCall);
  *phCall = 0;
  return 0;
}

int __cdecl KIRO_CallStartPlayFile(KIRO_HANDLE hCall, const char *szFile, int nFlags) {
  KIROSIM_ENTER("KIRO_CallStartPlayFile", "|%u|%s|%d", hCall, Shown(szFile), nFlags);
  if (!szFile) return KIROSIM_ERR_BAD_ARGUMENT;
  return CheckCall(sim, hCall);
}

int __cdecl KIRO_CallStopPlayFile(KIRO_HANDLE hCall) {
  KIROSIM_ENTER("KIRO_CallStopPlayFile", "|%u", hCall);
  return CheckCall(sim, hCall);
}

int __cdecl KIRO_CallRecordStart(KIRO_HANDLE hCall, const char *szFile) {
  KIROSIM_ENTER("KIRO_CallRecordStart", "|%u|%s", hCall, Shown(szFile));
  if (!szFile) return KIROSIM_ERR_BAD_ARGUMENT;
  return CheckCall(sim, hCall);
}

int __cdecl KIRO_CallRecordStop(KIRO_HANDLE hCall) {
  KIROSIM_ENTER("KIRO_CallRecordStop", "|%u", hCall);
  return CheckCall(sim, hCall);
}

}  // extern "C"
