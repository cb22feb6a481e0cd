// The simulated SIP library's bookkeeping and event thread (see KiroSimCore.h
// for what is shared and how it is guarded).
#include "KiroSimCore.h"

#include <stdarg.h>
#include <stdio.h>
#include <algorithm>

#include "KiroSim.h"

namespace {
const KIRO_HANDLE D_hFirstInstance = 0x1001;
const KIRO_HANDLE D_hFirstLine = 0x2001;
const KIRO_HANDLE D_hFirstCall = 0x3001;
}  // namespace

int KiroSimEventCode(int nType, const uint32_t *pWords) {
  if (nType == KIRO_EVENT_CALL) return static_cast<int>(pWords[KIRO_WORD_CALL_CODE]);
  if (nType == KIRO_EVENT_LINE) return static_cast<int>(pWords[KIRO_WORD_LINE_CODE]);
  return -nType;
}

CKiroSim &CKiroSim::Get() {
  // Never destroyed: the event thread may still be inside Deliver when the
  // process exits and static destructors run.
  static CKiroSim *s_pSim = new CKiroSim();
  return *s_pSim;
}

CKiroSim::CKiroSim() {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  m_llFrequency = frequency.QuadPart;
  m_hNextInstance = D_hFirstInstance;
  m_hNextLine = D_hFirstLine;
  m_hNextCall = D_hFirstCall;
}

void CKiroSim::Record(const char *szFormat, ...) {
  char szLine[1024];
  va_list args;
  va_start(args, szFormat);
  vsnprintf(szLine, sizeof szLine, szFormat, args);
  va_end(args);
  m_calls.push_back(szLine);
}

int CKiroSim::ForcedResult(const char *szFunction) const {
  auto it = m_forced.find(szFunction);
  return it == m_forced.end() ? 0 : it->second;
}

void CKiroSim::ForceResult(const char *szFunction, int nResult) {
  if (nResult == 0)
    m_forced.erase(szFunction);
  else
    m_forced[szFunction] = nResult;
}

void CKiroSim::SetEventDelay(int nCode, int nDelayMs) { m_delays[nCode] = nDelayMs; }

int CKiroSim::DelayOf(int nCode) const {
  auto it = m_delays.find(nCode);
  return it == m_delays.end() ? KIROSIM_DEFAULT_DELAY_MS : it->second;
}

LONGLONG CKiroSim::TicksFromMs(int nMs) const { return m_llFrequency * nMs / 1000; }

KIRO_HANDLE CKiroSim::NewInstance() {
  m_instances.push_back(m_hNextInstance);
  return m_hNextInstance++;
}

bool CKiroSim::IsInstance(KIRO_HANDLE hInstance) const {
  return std::find(m_instances.begin(), m_instances.end(), hInstance) != m_instances.end();
}

void CKiroSim::AddListener(KIRO_EVENT_CALLBACK pfnCallback, void *pContext) {
  m_listeners.emplace_back(pfnCallback, pContext);
}

KIRO_HANDLE CKiroSim::NewLine() {
  m_lines.push_back(m_hNextLine);
  m_hLatestLine = m_hNextLine;
  return m_hNextLine++;
}

bool CKiroSim::IsLine(KIRO_HANDLE hLine) const {
  return std::find(m_lines.begin(), m_lines.end(), hLine) != m_lines.end();
}

void CKiroSim::RemoveLine(KIRO_HANDLE hLine) {
  m_lines.erase(std::remove(m_lines.begin(), m_lines.end(), hLine), m_lines.end());
}

KIRO_HANDLE CKiroSim::NewCall(KIRO_HANDLE hLine, KiroSimCallState eState) {
  m_liveCalls[m_hNextCall] = SKiroSimCall{hLine, eState};
  m_hLatestCall = m_hNextCall;
  return m_hNextCall++;
}

SKiroSimCall *CKiroSim::FindCall(KIRO_HANDLE hCall) {
  auto it = m_liveCalls.find(hCall);
  return it == m_liveCalls.end() ? nullptr : &it->second;
}

void CKiroSim::RemoveCall(KIRO_HANDLE hCall) { m_liveCalls.erase(hCall); }

int CKiroSim::AdvanceCall(KIRO_HANDLE hCall, KiroSimCallState eFrom, KiroSimCallState eTo,
                          int nCode) {
  SKiroSimCall *pCall = FindCall(hCall);
  if (!pCall) return KIROSIM_ERR_BAD_HANDLE;
  if (pCall->eState != eFrom) return KIROSIM_ERR_WRONG_STATE;
  pCall->eState = eTo;
  QueueCallEvents(hCall, &nCode, 1);
  return 0;
}

const std::string *CKiroSim::CallAt(int nIndex) const {
  if (nIndex < 0 || nIndex >= CallCount()) return nullptr;
  return &m_calls[nIndex];
}

int64_t CKiroSim::DispatchTime(int nCode) const {
  auto it = m_dispatched.find(nCode);
  return it == m_dispatched.end() ? 0 : it->second;
}

void CKiroSim::QueueLineEvent(KIRO_HANDLE hLine, int nCode) {
  int nDelay = DelayOf(nCode);
  if (nDelay == KIROSIM_DROP) return;
  SKiroSimEvent event = {};
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  event.llDue = now.QuadPart + TicksFromMs(nDelay);
  event.nType = KIRO_EVENT_LINE;
  event.aWords[0] = m_instances.empty() ? 0 : m_instances.back();
  event.aWords[KIRO_WORD_HANDLE] = hLine;
  event.aWords[KIRO_WORD_LINE_CODE] = static_cast<uint32_t>(nCode);
  event.aWords[3] = 200;  // the registrar's answer, not read by the plug-in
  Enqueue(event);
}

