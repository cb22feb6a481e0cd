// The SIP library's events: AgentEventCallback runs on the library's own
// threads (several at once, if the library likes), sets the agent's state,
// accepts, answers, declines and destroys calls, and tells the observers.
//
// An event is matched and takes effect in one step under the state lock, so
// no request or other event can slip between the two. A line event counts
// for the agent's line, or as the unregistration of the line it is
// releasing. A call event counts for a call the library created or offered
// and has not closed: the agent's own call moves the state; any other call
// (a second caller, a call the agent dropped) is only ended, never answered:
// declined when it comes, destroyed once when released. A status other than
// 1 ends the agent's call (a busy far end, a refused re-INVITE): the call is
// dropped and destroyed at once, so the library never keeps a call the host
// cannot reach. A handle the library closed, whatever the close's status, is
// forgotten, so a new call on it starts afresh; so is one whose close has
// not come D_dwForgetUnclosedMs after its destroy was asked for. An event
// for a handle no call holds is left alone, as is an event of a phase its
// call has passed (a repeated ringing after the connection). Registration
// renewals move only an unregistered agent; a call outlives a lost
// registration. The calls back into the library are made after the lock is
// released: they are re-entrant by the library's contract and may deliver
// further events from inside. Their results are ignored, but for a destroy
// of a call no longer the agent's that the library refuses: it has no such
// call, and the handle is forgotten. The observers hear of a call event
// before those calls are made, with the state the event set, so that the
// busy or ring tone still sounds when the call back delivers the next events
// at once (a released call closed, a ringing call answered). Nothing here
// waits for a host thread.
#include "AgentLog.h"
#include "SipAgent.h"

PFN_LineMatchPause g_pfnLineMatchPause = nullptr;

extern "C" unsigned char __cdecl AgentEventCallback(int nType, const uint32_t *pRecord, void * /*pContext*/) {
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
    case KIRO_EVENT_NOTIFY_ONLY_6:
    case KIRO_EVENT_NOTIFY_ONLY_8: agent.NotifyObservers(); break;
    default: break;
  }
  return 1;
}

void CSipAgent::SetStateLocked(AgentState eState) {
  m_state.store(eState);
  ++m_nChangeSeq;
  for (CStateWait *pWaiter = m_pWaiters; pWaiter; pWaiter = pWaiter->m_pNext)
    if (pWaiter->m_nMask & eState) pWaiter->m_bReached = true;
  WakeAllConditionVariable(&m_cvState);
}

void CSipAgent::SetCallStateLocked(AgentState eState) {
  AgentState eNow = State();
  if (eNow == STATE_UNINITIALISED || eNow == STATE_UNREGISTERED) return;
  SetStateLocked(eState);
}

void CSipAgent::EndCallStateLocked() { SetCallStateLocked(LineLiveLocked() ? STATE_REGISTERED : STATE_UNREGISTERED); }

void CSipAgent::SetCallLocked(KIRO_HANDLE hCall) {
  m_hCall.store(hCall);
  m_nCallPhase = 0;
}

bool CSipAgent::HasCallLocked() const { return (State() & D_nCallStates) != 0; }

CSipAgent::SCallNote *CSipAgent::FindNote(KIRO_HANDLE hCall) {
  for (SCallNote &note : m_calls)
    if (note.hCall == hCall && hCall != 0) return &note;
  return nullptr;
}

void CSipAgent::ForgetNote(KIRO_HANDLE hCall) {
  for (auto it = m_calls.begin(); it != m_calls.end(); ++it)
    if (it->hCall == hCall) {
      m_calls.erase(it);
      return;
    }
}

void CSipAgent::NoteCallLocked(KIRO_HANDLE hCall, bool bDestroyed) {
  m_calls.push_back(SCallNote{hCall, false, 0});
  if (bDestroyed) MarkDestroyAsked(m_calls.back());
}

void CSipAgent::MarkDestroyAsked(SCallNote &note) {
  note.bDestroyed = true;
  note.ullDestroyAsked = AgentClockMs();
}

void CSipAgent::ForgetCallLocked(KIRO_HANDLE hCall) {
  ForgetNote(hCall);
  if (hCall == 0 || hCall != Call()) return;
  SetCallLocked(0);
  EndCallStateLocked();
}

bool CSipAgent::ForgetUnclosedLocked() {
  const ULONGLONG ullNow = AgentClockMs();
  std::vector<KIRO_HANDLE> overdue;
  for (const SCallNote &note : m_calls)
    if (note.bDestroyed && ullNow - note.ullDestroyAsked >= D_dwForgetUnclosedMs) overdue.push_back(note.hCall);
  for (KIRO_HANDLE hCall : overdue) ForgetCallLocked(hCall);
  return !overdue.empty();
}

