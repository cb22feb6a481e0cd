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

ULONGLONG AgentClockMs() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<ULONGLONG>(now.QuadPart) * 1000 / static_cast<ULONGLONG>(frequency.QuadPart);
}

CSipAgent &CSipAgent::Instance() {
  static CSipAgent *s_pAgent = new CSipAgent();
  return *s_pAgent;
}

bool CSipAgent::Refuse(int nError) {
  m_eRefusedIn.store(State());
  m_bLibraryError.store(false);
  m_nLastError.store(nError);
  return false;
}

bool CSipAgent::Fail(int nResult) {
  m_bLibraryError.store(true);
  m_nLastError.store(nResult);
  return false;
}

bool CSipAgent::EnsureLibraryStarted(const char *szInitOption) {
  CSrwExclusive request(m_requestLock);
  if (State() != STATE_UNINITIALISED) return true;
  // An instance held in this state lost its listener to a failure: only
  // the listener is tried again, the library starts once per process.
  if (m_hInstance == 0) {
    KIRO_HANDLE hInstance = 0;
    int nResult = KIRO_Initialize(&hInstance, D_nSipPort, D_nMediaPort, D_nMaxCalls, D_szUserAgent,
                                  szInitOption ? szInitOption : "", 0);
    if (nResult != 0) return Fail(nResult);
    m_hInstance = hInstance;
  }
  // Pinned before the library can hold the callback, even by a failed add.
  PinThisModule();
  int nResult = KIRO_EventListenerAdd(m_hInstance, AgentEventCallback, nullptr);
  if (nResult != 0) return Fail(nResult);
  SAgentView view;
  {
    CSrwExclusive lock(m_stateLock);
    SetStateLocked(STATE_UNREGISTERED);
    view = ViewLocked();
  }
  NotifyObservers(view);
  return true;
}

void CSipAgent::SetLine(KIRO_HANDLE hLine, KIRO_HANDLE hReleasing, CStateWait *pWait) {
  CSrwExclusive lock(m_stateLock);
  m_hLine.store(hLine);
  m_hReleasingLine = hReleasing;
  m_bLineLost = false;
  if (pWait) ArmLocked(*pWait);
}

KIRO_HANDLE CSipAgent::TakeLostLine() {
  CSrwExclusive lock(m_stateLock);
  if (!m_bLineLost || State() != STATE_UNREGISTERED) return 0;
  KIRO_HANDLE hLost = Line();
  m_hLine.store(0);
  m_bLineLost = false;
  return hLost;
}

bool CSipAgent::RequestRegistration(const char *szDomain, const char *szUser, const char *szCredential,
                                    const char *szOutboundProxy, const char *szIdentity, CStateWait &wait) {
  if (IsEmpty(szDomain) || IsEmpty(szOutboundProxy) || IsEmpty(szUser) || IsEmpty(szCredential) || IsEmpty(szIdentity))
    return Refuse(ERR_BAD_ARGUMENT);
  ForgetUnclosed();
  CSrwExclusive request(m_requestLock);
  // A line whose registration the server dropped is the library's still:
  // it goes, forgotten first so that nothing more of it counts, and a new
  // one is registered in its place.
  if (KIRO_HANDLE hLost = TakeLostLine()) KIRO_RemoveLine(hLost);
  if (State() != STATE_UNREGISTERED || Line() != 0) return Refuse(ERR_WRONG_STATE);
  KIRO_HANDLE hLine = 0;
  int nResult = KIRO_AddLine(m_hInstance, &hLine, szIdentity);
  if (nResult != 0) return Fail(nResult);
  // The line must be known before its registration event can come.
  SetLine(hLine, 0, &wait);
  KIRO_SetOutboundProxy(m_hInstance, szOutboundProxy);
  nResult = KIRO_LineRegister(hLine, szDomain, szUser, szCredential, szIdentity);
  if (nResult != 0) {
    KIRO_RemoveLine(hLine);
    SetLine(0, 0);
    return Fail(nResult);
  }
  return true;
}

void CSipAgent::EndCallForRelease() {
  if (Call() == 0) return;
  // Unregistered is how the call ends once the server dropped the line.
  CStateWait wait(STATE_REGISTERED | STATE_UNREGISTERED);
  if (RequestHangUp(wait)) wait.Wait(D_dwWaitMs);
}

