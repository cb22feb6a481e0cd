// The agent's requests on the host's threads, its state waits and its
// observer list (threads, locks and sharing: see SipAgent.h).
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

// The library keeps AgentEventCallback for ever (it has no call to remove a
// listener), so this module, and KIRO.dll with it, must stay mapped for the
// life of the process: FreeLibrary by the host then leaves it in place, and a
// later LoadLibrary finds the same agent with its library and listener.
void PinThisModule() {
  HMODULE hSelf = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCSTR>(&AgentEventCallback), &hSelf);
}

// Milliseconds left until a point fixed by the performance counter, which
// keeps time whatever the system timer's resolution.
class CDeadline {
 public:
  explicit CDeadline(DWORD dwMs) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    m_llFrequency = frequency.QuadPart;
    m_llEnd = now.QuadPart + m_llFrequency * dwMs / 1000;
  }
  // Rounded up, so that a wait for this long never ends before the point.
  DWORD MsLeft() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    LONGLONG llLeft = m_llEnd - now.QuadPart;
    return llLeft <= 0 ? 0 : static_cast<DWORD>((llLeft * 1000 + m_llFrequency - 1) / m_llFrequency);
  }

 private:
  LONGLONG m_llEnd;
  LONGLONG m_llFrequency;
};
}  // namespace

CSipAgent &CSipAgent::Instance() {
  static CSipAgent *s_pAgent = new CSipAgent();
  return *s_pAgent;
}

bool CSipAgent::Refuse(int nError) {
  m_nLastError.store(nError);
  return false;
}

bool CSipAgent::EnsureLibraryStarted(const char *szInitOption) {
  CSrwExclusive request(m_requestLock);
  if (State() != STATE_UNINITIALISED) return true;
  // An instance held in this state lost its listener to a failure: only
  // the listener is tried again, the library starts once per process.
  if (m_hInstance == 0) {
    KIRO_HANDLE hInstance = 0;
    int nResult = KIRO_Initialize(&hInstance, D_nSipPort, D_nMediaPort, D_nMaxCalls,
                                  D_szUserAgent, szInitOption ? szInitOption : "", 0);
    if (nResult != 0) return Refuse(nResult);
    m_hInstance = hInstance;
  }
  // Pinned before the library can hold the callback, even by a failed add.
  PinThisModule();
  int nResult = KIRO_EventListenerAdd(m_hInstance, AgentEventCallback, nullptr);
  if (nResult != 0) return Refuse(nResult);
  {
    CSrwExclusive lock(m_stateLock);
    SetStateLocked(STATE_UNREGISTERED);
  }
  NotifyObservers();
  return true;
}

void CSipAgent::SetLine(KIRO_HANDLE hLine, KIRO_HANDLE hReleasing) {
  CSrwExclusive lock(m_stateLock);
  m_hLine.store(hLine);
  m_hReleasingLine = hReleasing;
}

bool CSipAgent::RequestRegistration(const char *szDomain, const char *szUser,
                                    const char *szCredential, const char *szOutboundProxy,
                                    const char *szIdentity) {
  if (IsEmpty(szDomain) || IsEmpty(szOutboundProxy) || IsEmpty(szUser) ||
      IsEmpty(szCredential) || IsEmpty(szIdentity))
    return Refuse(ERR_BAD_ARGUMENT);
  CSrwExclusive request(m_requestLock);
  if (State() != STATE_UNREGISTERED || Line() != 0) return Refuse(ERR_WRONG_STATE);
  KIRO_HANDLE hLine = 0;
  int nResult = KIRO_AddLine(m_hInstance, &hLine, szIdentity);
  if (nResult != 0) return Refuse(nResult);
  // The line must be known before its registration event can come.
  SetLine(hLine, 0);
  KIRO_SetOutboundProxy(m_hInstance, szOutboundProxy);
  nResult = KIRO_LineRegister(hLine, szDomain, szUser, szCredential, szIdentity);
  if (nResult != 0) {
    KIRO_RemoveLine(hLine);
    SetLine(0, 0);
    return Refuse(nResult);
  }
  return true;
}

bool CSipAgent::ReleaseLine() {
  CSrwExclusive request(m_requestLock);
  KIRO_HANDLE hLine = Line();
  // The line stops being the agent's before the request, whose answer may
  // come before it returns: from here only its unregistration counts, found
  // by the mark however late it comes, and a registration event still on its
  // way is stale. Without a line the library refuses, and the mark of a line
  // released earlier whose unregistration is still missing stays.
  if (hLine != 0) SetLine(0, hLine);
  int nResult = KIRO_LineUnRegister(hLine);
  if (nResult != 0) {
    if (hLine != 0) SetLine(hLine, 0);
    return Refuse(nResult);
  }
  Sleep(D_dwUnregisterPauseMs);
  nResult = KIRO_RemoveLine(hLine);
  return nResult == 0 || Refuse(nResult);
}

bool CSipAgent::RequestCall(const char *szDestination) {
  if (IsEmpty(szDestination)) return Refuse(ERR_BAD_ARGUMENT);
  CSrwExclusive request(m_requestLock);
  if (State() != STATE_REGISTERED) return Refuse(ERR_WRONG_STATE);
  int nResult = KIRO_CallCreate(m_hInstance, Line(), &m_hCall, szDestination);
  return nResult == 0 || Refuse(nResult);
}

void CSipAgent::MarkClosing(KIRO_HANDLE hCall) {
  CSrwExclusive lock(m_stateLock);
  if (hCall != 0) m_hClosingCall = hCall;
}

bool CSipAgent::RequestHangUp() {
  CSrwExclusive request(m_requestLock);
  if (!(State() & (STATE_ALERTING | STATE_RINGING | STATE_TALKING))) return Refuse(ERR_WRONG_STATE);
  MarkClosing(Call());
  int nResult = KIRO_CallDestroy(&m_hCall);
  return nResult == 0 || Refuse(nResult);
}

bool CSipAgent::RequestAnswer() {
  CSrwExclusive request(m_requestLock);
  if (State() != STATE_RINGING) return Refuse(ERR_WRONG_STATE);
  int nResult = KIRO_CallAnswer(Call());
  return nResult == 0 || Refuse(nResult);
}

bool CSipAgent::RunTalkingRequest(PFN_CallRequest pfnRequest, const char *szFile,
                                  bool bNeedsFile) {
  if (bNeedsFile && !szFile) return Refuse(ERR_BAD_ARGUMENT);
  {
    CSrwExclusive request(m_requestLock);
    if (State() != STATE_TALKING) return Refuse(ERR_WRONG_STATE);
    int nResult = pfnRequest(Call(), szFile);
    if (nResult != 0) return Refuse(nResult);
  }
  NotifyObservers();
  return true;
}

bool CSipAgent::WaitForState(uint32_t nMask, DWORD dwTimeoutMs) const {
  CDeadline deadline(dwTimeoutMs);
  CSrwExclusive lock(m_stateLock);
  SStateWaiter waiter = {nMask, (State() & nMask) != 0, m_pWaiters};
  m_pWaiters = &waiter;
  for (DWORD dwLeft = deadline.MsLeft(); !waiter.bReached && dwLeft > 0;
       dwLeft = deadline.MsLeft()) {
    // Woken by SetStateLocked; a timeout, or a change to a state outside
    // the mask, goes round again against the same deadline.
    SleepConditionVariableSRW(&m_cvState, &m_stateLock, dwLeft, 0);
  }
  SStateWaiter **ppLink = &m_pWaiters;
  while (*ppLink != &waiter) ppLink = &(*ppLink)->pNext;
  *ppLink = waiter.pNext;
  return waiter.bReached;
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
