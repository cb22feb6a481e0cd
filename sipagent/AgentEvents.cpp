// The SIP library's events: AgentEventCallback runs on the library's own
// thread, sets the agent's state, accepts, answers and destroys calls, and
// tells the observers. No transition looks at the current state: each event
// sets its state whatever the agent was doing. The calls back into the
// library made here are re-entrant by the library's contract; their results
// are ignored. Nothing here waits for the host's thread.
#include "SipAgent.h"

extern "C" unsigned char __cdecl AgentEventCallback(int nType, const uint32_t *pRecord,
                                                    void * /*pContext*/) {
  CSipAgent &agent = CSipAgent::Instance();
  switch (nType) {
    case KIRO_EVENT_CALL:
      if (pRecord) agent.OnCallEvent(pRecord);
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

void CSipAgent::OnCallEvent(const uint32_t *pRecord) {
  int nStatus = static_cast<int>(pRecord[KIRO_WORD_STATUS]);
  m_nCallStatus.store(nStatus);
  if (nStatus != 1) {
    SetState(STATE_REGISTERED);
    return;
  }
  switch (pRecord[KIRO_WORD_CALL_CODE]) {
    case KIRO_CALL_CREATED:
      __atomic_store_n(&m_hCall, pRecord[KIRO_WORD_HANDLE], __ATOMIC_SEQ_CST);
      break;
    case KIRO_CALL_OUTGOING:
      SetState(STATE_CALLING);
      break;
    case KIRO_CALL_ALERTING:
      SetState(STATE_ALERTING);
      break;
    case KIRO_CALL_CONNECTED:
      SetState(STATE_TALKING);
      break;
    case KIRO_CALL_RELEASED:
      SetState(STATE_RELEASED);
      KIRO_CallDestroy(&m_hCall);
      m_bAutoAnswer.store(false);
      break;
    case KIRO_CALL_OFFERED:
      KIRO_CallAccept(Call());
      break;
    case KIRO_CALL_RINGING:
      SetState(STATE_RINGING);
      if (AutoAnswer()) KIRO_CallAnswer(Call());
      break;
    case KIRO_CALL_CLOSED:
      SetState(STATE_REGISTERED);
      break;
    default:
      break;
  }
}

void CSipAgent::OnLineEvent(const uint32_t *pRecord) {
  KIRO_HANDLE hEventLine = pRecord[KIRO_WORD_HANDLE];
  uint32_t nCode = pRecord[KIRO_WORD_LINE_CODE];
  KIRO_HANDLE hReleasing = m_hReleasingLine.load();
  if (nCode == KIRO_LINE_UNREGISTERED && hReleasing != 0 && hEventLine == hReleasing) {
    m_hReleasingLine.store(0);
    SetState(STATE_UNREGISTERED);
    return;
  }
  if (hEventLine != Line()) return;
  if (nCode == KIRO_LINE_REGISTERED)
    SetState(STATE_REGISTERED);
  else if (nCode == KIRO_LINE_UNREGISTERED)
    SetState(STATE_UNREGISTERED);
}
