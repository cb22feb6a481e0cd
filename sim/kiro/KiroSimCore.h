// The state of the simulated SIP library and its delivery threads.
//
// One CKiroSim per process, built on first use and never destroyed (delivery
// threads may still run while the process exits, and the module is pinned so
// it is never unmapped under them). Requests arrive on any thread: the
// host's, or a delivery thread when a listener re-enters from inside a
// callback. Everything below is guarded by one SRW lock, which a delivery
// thread releases while a listener runs, so a listener may call back into the
// library.
//
// Events wait in a queue ordered by due time. Each belongs to a key (its line
// or call), and a key's events go out in the order they were queued, one at
// a time; events of different keys may go out at once on different threads
// (KIROSIM_MODE_THREADS). Thread 0 delivers in every mode, the others only
// in that mode. In KIROSIM_MODE_EARLY a request hands its events to a
// delivery thread and waits for them before it returns; one made on a
// delivery thread (from inside a callback) delivers them itself, nested; in
// KIROSIM_MODE_SYNC every request does so on its own thread. Timers (the
// renewals of registered lines, the give-up of an unanswered call) are kept
// beside the queue and turned into events by thread 0 when they fall due.
#pragma once

#include <windows.h>
#include <stdint.h>
#include <map>
#include <string>
#include <vector>

#include "KiroApi.h"
#include "KiroSim.h"
#include "stopwatch.h"

enum class EKiroSimCallState {
  Calling,   // outgoing, nobody answers
  Alerting,  // outgoing, far end alerting
  Offered,   // incoming, not yet accepted
  Ringing,   // incoming, accepted
  Connected,
  Released,  // far end gone, waiting for KIRO_CallDestroy
};

struct SKiroSimCall {
  KIRO_HANDLE hLine;
  EKiroSimCallState eState;
  LONGLONG llGiveUp;  // when the library releases a call nobody answers; 0: never
};

struct SKiroSimEvent {
  LONGLONG llDue;  // performance-counter ticks
  uint64_t nKey;   // the line or call it is about
  uint64_t nSeq;   // order of queuing
  bool bLate;      // a stale copy for a gone handle, not the request's answer
  bool bRenewal;   // a renewal, which never ends: not work a test waits for
  int nType;
  uint32_t aWords[KIRO_RECORD_WORDS];
};

class CKiroSim {
 public:
  static CKiroSim &Get();

  // Holds the library lock for one control.
  class CGuard {
   public:
    CGuard() { AcquireSRWLockExclusive(&Get().m_lock); }
    ~CGuard() { ReleaseSRWLockExclusive(&Get().m_lock); }
    CGuard(const CGuard &) = delete;
    CGuard &operator=(const CGuard &) = delete;
  };

  // Holds the lock for one KIRO_ request; on the way out, after the result
  // is made, delivers the request's events first when the mode says so.
  class CRequest : public CGuard {
   public:
    CRequest() : m_nFirstSeq(Get().m_nNextSeq) {}
    ~CRequest() { Get().FinishRequest(m_nFirstSeq); }

   private:
    uint64_t m_nFirstSeq;
  };

  // Everything below expects the lock held.
  void Record(const char *szFormat, ...);
  // A failure a test set for this call (by function or by step), else 0.
  int ForcedResult(const char *szFunction);
  void ForceResult(const char *szFunction, int nResult);
  void FailStep(int nStep, int nResult);
  void SetEventDelay(int nCode, int nDelayMs);
  void SetMode(int nMode);
  int Mode() const { return m_nMode; }
  void SetMaxCalls(int nMaxCalls) { m_nMaxCalls = nMaxCalls > 0 ? nMaxCalls : 1; }
  void SetRenewal(int nEveryMs);

  KIRO_HANDLE NewInstance();
  bool IsInstance(KIRO_HANDLE hInstance) const;
  void AddListener(KIRO_EVENT_CALLBACK pfnCallback, void *pContext);
  int ListenerCount() const { return static_cast<int>(m_listeners.size()); }
  KIRO_HANDLE NewLine();
  bool IsLine(KIRO_HANDLE hLine) const;
  // The line goes, and with it every call on it.
  void RemoveLine(KIRO_HANDLE hLine);
  // A registration's confirmation, then a renewal every period; a line that
  // is unregistered, removed or expired is renewed no more.
  void ConfirmRegistration(KIRO_HANDLE hLine);
  void StopRenewals(KIRO_HANDLE hLine) { m_renewals.erase(hLine); }
  int ExpireLine(KIRO_HANDLE hLine);
  // The lowest free handle of the call table (0: the table is full). A
  // handle whose call's events are still on their way is not free yet.
  KIRO_HANDLE NewCall(KIRO_HANDLE hLine, EKiroSimCallState eState);
  // The library releases the call nobody answers after its own timeout.
  void GiveUpLater(KIRO_HANDLE hCall);
  // An incoming call on a live line: 1000, then 9000; 0 if none can come.
  KIRO_HANDLE OfferCall(KIRO_HANDLE hLine);
  SKiroSimCall *FindCall(KIRO_HANDLE hCall);
  void RemoveCall(KIRO_HANDLE hCall);
  // The events of a call's end: 8000 unless released, then 11000.
  void QueueEnd(KIRO_HANDLE hCall);
  // The call ends without anyone's destroy: its end's events, and it is gone.
  void EndCall(KIRO_HANDLE hCall);
  // The far end ends the call: 8000 with nStatus; it waits for its destroy.
  int ReleaseByFarEnd(KIRO_HANDLE hCall, int nStatus);
  void SetEventStatus(int nCode, int nStatus) { m_statuses[nCode] = nStatus; }
  // The server dropped the line's registration: nothing to unregister.
  bool IsDropped(KIRO_HANDLE hLine) const { return m_dropped.count(hLine) != 0; }
  void EndCalls();
  int LiveCalls() const { return static_cast<int>(m_liveCalls.size()); }
  // Moves a call from eFrom to eTo and sends nCode; a library error if the
  // call is unknown or elsewhere.
  int AdvanceCall(KIRO_HANDLE hCall, EKiroSimCallState eFrom, EKiroSimCallState eTo, int nCode);
  KIRO_HANDLE LatestLine() const { return m_hLatestLine; }
  KIRO_HANDLE LatestCall() const { return m_hLatestCall; }

