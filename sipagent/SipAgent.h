// CSipAgent: the one SIP agent of the process, between the host's exports and
// the SIP library's events.
//
// Two threads share it. The host's thread runs the exports: it starts the
// library, requests registration and calls, then polls `state` until an event
// shows the outcome (WaitForState). The library's event thread runs
// AgentEventCallback, which sets `state`, `call`, `callStatus` and
// `autoAnswer` and reads `line`. None of this takes a lock: the fields both
// threads touch are atomics, so a waiting export sees each event's state on
// its next poll, and the callback never waits for the host. The call handle
// is a plain word because its address goes to KIRO_CallDestroy, which clears
// it; it is read and written with atomic builtins elsewhere. The observer list
// alone has a lock, held only to append or to copy the list, never while an
// observer runs.
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

// Every export waits at most this many 1 ms polls.
const int D_nWaitPolls = 5000;

// A request to the library on the current call, as the file exports make it.
typedef int (*PFN_CallRequest)(KIRO_HANDLE hCall, const char *szFile);

extern "C" unsigned char __cdecl AgentEventCallback(int nType, const uint32_t *pRecord,
                                                    void *pContext);

class CSipAgent {
 public:
  // Built on first use, never destroyed: the library may still send events.
  static CSipAgent &Instance();

  // Host thread: requests. Each returns false and keeps `lastError` when the
  // request is refused or the library fails it.
  bool StartLibrary(const char *szInitOption);
  bool RequestRegistration(const char *szDomain, const char *szUser, const char *szCredential,
                           const char *szOutboundProxy, const char *szIdentity);
  bool ReleaseLine();
  bool RequestCall(const char *szDestination);
  bool RequestHangUp();
  bool RequestAnswer();
  // A request on the connected call; szFile is checked when bNeedsFile.
  bool RunTalkingRequest(PFN_CallRequest pfnRequest, const char *szFile, bool bNeedsFile);
  void SetAutoAnswer() { m_bAutoAnswer.store(true); }

  // Polls `state` every 1 ms, at most nPolls times; true once it is in nMask.
  bool WaitForState(uint32_t nMask, int nPolls) const;

  // Library thread: event handling (AgentEventCallback).
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
  CSipAgent() = default;
  bool Refuse(int nError);
  void SetState(AgentState eState) { m_state.store(eState); }

  friend class CSipAgentProbe;  // white-box tests put the agent back to its start

  std::vector<CAgentObserver *> m_observers;
  mutable SRWLOCK m_observerLock = SRWLOCK_INIT;
  KIRO_HANDLE m_hInstance = 0;  // host thread only
  std::atomic<KIRO_HANDLE> m_hLine{0};
  KIRO_HANDLE m_hCall = 0;
  std::atomic<AgentState> m_state{STATE_UNINITIALISED};
  std::atomic<int> m_nLastError{0};
  std::atomic<int> m_nCallStatus{1};
  std::atomic<bool> m_bAutoAnswer{false};
  // The line being released: its unregistration event is still recognised
  // after KIRO_RemoveLine, however late it comes.
  std::atomic<KIRO_HANDLE> m_hReleasingLine{0};
};
