// The simulated SIP library's delivery threads (see KiroSimCore.h for what
// is shared and how it is guarded).
//
// Thread 0 starts with the first queued event; the threads mode adds more.
// Each thread takes the earliest due event whose key is idle and which is the
// oldest queued of its key, drops the lock while the listeners run, and wakes
// the others when it is done. A key's events are queued with non-decreasing
// due times, so the queue's order is also each key's order. In
// KIROSIM_MODE_RACE_CALL a call's next event may go while the one before it
// is still with the listeners, on another thread.
#include <algorithm>

#include "KiroSim.h"
#include "KiroSimCore.h"

namespace {
// Delivery threads in the threads mode; plenty for the plug-in's one line and
// one call at a time, with a spare for stale and repeated events.
const int D_nThreadsModeThreads = 3;
// Longest a request waits for its early answer, and Reset for a listener.
const DWORD D_dwEarlyBoundMs = 10000;
// The threads mode shifts each event by up to this much, so that different
// keys' events overtake each other as they would on a busy library.
const int D_nJitterMs = 3;

struct SThreadStart {
  CKiroSim *pSim;
  int nIndex;
};
}  // namespace

void CKiroSim::Enqueue(SKiroSimEvent event) {
  if (m_nMode & KIROSIM_MODE_THREADS) {
    m_nJitter = m_nJitter * 1103515245u + 12345u;
    event.llDue += TicksFromMs(static_cast<int>((m_nJitter >> 16) % (D_nJitterMs + 1)));
  }
  Insert(event);
  if (m_nMode & KIROSIM_MODE_REPEAT) Insert(event);
  StartThreads();
  WakeAllConditionVariable(&m_cvWork);
}

void CKiroSim::Insert(SKiroSimEvent event) {
  event.nSeq = m_nNextSeq++;
  LONGLONG &llLastDue = m_lastDue[event.nKey];
  event.llDue = std::max(event.llDue, llLastDue);
  llLastDue = event.llDue;
  // Stable by due time: events due together keep the order they were queued.
  auto it = std::upper_bound(m_queue.begin(), m_queue.end(), event,
                             [](const SKiroSimEvent &a, const SKiroSimEvent &b) { return a.llDue < b.llDue; });
  m_queue.insert(it, event);
  m_pending[event.nSeq] = event.bLate;
}

void CKiroSim::StartThreads() {
  int nWanted = (m_nMode & (KIROSIM_MODE_THREADS | KIROSIM_MODE_RACE_CALL)) ? D_nThreadsModeThreads : 1;
  if (m_nThreads == 0) {
    // Pin the module: the threads run its code until the process ends.
    HMODULE hSelf = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&KiroSimEventCode), &hSelf);
  }
  for (; m_nThreads < nWanted; ++m_nThreads) {
    DWORD dwId = 0;
    HANDLE hThread = CreateThread(nullptr, 0, &CKiroSim::DeliveryThread, new SThreadStart{this, m_nThreads}, 0, &dwId);
    if (hThread) CloseHandle(hThread);
    m_deliveryThreadIds.push_back(dwId);
  }
}

DWORD WINAPI CKiroSim::DeliveryThread(void *pParam) {
  SThreadStart start = *static_cast<SThreadStart *>(pParam);
  delete static_cast<SThreadStart *>(pParam);
  start.pSim->RunDeliveries(start.nIndex);
  return 0;
}

void CKiroSim::RunDeliveries(int nThread) {
  AcquireSRWLockExclusive(&m_lock);
  for (;;) {
    size_t nIndex = 0;
    LONGLONG llWait = -1;
    bool bMayRun = nThread == 0 || (m_nMode & (KIROSIM_MODE_THREADS | KIROSIM_MODE_RACE_CALL));
    LONGLONG llTimer = nThread == 0 ? FireTimers() : -1;
    if (!bMayRun || !PickDue(nIndex, llWait)) {
      if (llTimer >= 0 && (llWait < 0 || llTimer < llWait)) llWait = llTimer;
      DWORD dwMs = INFINITE;
      if (bMayRun && llWait >= 0) dwMs = static_cast<DWORD>((llWait * 1000 + m_llFrequency - 1) / m_llFrequency);
      SleepConditionVariableSRW(&m_cvWork, &m_lock, dwMs, 0);
      continue;
    }
    SKiroSimEvent event = m_queue[nIndex];
    m_queue.erase(m_queue.begin() + static_cast<long>(nIndex));
    Deliver(event);
  }
}