void CKiroSim::QueueCallEvents(KIRO_HANDLE hCall, const int *pCodes, int nCodes) {
  const SKiroSimCall *pCall = FindCall(hCall);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  LONGLONG llDue = now.QuadPart;
  for (int i = 0; i < nCodes; ++i) {
    int nDelay = DelayOf(pCodes[i]);
    if (nDelay == KIROSIM_DROP) continue;
    llDue += TicksFromMs(nDelay);
    SKiroSimEvent event = {};
    event.llDue = llDue;
    event.nType = KIRO_EVENT_CALL;
    event.aWords[0] = m_instances.empty() ? 0 : m_instances.back();
    event.aWords[KIRO_WORD_HANDLE] = hCall;
    event.aWords[2] = pCall ? pCall->hLine : 0;
    event.aWords[KIRO_WORD_CALL_CODE] = static_cast<uint32_t>(pCodes[i]);
    event.aWords[KIRO_WORD_STATUS] = 1;
    Enqueue(event);
  }
}

void CKiroSim::QueueRawEvent(int nType, const uint32_t *pWords, int nWords, int nDelayMs) {
  SKiroSimEvent event = {};
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  event.llDue = now.QuadPart + TicksFromMs(nDelayMs < 0 ? 0 : nDelayMs);
  event.nType = nType;
  for (int i = 0; pWords && i < nWords && i < KIRO_RECORD_WORDS; ++i) event.aWords[i] = pWords[i];
  Enqueue(event);
}

void CKiroSim::Enqueue(const SKiroSimEvent &event) {
  // Stable by due time: events due together keep the order they were queued.
  auto it = std::upper_bound(m_queue.begin(), m_queue.end(), event,
                             [](const SKiroSimEvent &a, const SKiroSimEvent &b) {
                               return a.llDue < b.llDue;
                             });
  m_queue.insert(it, event);
  if (!m_hThread) {
    // Pin the module: the thread runs its code until the process ends.
    HMODULE hSelf = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&KiroSimEventCode), &hSelf);
    m_hThread = CreateThread(nullptr, 0, &CKiroSim::EventThread, this, 0, nullptr);
  }
  WakeAllConditionVariable(&m_cvWork);
}

DWORD WINAPI CKiroSim::EventThread(void *pParam) {
  static_cast<CKiroSim *>(pParam)->RunEvents();
  return 0;
}

void CKiroSim::RunEvents() {
  AcquireSRWLockExclusive(&m_lock);
  for (;;) {
    if (m_queue.empty()) {
      SleepConditionVariableSRW(&m_cvWork, &m_lock, INFINITE, 0);
      continue;
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    LONGLONG llWait = m_queue.front().llDue - now.QuadPart;
    if (llWait > 0) {
      DWORD dwMs = static_cast<DWORD>((llWait * 1000 + m_llFrequency - 1) / m_llFrequency);
      SleepConditionVariableSRW(&m_cvWork, &m_lock, dwMs, 0);
      continue;
    }
    SKiroSimEvent event = m_queue.front();
    m_queue.erase(m_queue.begin());
    Deliver(event);
    WakeAllConditionVariable(&m_cvIdle);
  }
}

// Called and returns with the lock held; drops it while the listeners run so
// that they can call back into the library.
void CKiroSim::Deliver(const SKiroSimEvent &event) {
  std::vector<std::pair<KIRO_EVENT_CALLBACK, void *>> listeners = m_listeners;
  m_bDelivering = true;
  LARGE_INTEGER dispatched;
  QueryPerformanceCounter(&dispatched);
  m_dispatched[KiroSimEventCode(event.nType, event.aWords)] = dispatched.QuadPart;
  ReleaseSRWLockExclusive(&m_lock);
  for (const auto &listener : listeners) listener.first(event.nType, event.aWords, listener.second);
  AcquireSRWLockExclusive(&m_lock);
  m_bDelivering = false;
}

void CKiroSim::Reset() {
  m_queue.clear();
  m_listeners.clear();
  // A listener already running may still call in: wait for it, so that the
  // test can unload the module it lives in.
  while (m_bDelivering) SleepConditionVariableSRW(&m_cvIdle, &m_lock, INFINITE, 0);
  m_queue.clear();
  m_forced.clear();
  m_delays.clear();
  m_dispatched.clear();
  m_calls.clear();
  m_instances.clear();
  m_lines.clear();
  m_liveCalls.clear();
  m_hNextInstance = D_hFirstInstance;
  m_hNextLine = D_hFirstLine;
  m_hNextCall = D_hFirstCall;
  m_hLatestLine = m_hLatestCall = 0;
}

bool CKiroSim::WaitIdle(int nTimeoutMs) {
  ULONGLONG ullEnd = GetTickCount64() + static_cast<ULONGLONG>(nTimeoutMs);
  while (!m_queue.empty() || m_bDelivering) {
    ULONGLONG ullNow = GetTickCount64();
    if (ullNow >= ullEnd) return false;
    SleepConditionVariableSRW(&m_cvIdle, &m_lock, static_cast<DWORD>(ullEnd - ullNow), 0);
  }
  return true;
}