void CSipAgent::ForgetUnclosed() {
  bool bForgot = false;
  {
    CSrwExclusive lock(m_stateLock);
    bForgot = ForgetUnclosedLocked();
  }
  // A loop of the forgotten call's (a ring tone) stops with it.
  if (bForgot) NotifyObservers();
}

namespace {
// The order of a call's life: an event of an earlier phase than one already
// seen for its call is stale. -1: the code has no place in it.
int CallPhase(uint32_t nCode) {
  switch (nCode) {
    case KIRO_CALL_OUTGOING:
    case KIRO_CALL_OFFERED: return 1;
    case KIRO_CALL_ALERTING:
    case KIRO_CALL_RINGING: return 2;
    case KIRO_CALL_CONNECTED: return 3;
    case KIRO_CALL_RELEASED: return 4;
    case KIRO_CALL_CLOSED: return 5;
    default: return -1;
  }
}
}  // namespace

bool CSipAgent::IsBehindItsCall(uint32_t nCode) {
  int nPhase = CallPhase(nCode);
  if (nPhase < 0) return false;
  if (nPhase < m_nCallPhase) return true;
  m_nCallPhase = nPhase;
  return false;
}

CSipAgent::EPlacedCall CSipAgent::AdoptPlacedCall(KIRO_HANDLE hCall) {
  CSrwExclusive lock(m_stateLock);
  // Its events may have come inside the request: they made it the agent's
  // call or, behind a caller's, declined it already.
  if (FindNote(hCall)) return Call() == hCall ? EPlacedCall::Adopted : EPlacedCall::Declined;
  bool bFree = Call() == 0;
  NoteCallLocked(hCall, !bFree);
  if (!bFree) return EPlacedCall::ToDecline;
  SetCallLocked(hCall);
  return EPlacedCall::Adopted;
}

void CSipAgent::Decline(KIRO_HANDLE hCall, const char *szWhy) {
  KIRO_HANDLE hDestroyed = hCall;
  if (KIRO_CallDestroy(&hDestroyed) == 0) {
    AGENT_LOG_ENTRY().Write("declined call ").WriteNumber(static_cast<int>(hCall)).Write(", ").Write(szWhy).Write(".");
    return;
  }
  ForgetUnreachable(hCall);
}

void CSipAgent::ForgetUnreachable(KIRO_HANDLE hCall) {
  // The library has no such call (an event repeated after its close) or will
  // not end it: no close will come to forget it, and the handle must be free
  // for the library's next call on it.
  CSrwExclusive lock(m_stateLock);
  if (hCall != Call()) ForgetNote(hCall);
}

void CSipAgent::OnCallEvent(const uint32_t *pRecord) {
  KIRO_HANDLE hCall = pRecord[KIRO_WORD_HANDLE];
  SAgentView view;
  const ECallAction eAction = ApplyCallEvent(hCall, static_cast<int>(pRecord[KIRO_WORD_STATUS]),
                                             pRecord[KIRO_WORD_CALL_CODE], view);
  NotifyObservers(view);
  switch (eAction) {
    case ECallAction::Accept: KIRO_CallAccept(hCall); break;
    case ECallAction::Answer:
      if (AutoAnswer()) KIRO_CallAnswer(hCall);
      break;
    case ECallAction::Destroy:
      KIRO_CallDestroy(&hCall);
      m_bAutoAnswer.store(false);
      break;
    case ECallAction::Released: m_bAutoAnswer.store(false); break;
    case ECallAction::DestroyOther:
      if (KIRO_CallDestroy(&hCall) != 0) ForgetUnreachable(pRecord[KIRO_WORD_HANDLE]);
      break;
    case ECallAction::Decline: Decline(hCall, "the agent has a call"); break;
    case ECallAction::None: break;
  }
}

CSipAgent::ECallAction CSipAgent::ApplyCallEvent(KIRO_HANDLE hCall, int nStatus, uint32_t nCode, SAgentView &view) {
  CSrwExclusive lock(m_stateLock);
  ECallAction eAction = ECallAction::None;
  // A call whose close never came no longer holds its handle, nor the line.
  ForgetUnclosedLocked();
  SCallNote *pNote = FindNote(hCall);
  bool bNewCall = nStatus == 1 && (nCode == KIRO_CALL_CREATED || nCode == KIRO_CALL_OFFERED);
  if (hCall == 0) {
  } else if (!pNote && bNewCall) {
    eAction = ApplyNewCall(hCall, nCode);
  } else if (pNote && hCall == Call()) {
    eAction = ApplyOwnCall(hCall, nStatus, nCode);
  } else if (pNote) {
    eAction = ApplyOtherCall(pNote, nCode);
  }
  view = ViewLocked();
  return eAction;
}