// The earliest due event that may go now; else how long until the next one
// could (-1: none could, wait for a wake-up).
bool CKiroSim::PickDue(size_t &nIndex, LONGLONG &llWaitTicks) const {
  LONGLONG llNow = Now();
  std::vector<uint64_t> passed;
  const bool bRace = (m_nMode & KIROSIM_MODE_RACE_CALL) != 0;
  for (size_t i = 0; i < m_queue.size(); ++i) {
    const SKiroSimEvent &event = m_queue[i];
    bool bBehind = std::find(passed.begin(), passed.end(), event.nKey) != passed.end();
    passed.push_back(event.nKey);
    auto busy = m_busyKeys.find(event.nKey);
    // Two of a call's events at most, the earlier already with the listeners.
    bool bRaces = bRace && event.nType == KIRO_EVENT_CALL && busy != m_busyKeys.end() && busy->second < 2;
    if (bBehind || (busy != m_busyKeys.end() && !bRaces)) continue;
    if (event.llDue <= llNow) {
      nIndex = i;
      return true;
    }
    llWaitTicks = event.llDue - llNow;
    return false;
  }
  return false;
}

// Called and returns with the lock held; drops it while the listeners run so
// that they can call back into the library.
void CKiroSim::Deliver(const SKiroSimEvent &event) {
  std::vector<std::pair<KIRO_EVENT_CALLBACK, void *>> listeners = m_listeners;
  ++m_busyKeys[event.nKey];
  ++m_nDelivering;
  if (event.bRenewal) ++m_nDeliveringRenewals;
  m_dispatched[KiroSimEventCode(event.nType, event.aWords)] = Now();
  ReleaseSRWLockExclusive(&m_lock);
  for (const auto &listener : listeners) listener.first(event.nType, event.aWords, listener.second);
  AcquireSRWLockExclusive(&m_lock);
  if (--m_busyKeys[event.nKey] == 0) m_busyKeys.erase(event.nKey);
  --m_nDelivering;
  if (event.bRenewal) --m_nDeliveringRenewals;
  m_pending.erase(event.nSeq);
  WakeAllConditionVariable(&m_cvIdle);
  WakeAllConditionVariable(&m_cvWork);
}

// The request queued the events numbered nFirstSeq up to the next number;
// the stale copies among them come later, as they would.
void CKiroSim::FinishRequest(uint64_t nFirstSeq) {
  uint64_t nEndSeq = m_nNextSeq;
  if (!DeliversOnRequest() || nEndSeq == nFirstSeq) return;
  // On the library's own thread a request delivers its early answer itself
  // rather than wait for a thread that may be this one.
  bool bDeliveryThread = std::find(m_deliveryThreadIds.begin(), m_deliveryThreadIds.end(), GetCurrentThreadId()) !=
                         m_deliveryThreadIds.end();
  if (bDeliveryThread || (m_nMode & KIROSIM_MODE_SYNC))
    DeliverNested(nFirstSeq, nEndSeq);
  else
    AwaitDelivered(nFirstSeq, nEndSeq);
}

// On a delivery thread, inside a listener: the request's own events go out
// here and now, before it returns, whatever their keys are doing.
void CKiroSim::DeliverNested(uint64_t nFirstSeq, uint64_t nEndSeq) {
  auto bMine = [nFirstSeq, nEndSeq](const SKiroSimEvent &event) {
    return event.nSeq >= nFirstSeq && event.nSeq < nEndSeq && !event.bLate;
  };
  for (;;) {
    auto it = std::find_if(m_queue.begin(), m_queue.end(), bMine);
    for (auto other = it; other != m_queue.end(); ++other)
      if (bMine(*other) && other->nSeq < it->nSeq) it = other;
    if (it == m_queue.end()) return;
    SKiroSimEvent event = *it;
    m_queue.erase(it);
    Deliver(event);
  }
}

// On any other thread: a delivery thread sends them while the caller waits.
bool CKiroSim::AwaitDelivered(uint64_t nFirstSeq, uint64_t nEndSeq) {
  const CStopwatch sinceStart;
  for (;;) {
    bool bWaiting = false;
    for (auto it = m_pending.lower_bound(nFirstSeq); it != m_pending.end() && it->first < nEndSeq && !bWaiting; ++it)
      bWaiting = !it->second;
    if (!bWaiting) return true;
    if (!SleepOn(m_cvIdle, sinceStart, D_dwEarlyBoundMs)) return false;
  }
}

// Sleeps on cv until woken or dwBoundMs after since; false once past it.
bool CKiroSim::SleepOn(CONDITION_VARIABLE &cv, const CStopwatch &since, DWORD dwBoundMs) {
  const DWORD dwElapsedMs = since.ElapsedMs();
  if (dwElapsedMs >= dwBoundMs) return false;
  SleepConditionVariableSRW(&cv, &m_lock, dwBoundMs - dwElapsedMs, 0);
  return true;
}

// A call the library is yet to give up counts as work to come; the renewals,
// which never end, do not.
bool CKiroSim::WaitIdle(int nTimeoutMs) {
  const CStopwatch sinceStart;
  auto bBusy = [this] {
    for (const auto &call : m_liveCalls)
      if (call.second.llGiveUp != 0) return true;
    for (const SKiroSimEvent &event : m_queue)
      if (!event.bRenewal) return true;
    return m_nDelivering > m_nDeliveringRenewals;
  };
  while (bBusy())
    if (!SleepOn(m_cvIdle, sinceStart, static_cast<DWORD>(nTimeoutMs))) return false;
  return true;
}