bool CSipAgent::ReleaseLine(CStateWait &wait) {
  CSrwExclusive request(m_requestLock);
  KIRO_HANDLE hLine = Line();
  if (hLine == 0 && State() == STATE_UNREGISTERED) {
    // Nothing to release: unregistered is what the wait would find.
    CSrwExclusive lock(m_stateLock);
    ArmLocked(wait);
    return true;
  }
  // The line stops being the agent's before the request, whose answer may
  // come before it returns: from here only its unregistration counts, found
  // by the mark however late it comes, and a registration event still on its
  // way is stale. Without a line the library refuses, and the mark of a line
  // released earlier whose unregistration is still missing stays.
  if (hLine != 0) SetLine(0, hLine, &wait);
  int nResult = KIRO_LineUnRegister(hLine);
  if (hLine == 0) return nResult == 0 || Fail(nResult);
  if (nResult == 0) Sleep(D_dwUnregisterPauseMs);
  // Removed whatever the unregistration's answer: a line the server dropped
  // or never confirmed is refused its unregistration, yet must not stay
  // held, or no registration could follow it. Its calls go with it.
  int nRemoved = KIRO_RemoveLine(hLine);
  {
    CSrwExclusive lock(m_stateLock);
    m_calls.clear();
    SetCallLocked(0);
  }
  if (nResult == 0 && nRemoved == 0) return true;
  // No unregistration to wait for: the agent is unregistered now.
  AbandonRelease();
  return Fail(nResult != 0 ? nResult : nRemoved);
}

void CSipAgent::AbandonRelease() {
  CSrwExclusive lock(m_stateLock);
  m_hReleasingLine = 0;
  if (Line() == 0 && State() != STATE_UNINITIALISED) SetStateLocked(STATE_UNREGISTERED);
}

bool CSipAgent::RequestCall(const char *szDestination, CStateWait &wait) {
  if (IsEmpty(szDestination)) return Refuse(ERR_BAD_ARGUMENT);
  ForgetUnclosed();
  CSrwExclusive request(m_requestLock);
  {
    CSrwExclusive lock(m_stateLock);
    if (State() != STATE_REGISTERED || Call() != 0) return Refuse(ERR_WRONG_STATE);
    ArmLocked(wait);
  }
  KIRO_HANDLE hCall = 0;
  int nResult = KIRO_CallCreate(m_hInstance, Line(), &hCall, szDestination);
  if (nResult != 0) return Fail(nResult);
  switch (AdoptPlacedCall(hCall)) {
    case EPlacedCall::Adopted: return true;
    case EPlacedCall::ToDecline: Decline(hCall, "placed while another call came"); break;
    case EPlacedCall::Declined: break;
  }
  // A caller became the agent's call while the request ran: the placed call
  // is ended, and the host hears that it was not placed, not "successfully".
  return Refuse(ERR_WRONG_STATE);
}

bool CSipAgent::RequestHangUp(CStateWait &wait) {
  CSrwExclusive request(m_requestLock);
  KIRO_HANDLE hCall = 0;
  bool bAskedBefore = false;
  {
    CSrwExclusive lock(m_stateLock);
    hCall = Call();
    SCallNote *pNote = FindNote(hCall);
    // A call being placed counts from its creation on, before any of its
    // events: the host can always end the call it made. So does a call the
    // library was asked to end and has not closed: it is asked again.
    bool bEndable = (State() & (STATE_CALLING | STATE_ALERTING | STATE_RINGING | STATE_TALKING)) ||
                    (State() == STATE_REGISTERED && hCall != 0);
    if (!pNote || (!bEndable && !pNote->bDestroyed)) return Refuse(ERR_WRONG_STATE);
    bAskedBefore = pNote->bDestroyed;
    MarkDestroyAsked(*pNote);
    // A call being placed leaves the agent registered: only the close ends it.
    ArmLocked(wait, false);
  }
  // The library clears the handle it is given: a copy, so that the agent's
  // call stays known until the library closes it.
  KIRO_HANDLE hDestroyed = hCall;
  int nResult = KIRO_CallDestroy(&hDestroyed);
  if (nResult == 0) return true;
  {
    CSrwExclusive lock(m_stateLock);
    // Refused again, the library will not end the call (or has none): it
    // is forgotten rather than held against the line for good.
    if (bAskedBefore)
      ForgetCallLocked(hCall);
    else if (SCallNote *pNote = FindNote(hCall))
      pNote->bDestroyed = false;
  }
  if (bAskedBefore) NotifyObservers();
  return Fail(nResult);
}

