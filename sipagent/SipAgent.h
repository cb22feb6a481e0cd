// CSipAgent: the one SIP agent of the process, between the host's exports and
// the SIP library's events.
//
// Host threads run the exports: they start the library, request
// registration and calls, then wait until an event shows the outcome
// (WaitForState). Several host threads may do so at once: the request lock
// makes each request's check of the state and its calls into the library one
// step, so two requests never act on the same state; it is never held across
// a wait. The library's threads run AgentEventCallback, several at once if
// the library likes: it matches each event against the agent's line and
// call and moves the state.
//
// The state lock guards the state, the line and the marks of the line being
// released and the call being closed, so that an event's match and its
// effect are one step against any request or other event; every state change
// wakes the waiters on its condition variable. The lock is never held across
// a call into the library, which may deliver events from inside (even on the
// same thread). A waiter is marked by the change that reaches its mask, so a
// state that lasts only until the next event still ends the wait. `state`
// and `line` are also atomics so that anyone may read them without it. The call handle is a plain word because its address goes
// to KIRO_CallDestroy, which clears it; it is read and written with atomic
// builtins. The observer list has a lock of its own, held only to append or
// to copy the list, never while an observer runs.
#pragma once

#include <windows.h>
#include <stdint.h>
#include <atomic>
#include <vector>

#include "AgentObserver.h"
#include "KiroApi.h"

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

// A request to the library on the current call, as the file exports make it.
typedef int (*PFN_CallRequest)(KIRO_HANDLE hCall, const char *szFile);

// Test seam: runs while a line event is matched, between reading the mark of
// the line being released and reading the current line, so that a test can
// hold a library thread where the scheduler might. Null in the product.
typedef void (*PFN_LineMatchPause)(void);
extern PFN_LineMatchPause g_pfnLineMatchPause;

extern "C" unsigned char __cdecl AgentEventCallback(int nType, const uint32_t *pRecord,
                                                    void *pContext);

// Holds an SRW lock exclusively for a scope.
class CSrwExclusive {
 public:
  explicit CSrwExclusive(SRWLOCK &lock) : m_lock(lock) { AcquireSRWLockExclusive(&m_lock); }
  ~CSrwExclusive() { ReleaseSRWLockExclusive(&m_lock); }
  CSrwExclusive(const CSrwExclusive &) = delete;
  CSrwExclusive &operator=(const CSrwExclusive &) = delete;

 private:
  SRWLOCK &m_lock;
};

class CSipAgent {
 public:
  // Built on first use, never destroyed: the library may still send events.
  static CSipAgent &Instance();

  // Host threads: requests. Each returns false and keeps `lastError` when
  // the request is refused or the library fails it.
  // Starts the library and adds the listener unless that is done already.
  bool EnsureLibraryStarted(const char *szInitOption);
  bool RequestRegistration(const char *szDomain, const char *szUser, const char *szCredential,
                           const char *szOutboundProxy, const char *szIdentity);
  bool ReleaseLine();
  bool RequestCall(const char *szDestination);
  bool RequestHangUp();
  bool RequestAnswer();
  // A request on the connected call; szFile is checked when bNeedsFile.
  bool RunTalkingRequest(PFN_CallRequest pfnRequest, const char *szFile, bool bNeedsFile);
  void SetAutoAnswer() { m_bAutoAnswer.store(true); }

  // True as soon as `state` is in nMask, woken by the change itself; false
  // once dwTimeoutMs have passed since the call, by the clock.
  bool WaitForState(uint32_t nMask, DWORD dwTimeoutMs) const;

  // Library threads: event handling (AgentEventCallback).
  void OnCallEvent(const uint32_t *pRecord);
  void OnLineEvent(const uint32_t *pRecord);

  // Any thread. Observers are told over the entries present when the
  // notification began; an observer added meanwhile is told next time.
  void AddObserver(CAgentObserver *pObserver);
  void NotifyObservers();

  AgentState State() const { return m_state.load(); }
  int LastError() const { return m_nLastError.load(); }
  int CallStatus() const { return m_nCallStatus.load(); }
  bool AutoAnswer() const { return m_bAutoAnswer.load(); }
  KIRO_HANDLE Line() const { return m_hLine.load(); }
  KIRO_HANDLE Call() const { return __atomic_load_n(&m_hCall, __ATOMIC_SEQ_CST); }
  KIRO_HANDLE LibraryInstance() const { return m_hInstance; }
  size_t ObserverCount() const;

 private:
  // A thread in WaitForState: told under the state lock when a state of its
  // mask is set, however soon another replaces it.
  struct SStateWaiter {
    uint32_t nMask;
    bool bReached;
    SStateWaiter *pNext;
  };

  // What an event asks of the library once the state lock is released.
  enum ECallAction { ACTION_NONE, ACTION_ACCEPT, ACTION_ANSWER, ACTION_DESTROY };

  CSipAgent() = default;
  bool Refuse(int nError);
  // Both expect the state lock held. A call event cannot take the agent out
  // of a state without a registered line: the call is the line's.
  void SetStateLocked(AgentState eState);
  void SetCallStateLocked(AgentState eState);
  bool OwnsCallEvent(KIRO_HANDLE hCall) const;
  bool IsBehindItsCall(KIRO_HANDLE hCall, uint32_t nCode);
  ECallAction ApplyCallEvent(KIRO_HANDLE hCall, int nStatus, uint32_t nCode);
  void SetLine(KIRO_HANDLE hLine, KIRO_HANDLE hReleasing);
  void MarkClosing(KIRO_HANDLE hCall);

  friend class CSipAgentProbe;  // white-box tests put the agent back to its start

  std::vector<CAgentObserver *> m_observers;
  mutable SRWLOCK m_observerLock = SRWLOCK_INIT;
  SRWLOCK m_requestLock = SRWLOCK_INIT;
  mutable SRWLOCK m_stateLock = SRWLOCK_INIT;
  mutable CONDITION_VARIABLE m_cvState = CONDITION_VARIABLE_INIT;
  mutable SStateWaiter *m_pWaiters = nullptr;  // under the state lock
  KIRO_HANDLE m_hInstance = 0;  // under the request lock
  std::atomic<KIRO_HANDLE> m_hLine{0};
  KIRO_HANDLE m_hCall = 0;
  std::atomic<AgentState> m_state{STATE_UNINITIALISED};
  std::atomic<int> m_nLastError{0};
  std::atomic<int> m_nCallStatus{1};
  std::atomic<bool> m_bAutoAnswer{false};
  // Under the state lock. The line being released, no longer `line` from
  // the start of the release: its unregistration is recognised until seen,
  // however late it comes. The call whose destroy the agent asked for: its
  // closing events still count once the library has cleared `m_hCall`.
  KIRO_HANDLE m_hReleasingLine = 0;
  KIRO_HANDLE m_hClosingCall = 0;
  // Under the state lock: how far the call m_hPhaseCall has come (see
  // CallPhase); a repeated or overtaken event of an earlier phase is stale.
  KIRO_HANDLE m_hPhaseCall = 0;
  int m_nCallPhase = 0;
};
