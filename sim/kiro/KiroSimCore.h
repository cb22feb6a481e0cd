// The state of the simulated SIP library and its event thread.
//
// One CKiroSim per process, built on first use and never destroyed (the event
// thread may still run while the process exits, and the module is pinned so
// it is never unmapped under that thread). Requests arrive on any thread:
// the host's, or the event thread itself when the listener re-enters from
// inside a callback. Everything below is guarded by one SRW lock, which the
// event thread releases while a listener runs, so a listener may call back
// into the library. Events wait in a queue ordered by due time; the event
// thread sends each one to every listener, never inside the caller's request.
#pragma once

#include <windows.h>
#include <stdint.h>
#include <map>
#include <string>
#include <vector>

#include "KiroApi.h"

enum KiroSimCallState {
  KIROSIM_CALL_ALERTING,   // outgoing, far end alerting
  KIROSIM_CALL_OFFERED,    // incoming, not yet accepted
  KIROSIM_CALL_RINGING,    // incoming, accepted
  KIROSIM_CALL_CONNECTED,
  KIROSIM_CALL_RELEASED,   // far end gone, waiting for KIRO_CallDestroy
};

struct SKiroSimCall {
  KIRO_HANDLE hLine;
  KiroSimCallState eState;
};

struct SKiroSimEvent {
  LONGLONG llDue;  // performance-counter ticks
  int nType;
  uint32_t aWords[KIRO_RECORD_WORDS];
};

class CKiroSim {
 public:
  static CKiroSim &Get();

  // Holds the library lock for one request or control.
  class CGuard {
   public:
    CGuard() { AcquireSRWLockExclusive(&Get().m_lock); }
    ~CGuard() { ReleaseSRWLockExclusive(&Get().m_lock); }
    CGuard(const CGuard &) = delete;
    CGuard &operator=(const CGuard &) = delete;
  };

  // Everything below expects the lock held.
  void Record(const char *szFormat, ...);
  int ForcedResult(const char *szFunction) const;
  void ForceResult(const char *szFunction, int nResult);
  void SetEventDelay(int nCode, int nDelayMs);

  KIRO_HANDLE NewInstance();
  bool IsInstance(KIRO_HANDLE hInstance) const;
  void AddListener(KIRO_EVENT_CALLBACK pfnCallback, void *pContext);
  KIRO_HANDLE NewLine();
  bool IsLine(KIRO_HANDLE hLine) const;
  void RemoveLine(KIRO_HANDLE hLine);
  KIRO_HANDLE NewCall(KIRO_HANDLE hLine, KiroSimCallState eState);
  SKiroSimCall *FindCall(KIRO_HANDLE hCall);
  void RemoveCall(KIRO_HANDLE hCall);
  // Moves a call from eFrom to eTo and sends nCode; a library error if the
  // call is unknown or elsewhere.
  int AdvanceCall(KIRO_HANDLE hCall, KiroSimCallState eFrom, KiroSimCallState eTo, int nCode);
  KIRO_HANDLE LatestLine() const { return m_hLatestLine; }
  KIRO_HANDLE LatestCall() const { return m_hLatestCall; }

  // Queue events as the library sends them: each after its code's delay,
  // counted from the previous event of the same batch.
  void QueueLineEvent(KIRO_HANDLE hLine, int nCode);
  void QueueCallEvents(KIRO_HANDLE hCall, const int *pCodes, int nCodes);
  void QueueRawEvent(int nType, const uint32_t *pWords, int nWords, int nDelayMs);

  int CallCount() const { return static_cast<int>(m_calls.size()); }
  const std::string *CallAt(int nIndex) const;
  int64_t DispatchTime(int nCode) const;

  // Forgets lines, calls, listeners, queued events, forced results, delays
  // and the record; returns once no listener runs any more.
  void Reset();
  // Waits until the queue is empty and no listener runs.
  bool WaitIdle(int nTimeoutMs);

 private:
  CKiroSim();
  static DWORD WINAPI EventThread(void *pParam);
  void RunEvents();
  void Deliver(const SKiroSimEvent &event);
  void Enqueue(const SKiroSimEvent &event);
  int DelayOf(int nCode) const;
  LONGLONG TicksFromMs(int nMs) const;

  SRWLOCK m_lock = SRWLOCK_INIT;
  CONDITION_VARIABLE m_cvWork = CONDITION_VARIABLE_INIT;
  CONDITION_VARIABLE m_cvIdle = CONDITION_VARIABLE_INIT;
  HANDLE m_hThread = nullptr;
  bool m_bDelivering = false;
  LONGLONG m_llFrequency = 1;

  std::vector<SKiroSimEvent> m_queue;
  std::vector<std::pair<KIRO_EVENT_CALLBACK, void *>> m_listeners;
  std::map<std::string, int> m_forced;
  std::map<int, int> m_delays;
  std::map<int, int64_t> m_dispatched;
  std::vector<std::string> m_calls;
  std::vector<KIRO_HANDLE> m_instances;
  std::vector<KIRO_HANDLE> m_lines;
  std::map<KIRO_HANDLE, SKiroSimCall> m_liveCalls;
  KIRO_HANDLE m_hNextInstance = 0, m_hNextLine = 0, m_hNextCall = 0;
  KIRO_HANDLE m_hLatestLine = 0, m_hLatestCall = 0;
};

// Code of an event record, for delays and dispatch times (-type for raw
// events of other types).
int KiroSimEventCode(int nType, const uint32_t *pWords);