  // Queue events as the library sends them: each after its code's delay,
  // counted from the previous event of the same batch.
  void QueueLineEvent(KIRO_HANDLE hLine, int nCode, bool bLate = false, bool bRenewal = false);
  // nStatus: the status word of each; D_nStatusOfCode for the code's own.
  static constexpr int D_nStatusOfCode = -0x7fffffff;
  void QueueCallEvents(KIRO_HANDLE hCall, const int *pCodes, int nCodes, bool bLate = false,
                       int nStatus = D_nStatusOfCode);
  void QueueRawEvent(int nType, const uint32_t *pWords, int nWords, int nDelayMs);

  int CallCount() const { return static_cast<int>(m_calls.size()); }
  const std::string *CallAt(int nIndex) const;
  int64_t DispatchTime(int nCode) const;

  // Forgets lines, calls, queued events, faults, delays, the mode and the
  // record, keeping instances and listeners; returns once no listener runs.
  void Reset();
  // Waits until the queue is empty and no listener runs.
  bool WaitIdle(int nTimeoutMs);

 private:
  CKiroSim();
  // Delivery (KiroSimDelivery.cpp).
  static DWORD WINAPI DeliveryThread(void *pParam);
  void RunDeliveries(int nThread);
  bool PickDue(size_t &nIndex, LONGLONG &llWaitTicks) const;
  void Deliver(const SKiroSimEvent &event);
  void Enqueue(SKiroSimEvent event);
  void Insert(SKiroSimEvent event);
  void StartThreads();
  void FinishRequest(uint64_t nFirstSeq);
  void DeliverNested(uint64_t nFirstSeq, uint64_t nEndSeq);
  bool AwaitDelivered(uint64_t nFirstSeq, uint64_t nEndSeq);
  bool SleepOn(CONDITION_VARIABLE &cv, const CStopwatch &since, DWORD dwBoundMs);

  bool KeyPending(uint64_t nKey) const;
  // Thread 0: the timers due now become events; how long until the next.
  LONGLONG FireTimers();
  bool DeliversOnRequest() const { return (m_nMode & (KIROSIM_MODE_EARLY | KIROSIM_MODE_SYNC)) != 0; }
  int DelayOf(int nCode) const;
  LONGLONG Now() const;
  LONGLONG TicksFromMs(int nMs) const;
  SKiroSimEvent NewEvent(int nType, KIRO_HANDLE hObject, LONGLONG llDue, bool bLate) const;

  SRWLOCK m_lock = SRWLOCK_INIT;
  CONDITION_VARIABLE m_cvWork = CONDITION_VARIABLE_INIT;
  CONDITION_VARIABLE m_cvIdle = CONDITION_VARIABLE_INIT;
  int m_nThreads = 0;
  std::vector<DWORD> m_deliveryThreadIds;
  int m_nDelivering = 0;
  int m_nDeliveringRenewals = 0;
  LONGLONG m_llFrequency = 1;
  uint32_t m_nJitter = 0;  // random state for the threads mode's jitter

  int m_nMode = 0;
  int m_nFailStep = -1;
  int m_nFailResult = 0;
  std::vector<SKiroSimEvent> m_queue;
  uint64_t m_nNextSeq = 1;
  std::map<uint64_t, bool> m_pending;      // queued or running: seq -> late
  std::map<uint64_t, int> m_busyKeys;      // keys being delivered: depth
  std::map<uint64_t, LONGLONG> m_lastDue;  // keys: due time of their latest event
  std::vector<std::pair<KIRO_EVENT_CALLBACK, void *>> m_listeners;
  std::map<std::string, int> m_forced;
  std::map<int, int> m_delays;
  std::map<int, int64_t> m_dispatched;
  std::vector<std::string> m_calls;
  std::vector<KIRO_HANDLE> m_instances;
  std::vector<KIRO_HANDLE> m_lines;
  std::map<KIRO_HANDLE, SKiroSimCall> m_liveCalls;
  std::map<KIRO_HANDLE, LONGLONG> m_renewals;  // registered lines: next renewal due
  std::map<KIRO_HANDLE, bool> m_dropped;       // lines whose registration the server dropped
  std::map<int, int> m_statuses;               // call event code -> status word
  int m_nRenewalMs = KIROSIM_RENEWAL_MS;
  int m_nMaxCalls = 16;
  KIRO_HANDLE m_hNextInstance = 0, m_hNextLine = 0;
  KIRO_HANDLE m_hLatestLine = 0, m_hLatestCall = 0;
};

// Code of an event record, for delays and dispatch times (-type for raw
// events of other types).
int KiroSimEventCode(int nType, const uint32_t *pWords);