bool CSipAgent::RequestAnswer(CStateWait &wait) {
  CSrwExclusive request(m_requestLock);
  {
    CSrwExclusive lock(m_stateLock);
    if (State() != STATE_RINGING) return Refuse(ERR_WRONG_STATE);
    ArmLocked(wait);
  }
  int nResult = KIRO_CallAnswer(Call());
  return nResult == 0 || Fail(nResult);
}

bool CSipAgent::RunTalkingRequest(PFN_CallRequest pfnRequest, const char *szFile, bool bNeedsFile) {
  if (bNeedsFile && !szFile) return Refuse(ERR_BAD_ARGUMENT);
  {
    CSrwExclusive request(m_requestLock);
    if (State() != STATE_TALKING) return Refuse(ERR_WRONG_STATE);
    int nResult = pfnRequest(Call(), szFile);
    if (nResult != 0) return Fail(nResult);
  }
  NotifyObservers();
  return true;
}

void CSipAgent::ArmLocked(CStateWait &wait, bool bCountCurrent) {
  wait.m_bReached = bCountCurrent && (State() & wait.m_nMask) != 0;
  wait.m_pNext = m_pWaiters;
  wait.m_bArmed = true;
  m_pWaiters = &wait;
}

CSipAgent::CStateWait::~CStateWait() {
  if (!m_bArmed) return;
  CSipAgent &agent = Instance();
  CSrwExclusive lock(agent.m_stateLock);
  CStateWait **ppLink = &agent.m_pWaiters;
  while (*ppLink != this) ppLink = &(*ppLink)->m_pNext;
  *ppLink = m_pNext;
}

bool CSipAgent::CStateWait::Wait(DWORD dwTimeoutMs) {
  if (!m_bArmed) return false;
  CDeadline deadline(dwTimeoutMs);
  CSipAgent &agent = Instance();
  CSrwExclusive lock(agent.m_stateLock);
  for (DWORD dwLeft = deadline.MsLeft(); !m_bReached && dwLeft > 0; dwLeft = deadline.MsLeft()) {
    // Woken by SetStateLocked; a timeout, or a change to a state outside
    // the mask, goes round again against the same deadline.
    SleepConditionVariableSRW(&agent.m_cvState, &agent.m_stateLock, dwLeft, 0);
  }
  return m_bReached;
}

bool CSipAgent::WaitForState(uint32_t nMask, DWORD dwTimeoutMs) {
  CStateWait wait(nMask);
  {
    CSrwExclusive lock(m_stateLock);
    ArmLocked(wait);
  }
  return wait.Wait(dwTimeoutMs);
}

void CSipAgent::AddObserver(CAgentObserver *pObserver) {
  CSrwExclusive lock(m_observerLock);
  m_observers.push_back(pObserver);
}

void CSipAgent::AddObserverOnce(CAgentObserver *pObserver) {
  CSrwExclusive lock(m_observerLock);
  for (CAgentObserver *pPresent : m_observers)
    if (pPresent == pObserver) return;
  m_observers.push_back(pObserver);
}

size_t CSipAgent::ObserverCount() const {
  CSrwShared lock(m_observerLock);
  return m_observers.size();
}

void CSipAgent::NotifyObservers() {
  SAgentView view;
  {
    CSrwExclusive lock(m_stateLock);
    view = ViewLocked();
  }
  NotifyObservers(view);
}

void CSipAgent::NotifyObservers(const SAgentView &view) {
  // Changes made at once on several threads are told in their order: one
  // that a later change has overtaken is not told at all, so a tone never
  // follows the state that replaced its own.
  CSrwExclusive tell(m_tellLock);
  if (view.nSeq < m_told.nSeq) return;
  m_told = view;
  // A copy, so the observers run without the list's lock and an observer
  // added meanwhile (even by one of them) waits for the next notification.
  std::vector<CAgentObserver *> observers;
  {
    CSrwShared lock(m_observerLock);
    observers = m_observers;
  }
  for (CAgentObserver *pObserver : observers) pObserver->OnAgentChanged(*this);
}
