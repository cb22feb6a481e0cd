// CSipAgent: the one SIP agent of the process, between the host's exports and
// the SIP library's events.
//
// Host threads run the exports: they start the library, request
// registration and calls, then wait until an event shows the outcome. Each
// wait is armed under the state lock before its request goes to the library,
// so a state the request's own events set and leave again still counts.
// Several host threads may act at once: the request lock makes each
// request's check of the state and its calls into the library one step, so
// two requests never act on the same state; it is never held across a wait.
// The library's threads run AgentEventCallback, several at once if the
// library likes: it matches each event against the agent's line and the
// calls it knows and moves the state.
//
// The state lock guards the state, the line, the calls the library told of
// and the marks of the line being released or lost, so that an event's match
// and its effect are one step against any request or other event; every
// state change marks the armed waits whose mask it reaches and wakes them.
// The lock is never held across a call into the library, which may deliver
// events from inside (even on the same thread). `state`, `line` and the
// agent's call are also atomics, so that anyone may read them without it;
// the call is written only through SetCallLocked. The observer list has a
// lock of its own, held only to append or to copy the list; the tell lock
// keeps notifications in the order of the changes they tell of, and is held
// while the observers run.
#pragma once

#include <windows.h>
#include <stdint.h>
#include <atomic>
#include <vector>

#include "AgentObserver.h"
#include "KiroApi.h"
#include "SrwGuard.h"

enum AgentState : uint32_t {
  STATE_UNINITIALISED = 1,
  STATE_UNREGISTERED = 2,
  STATE_REGISTERED = 4,
  STATE_CALLING = 8,
  STATE_ALERTING = 16,
  STATE_RINGING = 32,
  STATE_TALKING = 64,
  STATE_RELEASED = 128,
};

enum AgentError {
  ERR_BAD_ARGUMENT = 4,  // a required string is empty (or missing)
  ERR_WRONG_STATE = 10,  // not allowed in this state, or the resource is held
};

// Every export's wait ends this long after it began, unless the state came.
const DWORD D_dwWaitMs = 5000;
// A call the library was asked to end and has not closed this long after the
// latest request is forgotten, so that it never holds the line: as long as
// TV_HangUpCall's own wait, so a hang-up that ran out has freed the line.
const DWORD D_dwForgetUnclosedMs = D_dwWaitMs;

// Milliseconds by the performance counter, the clock the waits keep.
ULONGLONG AgentClockMs();

// A request to the library on the current call, as the file exports make it.
typedef int (*PFN_CallRequest)(KIRO_HANDLE hCall, const char *szFile);

// Test seam: runs while a line event is matched, between reading the mark of
// the line being released and reading the current line, so that a test can
// hold a library thread where the scheduler might. Null in the product.
typedef void (*PFN_LineMatchPause)(void);
extern PFN_LineMatchPause g_pfnLineMatchPause;

extern "C" unsigned char __cdecl AgentEventCallback(int nType, const uint32_t *pRecord, void *pContext);

// The states in which the agent has a call under way or ending.
const uint32_t D_nCallStates = STATE_CALLING | STATE_ALERTING | STATE_RINGING | STATE_TALKING | STATE_RELEASED;

class CSipAgent {
 public:
  // A wait for one of a set of states: armed by a request under the state
  // lock just before the request goes to the library (reached at once if the
  // state is in the mask then, unless the request waits for a change), marked
  // by every change into the mask from then on, and disarmed when it goes out
  // of scope.
  class CStateWait {
   public:
    explicit CStateWait(uint32_t nMask) : m_nMask(nMask) {}
    ~CStateWait();
    CStateWait(const CStateWait &) = delete;
    CStateWait &operator=(const CStateWait &) = delete;
    // True as soon as the wait is marked, woken by the change itself; false
    // once dwTimeoutMs have passed since this call, by the clock, or if the
    // wait was never armed.
    bool Wait(DWORD dwTimeoutMs);

   private:
    friend class CSipAgent;
    friend class CSipAgentProbe;
    uint32_t m_nMask;
    bool m_bArmed = false;
    bool m_bReached = false;
    CStateWait *m_pNext = nullptr;
  };

  // Built on first use, never destroyed: the library may still send events.
  static CSipAgent &Instance();

