// The 11 exports of the SIP agent plug-in.
//
// They run on the host's threads, several at once if the host likes (the
// agent makes each request one step, see SipAgent.h), and block the calling
// thread until an event brings the outcome into the agent's state: woken by
// that event, or given up D_dwWaitMs after the wait began. Their log entries
// name this file, the line and the export. A missing string is taken as an
// empty one and refused the same way.
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

// The wait every blocking export ends with: true when the state came in time,
// else logs the timeout in the export's name.
bool AwaitState(uint32_t nMask, const SLogSite &site, const char *szTimeoutText) {
  if (CSipAgent::Instance().WaitForState(nMask, D_dwWaitMs)) return true;
  LogAt(site).Write(szTimeoutText);
  return false;
}

int TalkingRequest(PFN_CallRequest pfnRequest, const char *szFile, bool bNeedsFile) {
  return CSipAgent::Instance().RunTalkingRequest(pfnRequest, szFile, bNeedsFile) ? 0 : -1;
}
}  // namespace

extern "C" {

int __cdecl TV_Initialize(const char *domain, const char *user, const char *credential,
                          const char *outboundProxy, const char *initOption) {
  char szIdentity[D_nIdentitySize];
  snprintf(szIdentity, sizeof szIdentity, "%s@%s", OrEmpty(user), OrEmpty(domain));
  AGENT_LOG_ENTRY();
  g_AgentLog.SetFileName(D_szLogFileName);
  CSipAgent &agent = CSipAgent::Instance();
  // On every call: a repeated TV_Initialize adds the tone player again.
  agent.AddObserver(&g_TonePlayer);
  if (!agent.EnsureLibraryStarted(OrEmpty(initOption))) return -1;
  if (!agent.RequestRegistration(domain, user, credential, outboundProxy, szIdentity)) return -3;
  return AwaitState(STATE_REGISTERED, LOG_SITE(), "register failed, server timeout.") ? 0 : -2;
}

int __cdecl TV_UnInitialize(void) {
  if (!CSipAgent::Instance().ReleaseLine()) return -2;
  return AwaitState(STATE_UNREGISTERED, LOG_SITE(), D_szServerTimeout) ? 0 : -1;
}

int __cdecl TV_MakeCall(const char *destination) {
  if (!CSipAgent::Instance().RequestCall(destination)) return -2;
  if (!AwaitState(STATE_ALERTING | STATE_REGISTERED, LOG_SITE(), D_szServerTimeout)) return -1;
  AGENT_LOG_ENTRY().Write("successfully.");
  return 0;
}

int __cdecl TV_HangUpCall(void) {
  CSipAgent &agent = CSipAgent::Instance();
  if (!agent.RequestHangUp()) {
    AGENT_LOG_ENTRY().Write("failed, error code: ").WriteNumber(agent.LastError());
    return -2;
  }
  return AwaitState(STATE_REGISTERED, LOG_SITE(), D_szServerTimeout) ? 0 : -1;
}

int __cdecl TV_OffHook(void) {
  if (!CSipAgent::Instance().RequestAnswer()) return -2;
  return AwaitState(STATE_TALKING, LOG_SITE(), D_szServerTimeout) ? 0 : -1;
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
  return TalkingRequest([](KIRO_HANDLE hCall, const char *szFile) {
    return KIRO_CallStartPlayFile(hCall, szFile, 0);
  }, file, true);
}

int __cdecl TV_StopPlayFile(void) {
  return TalkingRequest([](KIRO_HANDLE hCall, const char *) {
    return KIRO_CallStopPlayFile(hCall);
  }, nullptr, false);
}

int __cdecl TV_StartRecordFile(const char *file) {
  return TalkingRequest(KIRO_CallRecordStart, file, true);
}

int __cdecl TV_StopRecordFile(void) {
  return TalkingRequest([](KIRO_HANDLE hCall, const char *) {
    return KIRO_CallRecordStop(hCall);
  }, nullptr, false);
}

}  // extern "C"