// A handle no call of the library's holds: a new call on it, the agent's
// when it is free and registered, else declined.
CSipAgent::ECallAction CSipAgent::ApplyNewCall(KIRO_HANDLE hCall, uint32_t nCode) {
  bool bFree = Call() == 0 && State() == STATE_REGISTERED;
  NoteCallLocked(hCall, !bFree);
  if (!bFree) return ECallAction::Decline;
  SetCallLocked(hCall);
  return ApplyOwnCall(hCall, 1, nCode);
}

// Whatever the status word: a failed close closes the call all the same, and
// a failed release still leaves it to be destroyed.
CSipAgent::ECallAction CSipAgent::ApplyOtherCall(SCallNote *pNote, uint32_t nCode) {
  if (nCode == KIRO_CALL_CLOSED) {
    ForgetNote(pNote->hCall);
  } else if (nCode == KIRO_CALL_RELEASED && !pNote->bDestroyed) {
    MarkDestroyAsked(*pNote);
    return ECallAction::DestroyOther;
  }
  return ECallAction::None;
}

CSipAgent::ECallAction CSipAgent::ApplyOwnCall(KIRO_HANDLE hCall, int nStatus, uint32_t nCode) {
  if (nStatus == 1 && IsBehindItsCall(nCode)) return ECallAction::None;
  m_nCallStatus.store(nStatus);
  ++m_nChangeSeq;
  // A close ends the call whatever its status word says.
  if (nCode == KIRO_CALL_CLOSED) {
    ForgetCallLocked(hCall);
    return ECallAction::None;
  }
  if (nStatus != 1) {
    // The call is over for the agent, so it is ended in the library too,
    // once: the library may keep a call whose release or re-INVITE failed,
    // and only the agent could end it.
    SetCallLocked(0);
    EndCallStateLocked();
    SCallNote *pNote = FindNote(hCall);
    if (pNote->bDestroyed) return ECallAction::None;
    MarkDestroyAsked(*pNote);
    return ECallAction::DestroyOther;
  }
  switch (nCode) {
    case KIRO_CALL_OUTGOING: SetCallStateLocked(STATE_CALLING); return ECallAction::None;
    case KIRO_CALL_ALERTING: SetCallStateLocked(STATE_ALERTING); return ECallAction::None;
    case KIRO_CALL_CONNECTED: SetCallStateLocked(STATE_TALKING); return ECallAction::None;
    case KIRO_CALL_RELEASED: {
      SetCallStateLocked(STATE_RELEASED);
      SCallNote *pNote = FindNote(hCall);
      if (pNote->bDestroyed) return ECallAction::Released;
      MarkDestroyAsked(*pNote);
      return ECallAction::Destroy;
    }
    case KIRO_CALL_OFFERED: return ECallAction::Accept;
    case KIRO_CALL_RINGING: SetCallStateLocked(STATE_RINGING); return ECallAction::Answer;
    default: return ECallAction::None;
  }
}

void CSipAgent::OnLineEvent(const uint32_t *pRecord) {
  KIRO_HANDLE hEventLine = pRecord[KIRO_WORD_HANDLE];
  if (hEventLine == 0) return;
  CSrwExclusive lock(m_stateLock);
  ApplyLineEvent(hEventLine, pRecord[KIRO_WORD_LINE_CODE]);
}

void CSipAgent::ApplyLineEvent(KIRO_HANDLE hEventLine, uint32_t nCode) {
  bool bReleasing = hEventLine == m_hReleasingLine;
  if (g_pfnLineMatchPause) g_pfnLineMatchPause();
  bool bCurrent = hEventLine == Line();
  if (nCode == KIRO_LINE_UNREGISTERED && bReleasing) {
    m_hReleasingLine = 0;
    // A line registered since has the agent's state now.
    if (Line() == 0 && State() != STATE_UNINITIALISED) SetStateLocked(STATE_UNREGISTERED);
  } else if (nCode == KIRO_LINE_UNREGISTERED && bCurrent) {
    // The server dropped the registration unasked. A call does not need it
    // and goes on; the agent is unregistered once no call is left.
    m_bLineLost = true;
    if (!HasCallLocked() && State() != STATE_UNINITIALISED) SetStateLocked(STATE_UNREGISTERED);
  } else if (nCode == KIRO_LINE_REGISTERED && bCurrent) {
    // A confirmation or one of the library's renewals: it registers an
    // unregistered agent and leaves a call where it is.
    m_bLineLost = false;
    if (State() == STATE_UNREGISTERED) SetStateLocked(STATE_REGISTERED);
  }
}