  // Host threads: requests. Each returns false and keeps `lastError` when
  // the request is refused or the library fails it; those with a wait arm
  // it before their library request.
  // Starts the library and adds the listener unless that is done already.
  bool EnsureLibraryStarted(const char *szInitOption);
  bool RequestRegistration(const char *szDomain, const char *szUser, const char *szCredential,
                           const char *szOutboundProxy, const char *szIdentity, CStateWait &wait);
  // Ends the agent's call as a hang-up would, waiting for its close within
  // the usual bound, before the line goes; nothing if there is no call.
  void EndCallForRelease();
  // Unregisters and removes the line; armed at once, and true, when the
  // agent is unregistered with no line already. Whatever the library
  // answers, the line is removed and no longer the agent's, and so is
  // every call on it.
  bool ReleaseLine(CStateWait &wait);
  // The release's confirmation will not come (or did not in time): the
  // library holds no line of the agent's any more, so the agent is
  // unregistered and its unregistration is no longer awaited.
  void AbandonRelease();
  bool RequestCall(const char *szDestination, CStateWait &wait);
  bool RequestHangUp(CStateWait &wait);
  bool RequestAnswer(CStateWait &wait);
  // A request on the connected call; szFile is checked when bNeedsFile.
  bool RunTalkingRequest(PFN_CallRequest pfnRequest, const char *szFile, bool bNeedsFile);
  void SetAutoAnswer() { m_bAutoAnswer.store(true); }

  // Arms a wait for nMask and waits for it (see CStateWait::Wait).
  bool WaitForState(uint32_t nMask, DWORD dwTimeoutMs);

  // Library threads: event handling (AgentEventCallback).
  void OnCallEvent(const uint32_t *pRecord);
  void OnLineEvent(const uint32_t *pRecord);

  // Any thread. Observers are told over the entries present when the
  // notification began; an observer added meanwhile is told next time.
  void AddObserver(CAgentObserver *pObserver);
  // Adds it unless it is in the list already.
  void AddObserverOnce(CAgentObserver *pObserver);
  // Tells the observers of the agent as it is now.
  void NotifyObservers();

  AgentState State() const { return m_state.load(); }
  int LastError() const { return m_nLastError.load(); }
  // Whether `lastError` is the library's result rather than an AgentError,
  // and the state the agent refused its latest request in.
  bool LastErrorIsTheLibrarys() const { return m_bLibraryError.load(); }
  AgentState RefusedIn() const { return m_eRefusedIn.load(); }
  int CallStatus() const { return m_nCallStatus.load(); }
  bool AutoAnswer() const { return m_bAutoAnswer.load(); }
  KIRO_HANDLE Line() const { return m_hLine.load(); }
  KIRO_HANDLE Call() const { return m_hCall.load(); }
  KIRO_HANDLE LibraryInstance() const { return m_hInstance; }
  size_t ObserverCount() const;
  // For observers, while they are told: the state and status word of the
  // change they are told of, which later events may already have replaced.
  AgentState ToldState() const { return m_told.eState; }
  int ToldCallStatus() const { return m_told.nCallStatus; }

 private:
  // What an event asks of the library once the state lock is released.
  enum class ECallAction {
    None,
    Accept,
    Answer,
    Released,      // the agent's call released, its destroy already asked for
    Destroy,       // the agent's call released: destroy it
    DestroyOther,  // a call not (or no longer) the agent's ended: destroy it
    Decline,       // another call while the agent has one: destroy it
  };

  // A call the library told of and has not closed yet.
  struct SCallNote {
    KIRO_HANDLE hCall;
    bool bDestroyed;            // KIRO_CallDestroy asked for it
    ULONGLONG ullDestroyAsked;  // AgentClockMs at the latest ask
  };

  // One change, as the observers are told of it; nSeq orders the changes.
  struct SAgentView {
    AgentState eState;
    int nCallStatus;
    uint64_t nSeq;
  };

