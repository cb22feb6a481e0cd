// The agent's requests on the host's thread, its state waits and its
// observer list (threads and sharing: see SipAgent.h).
#include "SipAgent.h"

namespace {
// Arguments of KIRO_Initialize: SIP port, first media port, most calls at
// once, user-agent name, then the host's option string and no flags.
const int D_nSipPort = 5060;
const int D_nMediaPort = 10000;
const int D_nMaxCalls = 16;
const char D_szUserAgent[] = "kIRO";

bool IsEmpty(const char *szText) { return !szText || !*szText; }

// The releasing thread must sit out the far end's answer before the line goes.
const DWORD D_dwUnregisterPauseMs = 500;
}  // namespace

CSipAgent &CSipAgent::Instance() {
  static CSipAgent *s_pAgent = new CSipAgent();
  return *s_pAgent;
}

bool CSipAgent::Refuse(int nError) {
  m_nLastError.store(nError);
  return false;
}

bool CSipAgent::StartLibrary(const char *szInitOption) {
  if (m_hInstance != 0) return Refuse(ERR_WRONG_STATE);
  int nResult = KIRO_Initialize(&m_hInstance, D_nSipPort, D_nMediaPort, D_nMaxCalls,
                                D_szUserAgent, szInitOption ? szInitOption : "", 0);
  if (nResult == 0) nResult = KIRO_EventListenerAdd(m_hInstance, AgentEventCallback, nullptr);
  if (nResult != 0) return Refuse(nResult);
  SetState(STATE_UNREGISTERED);
  NotifyObservers();
  return true;
}

bool CSipAgent::RequestRegistration(const char *szDomain, const char *szUser,
                                    const char *szCredential, const char *szOutboundProxy,
                                    const char *szIdentity) {
  if (IsEmpty(szDomain) || IsEmpty(szOutboundProxy) || IsEmpty(szUser) ||
      IsEmpty(szCredential) || IsEmpty(szIdentity))
    return Refuse(ERR_BAD_ARGUMENT);
  if (State() != STATE_UNREGISTERED || Line() != 0) return Refuse(ERR_WRONG_STATE);
  KIRO_HANDLE hLine = 0;
  int nResult = KIRO_AddLine(m_hInstance, &hLine, szIdentity);
  if (nResult != 0) return Refuse(nResult);
  // The line must be known before its registration event can come.
  m_hReleasingLine.store(0);
  m_hLine.store(hLine);
  KIRO_SetOutboundProxy(m_hInstance, szOutboundProxy);
  nResult = KIRO_LineRegister(hLine, szDomain, szUser, szCredential, szIdentity);
  if (nResult != 0) {
    KIRO_RemoveLine(hLine);
    m_hLine.store(0);
    return Refuse(nResult);
  }
  return true;
}

bool CSipAgent::ReleaseLine() {
  KIRO_HANDLE hLine = Line();
  int nResult = KIRO_LineUnRegister(hLine);
  if (nResult != 0) return Refuse(nResult);
  Sleep(D_dwUnregisterPauseMs);
  // From here the line handle is gone, yet its unregistration may still be
  // on its way: keep recognising it.
  m_hReleasingLine.store(hLine);
  nResult = KIRO_RemoveLine(hLine);
  m_hLine.store(0);
  return nResult == 0 || Refuse(nResult);
}

bool CSipAgent::RequestCall(const char *szDestination) {
  if (IsEmpty(szDestination)) return Refuse(ERR_BAD_ARGUMENT);
  if (State() != STATE_REGISTERED) return Refuse(ERR_WRONG_STATE);
  int nResult = KIRO_CallCreate(m_hInstance, Line(), &m_hCall, szDestination);
  return nResult == 0 || Refuse(nResult);
}

bool CSipAgent::RequestHangUp() {
  if (!(State() & (STATE_ALERTING | STATE_RINGING | STATE_TALKING))) return Refuse(ERR_WRONG_STATE);
  int nResult = KIRO_CallDestroy(&m_hCall);
  return nResult == 0 || Refuse(nResult);
}

bool CSipAgent::RequestAnswer() {
  if (State() != STATE_RINGING) return Refuse(ERR_WRONG_STATE);
  int nResult = KIRO_CallAnswer(Call());
  return nResult == 0 || Refuse(nResult);
}

bool CSipAgent::RunTalkingRequest(PFN_CallRequest pfnRequest, const char *szFile,
                                  bool bNeedsFile) {
  if (bNeedsFile && !szFile) return Refuse(ERR_BAD_ARGUMENT);
  if (State() != STATE_TALKING) return Refuse(ERR_WRONG_STATE);
  int nResult = pfnRequest(Call(), szFile);
  if (nResult != 0) return Refuse(nResult);
  NotifyObservers();
  return true;
}

bool CSipAgent::WaitForState(uint32_t nMask, int nPolls) const {
  int nPoll = 0;
  if (nPolls <= 0) return false;
  do {
    if (State() & nMask) return true;
    Sleep(1);
    ++nPoll;
  } while (nPoll < nPolls);
  return false;
}

void CSipAgent::AddObserver(CAgentObserver *pObserver) {
  AcquireSRWLockExclusive(&m_observerLock);
  m_observers.push_back(pObserver);
  ReleaseSRWLockExclusive(&m_observerLock);
}

size_t CSipAgent::ObserverCount() const {
  AcquireSRWLockShared(&m_observerLock);
  size_t nCount = m_observers.size();
  ReleaseSRWLockShared(&m_observerLock);
  return nCount;
}

void CSipAgent::NotifyObservers() {
  // A copy, so the observers run without the lock and an observer added
  // meanwhile (even by one of them) waits for the next notification.
  AcquireSRWLockShared(&m_observerLock);
  std::vector<CAgentObserver *> observers = m_observers;
  ReleaseSRWLockShared(&m_observerLock);
  for (CAgentObserver *pObserver : observers) pObserver->OnAgentChanged(*this);
}
