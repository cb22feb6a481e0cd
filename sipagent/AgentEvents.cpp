// The SIP library's events: AgentEventCallback runs on the library's own
// threads (several at once, if the library likes), sets the agent's state,
// accepts, answers and destroys calls, and tells the observers.
//
// An event is matched and takes effect in one step under the state lock, so
// no request or other event can slip between the two. A line event counts
// for the agent's line, or as the unregistration of the line it is
// releasing; a call event counts for the current call, or for the call being
// closed while no other is current; an event for any other handle (a line or
// call already gone, a call replaced) is left alone, and so is an event of a
// phase its call has passed (a repeated ringing after the connection). Within
// that, no transition looks at the current state, except that a call cannot
// take the agent out of a state without a registered line. The calls back into the
// library are made after the lock is released: they are re-entrant by the
// library's contract and may deliver further events from inside. Their
// results are ignored. The observers hear of a call event before those calls
// are made, so that they see the state the event set even when the call back
// delivers the next events at once (a released call closed, a ringing call
// answered), and the busy or ring tone still sounds. Nothing here waits for
// a host thread.
#include "SipAgent.h"

PFN_LineMatchPause g_pfnLineMatchPause = nullptr;

extern "C" unsigned char __cdecl AgentEventCallback(int nType, const uint32_t *pRecord,
                                                    void * /*pContext*/) {
  CSipAgent &agent = CSipAgent::Instance();
  switch (nType) {
    case KIRO_EVENT_CALL:
      if (pRecord)
        agent.OnCallEvent(pRecord);
      else
        agent.NotifyObservers();
      break;
    case KIRO_EVENT_LINE:
      if (pRecord) agent.OnLineEvent(pRecord);
      agent.NotifyObservers();
      break;
    case 6:
    case 8:
      // Events the agent has no use for, yet its observers hear of them.
      agent.NotifyObservers();
      break;
    default:
      break;
  }
  return 1;
}

void CSipAgent::SetStateLocked(AgentState eState) {
  m_state.store(eState);
  for (SStateWaiter *pWaiter = m_pWaiters; pWaiter; pWaiter = pWaiter->pNext)
    if (pWaiter->nMask & eState) pWaiter->bReached = true;
  WakeAllConditionVariable(&m_cvState);
}

void CSipAgent::SetCallStateLocked(AgentState eState) {
  AgentState eNow = State();
  if (eNow == STATE_UNINITIALISED || eNow == STATE_UNREGISTERED) return;
  SetStateLocked(eState);
}

namespace {
// The order of a call's life: an event of an earlier phase than one already
// seen for its call is stale. -1: the code has no place in it.
int CallPhase(uint32_t nCode) {
  switch (nCode) {
    case KIRO_CALL_OUTGOING:
    case KIRO_CALL_OFFERED:
      return 1;
    case KIRO_CALL_ALERTING:
    case KIRO_CALL_RINGING:
      return 2;
    case KIRO_CALL_CONNECTED:
      return 3;
    case KIRO_CALL_RELEASED:
      return 4;
    case KIRO_CALL_CLOSED:
      return 5;
    default:
      return -1;
  }
}
}  // namespace

bool CSipAgent::IsBehindItsCall(KIRO_HANDLE hCall, uint32_t nCode) {
  int nPhase = CallPhase(nCode);
  if (nPhase < 0) return false;
  if (m_hPhaseCall != hCall) {
    m_hPhaseCall = hCall;
    m_nCallPhase = 0;
  }
  if (nPhase < m_nCallPhase) return true;
  m_nCallPhase = nPhase;
  return false;
}

bool CSipAgent::OwnsCallEvent(KIRO_HANDLE hCall) const {
  KIRO_HANDLE hCurrent = Call();
  if (hCall == 0) return false;
  return hCall == hCurrent || (hCurrent == 0 && hCall == m_hClosingCall);
}

