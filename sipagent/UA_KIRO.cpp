// The 11 exports of the SIP agent plug-in.
//
// They run on the host's threads, several at once if the host likes (the
// agent makes each request one step, see SipAgent.h), and block the calling
// thread until an event brings the outcome into the agent's state: woken by
// that event, or given up D_dwWaitMs after the wait began. Their log entries
// name this file, the line and the export; every failing export writes one,
// with its result and the library's error code or the reason it was
// refused. A missing string is taken as an empty one and refused the same
// way.
#include <stdio.h>

#include "AgentLog.h"
#include "SipAgent.h"
#include "TonePlayer.h"
#include "marenta.h"

namespace {
const char D_szLogFileName[] = "BRAVIK32.log";
const size_t D_nIdentitySize = 255;
const char D_szServerTimeout[] = "failed, server timeout.";

const char *OrEmpty(const char *szText) { return szText ? szText : ""; }

// Where a log entry comes from, so that a helper writes it in the export's name.
struct SLogSite {
  const char *szFile;
  int nLine;
  const char *szFunction;
  const char *szSignature;
};
#define LOG_SITE() (SLogSite{__FILE__, __LINE__, __FUNCTION__, __PRETTY_FUNCTION__})

CAgentLog &LogAt(const SLogSite &site) {
  return g_AgentLog.Header(site.szFile, site.nLine, site.szFunction, site.szSignature);
}

// The wait every blocking export ends with, armed by its request: true when
// the state came in time, else logs the timeout in the export's name.
bool AwaitState(CSipAgent::CStateWait &wait, const SLogSite &site, const char *szTimeoutText) {
  if (wait.Wait(D_dwWaitMs)) return true;
  LogAt(site).Write(szTimeoutText);
  return false;
}

const char *StateName(AgentState eState) {
  switch (eState) {
    case STATE_UNINITIALISED: return "uninitialised";
    case STATE_UNREGISTERED: return "unregistered";
    case STATE_REGISTERED: return "registered";
    case STATE_CALLING: return "calling";
    case STATE_ALERTING: return "alerting";
    case STATE_RINGING: return "ringing";
    case STATE_TALKING: return "talking";
    case STATE_RELEASED: return "released";
  }
  return "unknown";
}

// The entry of a refused or failed request, "failed (RESULT), " and why: the
// library's error code, a bad argument, or the state that refused it. Answers
// the result.
int Failed(const SLogSite &site, int nResult) {
  const CSipAgent &agent = CSipAgent::Instance();
  CAgentLog &log = LogAt(site).Write("failed (").WriteNumber(nResult).Write("), ");
  if (agent.LastErrorIsTheLibrarys())
    log.Write("error code: ").WriteNumber(agent.LastError());
  else if (agent.LastError() == ERR_BAD_ARGUMENT)
    log.Write("bad argument");
  else
    log.Write("wrong state: ").Write(StateName(agent.RefusedIn()));
  log.Write(".");
  return nResult;
}

int TalkingRequest(PFN_CallRequest pfnRequest, const char *szFile, bool bNeedsFile, const SLogSite &site) {
  if (CSipAgent::Instance().RunTalkingRequest(pfnRequest, szFile, bNeedsFile)) return 0;
  return Failed(site, -1);
}
}  // namespace

extern "C" {

int __cdecl TV_Initialize(const char *domain, const char *user, const char *credential, const char *outboundProxy,
                          const char *initOption) {
  char szIdentity[D_nIdentitySize];
  static_cast<void>(snprintf(szIdentity, sizeof szIdentity, "%s@%s", OrEmpty(user), OrEmpty(domain)));  // cut to fit
  // Named first, so that the first TV_Initialize of a process is logged too.
  g_AgentLog.SetFileName(D_szLogFileName);
  AGENT_LOG_ENTRY();
  CSipAgent &agent = CSipAgent::Instance();
  // Once per process: a host that registers again and again must not have
  // each event's tone asked for as many times.
  agent.AddObserverOnce(&g_TonePlayer);
  if (!agent.EnsureLibraryStarted(OrEmpty(initOption))) return Failed(LOG_SITE(), -1);
  CSipAgent::CStateWait wait(STATE_REGISTERED);
  if (!agent.RequestRegistration(domain, user, credential, outboundProxy, szIdentity, wait))
    return Failed(LOG_SITE(), -3);
  return AwaitState(wait, LOG_SITE(), "register failed, server timeout.") ? 0 : -2;
}

int __cdecl TV_UnInitialize(void) {
  CSipAgent &agent = CSipAgent::Instance();
  CSipAgent::CStateWait wait(STATE_UNREGISTERED);
  if (!agent.ReleaseLine(wait)) return Failed(LOG_SITE(), -2);
  if (AwaitState(wait, LOG_SITE(), D_szServerTimeout)) return 0;
  agent.AbandonRelease();
  return -1;
}

int __cdecl TV_MakeCall(const char *destination) {
  CSipAgent::CStateWait wait(STATE_ALERTING | STATE_REGISTERED);
  if (!CSipAgent::Instance().RequestCall(destination, wait)) return Failed(LOG_SITE(), -2);
  if (!AwaitState(wait, LOG_SITE(), D_szServerTimeout)) return -1;
  AGENT_LOG_ENTRY().Write("successfully.");
  return 0;
}

int __cdecl TV_HangUpCall(void) {
  CSipAgent &agent = CSipAgent::Instance();
  // Unregistered is the end of a call whose registration the server dropped.
  CSipAgent::CStateWait wait(STATE_REGISTERED | STATE_UNREGISTERED);
  if (!agent.RequestHangUp(wait)) {
    AGENT_LOG_ENTRY().Write("failed, error code: ").WriteNumber(agent.LastError());
    return -2;
  }
  return AwaitState(wait, LOG_SITE(), D_szServerTimeout) ? 0 : -1;
}

int __cdecl TV_OffHook(void) {
  CSipAgent::CStateWait wait(STATE_TALKING);
  if (!CSipAgent::Instance().RequestAnswer(wait)) return Failed(LOG_SITE(), -2);
  return AwaitState(wait, LOG_SITE(), D_szServerTimeout) ? 0 : -1;
}

int __cdecl TV_PickUp(void) {
  CSipAgent::Instance().SetAutoAnswer();
  AGENT_LOG_ENTRY().Write("Picked up.");
  return 0;
}

int __cdecl TV_Installed(void) {
  AGENT_LOG_ENTRY().Write("Just called(DUMMY USE).");
  return 1;
}

int __cdecl TV_StartPlayFile(const char *file) {
  return TalkingRequest([](KIRO_HANDLE hCall, const char *szFile) { return KIRO_CallStartPlayFile(hCall, szFile, 0); },
                        file, true, LOG_SITE());
}

int __cdecl TV_StopPlayFile(void) {
  return TalkingRequest([](KIRO_HANDLE hCall, const char *) { return KIRO_CallStopPlayFile(hCall); }, nullptr, false,
                        LOG_SITE());
}

int __cdecl TV_StartRecordFile(const char *file) {
  return TalkingRequest(KIRO_CallRecordStart, file, true, LOG_SITE());
}

int __cdecl TV_StopRecordFile(void) {
  return TalkingRequest([](KIRO_HANDLE hCall, const char *) { return KIRO_CallRecordStop(hCall); }, nullptr, false,
                        LOG_SITE());
}

}  // extern "C"