  CSipAgent() = default;
  // Both keep `lastError` and answer false: the agent's own refusal (an
  // AgentError, with the state it was refused in) or the library's failure.
  bool Refuse(int nError);
  bool Fail(int nResult);
  void NotifyObservers(const SAgentView &view);
  // All below expect the state lock held.
  SAgentView ViewLocked() const { return SAgentView{State(), CallStatus(), m_nChangeSeq}; }
  void ArmLocked(CStateWait &wait, bool bCountCurrent = true);
  void SetStateLocked(AgentState eState);
  // A call event cannot take the agent out of a state without a registered
  // line: the call is the line's.
  void SetCallStateLocked(AgentState eState);
  // The agent's call is over: registered again, or unregistered when the
  // line went meanwhile.
  void EndCallStateLocked();
  void SetCallLocked(KIRO_HANDLE hCall);
  bool HasCallLocked() const;
  bool LineLiveLocked() const { return Line() != 0 && !m_bLineLost; }
  SCallNote *FindNote(KIRO_HANDLE hCall);
  void ForgetNote(KIRO_HANDLE hCall);
  void NoteCallLocked(KIRO_HANDLE hCall, bool bDestroyed);
  static void MarkDestroyAsked(SCallNote &note);
  // The call is gone for the agent: its note dropped and, when it is the
  // agent's call, the call over.
  void ForgetCallLocked(KIRO_HANDLE hCall);
  // Forgets the calls whose close is D_dwForgetUnclosedMs overdue; true if
  // there were any. The unlocked one tells the observers.
  bool ForgetUnclosedLocked();
  void ForgetUnclosed();
  bool IsBehindItsCall(uint32_t nCode);
  ECallAction ApplyCallEvent(KIRO_HANDLE hCall, int nStatus, uint32_t nCode, SAgentView &view);
  ECallAction ApplyNewCall(KIRO_HANDLE hCall, uint32_t nCode);
  ECallAction ApplyOtherCall(SCallNote *pNote, uint32_t nCode);
  ECallAction ApplyOwnCall(KIRO_HANDLE hCall, int nStatus, uint32_t nCode);
  void ApplyLineEvent(KIRO_HANDLE hEventLine, uint32_t nCode);
  void SetLine(KIRO_HANDLE hLine, KIRO_HANDLE hReleasing, CStateWait *pWait = nullptr);
  KIRO_HANDLE TakeLostLine();
  // A call KIRO_CallCreate handed out: the agent's, unless an event made
  // another call the agent's meanwhile.
  enum class EPlacedCall {
    Adopted,
    Declined,  // its own events declined it already
    ToDecline,
  };
  EPlacedCall AdoptPlacedCall(KIRO_HANDLE hCall);
  // Destroys a call that is not to be the agent's; logged once it is gone.
  void Decline(KIRO_HANDLE hCall, const char *szWhy);
  void ForgetUnreachable(KIRO_HANDLE hCall);

  friend class CSipAgentProbe;  // white-box tests put the agent back to its start

  std::vector<CAgentObserver *> m_observers;
  mutable SRWLOCK m_observerLock = SRWLOCK_INIT;
  SRWLOCK m_requestLock = SRWLOCK_INIT;
  mutable SRWLOCK m_stateLock = SRWLOCK_INIT;
  SRWLOCK m_tellLock = SRWLOCK_INIT;
  mutable CONDITION_VARIABLE m_cvState = CONDITION_VARIABLE_INIT;
  CStateWait *m_pWaiters = nullptr;  // under the state lock
  KIRO_HANDLE m_hInstance = 0;       // under the request lock
  std::atomic<KIRO_HANDLE> m_hLine{0};
  std::atomic<KIRO_HANDLE> m_hCall{0};
  std::atomic<AgentState> m_state{STATE_UNINITIALISED};
  std::atomic<int> m_nLastError{0};
  std::atomic<bool> m_bLibraryError{false};
  std::atomic<AgentState> m_eRefusedIn{STATE_UNINITIALISED};
  std::atomic<int> m_nCallStatus{1};
  std::atomic<bool> m_bAutoAnswer{false};
  // Under the state lock. The line being released, no longer `line` from
  // the start of the release: its unregistration is recognised until seen,
  // however late it comes. The line whose registration the server dropped
  // unasked: still `line` (the library holds it) but not registered.
  KIRO_HANDLE m_hReleasingLine = 0;
  bool m_bLineLost = false;
  // Under the state lock: every call the library created or offered and has
  // not closed, the agent's own among them; the library hands a closed
  // call's handle out again. How far the agent's call has come (see
  // CallPhase): a repeated or overtaken event of an earlier phase is stale.
  std::vector<SCallNote> m_calls;
  int m_nCallPhase = 0;
  uint64_t m_nChangeSeq = 0;
  // Under the tell lock: the change the observers were told of last.
  SAgentView m_told = {STATE_UNINITIALISED, 1, 0};
};