void CSipAgent::OnCallEvent(const uint32_t *pRecord) {
  KIRO_HANDLE hCall = pRecord[KIRO_WORD_HANDLE];
  const ECallAction eAction =
      ApplyCallEvent(hCall, static_cast<int>(pRecord[KIRO_WORD_STATUS]), pRecord[KIRO_WORD_CALL_CODE]);
  NotifyObservers();
  switch (eAction) {
    case ACTION_ACCEPT:
      KIRO_CallAccept(hCall);
      break;
    case ACTION_ANSWER:
      if (AutoAnswer()) KIRO_CallAnswer(hCall);
      break;
    case ACTION_DESTROY:
      // The stored handle, which the library clears; already clear when the
      // host's hang-up destroyed the call first.
      KIRO_CallDestroy(&m_hCall);
      m_bAutoAnswer.store(false);
      break;
    case ACTION_NONE:
      break;
  }
}

CSipAgent::ECallAction CSipAgent::ApplyCallEvent(KIRO_HANDLE hCall, int nStatus,
                                                 uint32_t nCode) {
  CSrwExclusive lock(m_stateLock);
  bool bNewCall = nStatus == 1 && nCode == KIRO_CALL_CREATED && hCall != 0;
  if (!bNewCall && !OwnsCallEvent(hCall)) return ACTION_NONE;
  if (nStatus == 1 && IsBehindItsCall(hCall, nCode)) return ACTION_NONE;
  m_nCallStatus.store(nStatus);
  if (nStatus != 1) {
    SetCallStateLocked(STATE_REGISTERED);
    return ACTION_NONE;
  }
  switch (nCode) {
    case KIRO_CALL_CREATED:
      __atomic_store_n(&m_hCall, hCall, __ATOMIC_SEQ_CST);
      return ACTION_NONE;
    case KIRO_CALL_OUTGOING:
      SetCallStateLocked(STATE_CALLING);
      return ACTION_NONE;
    case KIRO_CALL_ALERTING:
      SetCallStateLocked(STATE_ALERTING);
      return ACTION_NONE;
    case KIRO_CALL_CONNECTED:
      SetCallStateLocked(STATE_TALKING);
      return ACTION_NONE;
    case KIRO_CALL_RELEASED:
      SetCallStateLocked(STATE_RELEASED);
      m_hClosingCall = hCall;
      return ACTION_DESTROY;
    case KIRO_CALL_OFFERED:
      return ACTION_ACCEPT;
    case KIRO_CALL_RINGING:
      SetCallStateLocked(STATE_RINGING);
      return ACTION_ANSWER;
    case KIRO_CALL_CLOSED:
      SetCallStateLocked(STATE_REGISTERED);
      // The call is gone: whatever else comes for it is stale.
      if (m_hClosingCall == hCall) m_hClosingCall = 0;
      __atomic_compare_exchange_n(&m_hCall, &hCall, 0, false, __ATOMIC_SEQ_CST,
                                  __ATOMIC_SEQ_CST);
      return ACTION_NONE;
    default:
      return ACTION_NONE;
  }
}

void CSipAgent::OnLineEvent(const uint32_t *pRecord) {
  KIRO_HANDLE hEventLine = pRecord[KIRO_WORD_HANDLE];
  uint32_t nCode = pRecord[KIRO_WORD_LINE_CODE];
  if (hEventLine == 0) return;
  CSrwExclusive lock(m_stateLock);
  bool bReleasing = hEventLine == m_hReleasingLine;
  if (g_pfnLineMatchPause) g_pfnLineMatchPause();
  bool bCurrent = hEventLine == Line();
  if (nCode == KIRO_LINE_UNREGISTERED && (bReleasing || bCurrent)) {
    if (bReleasing) m_hReleasingLine = 0;
    SetStateLocked(STATE_UNREGISTERED);
  } else if (nCode == KIRO_LINE_REGISTERED && bCurrent) {
    SetStateLocked(STATE_REGISTERED);
  }
}
