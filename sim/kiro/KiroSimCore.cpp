// The simulated SIP library's bookkeeping: handles, the record of calls,
// forced failures and the events each request queues (see KiroSimCore.h for
// what is shared and how it is guarded; delivery is KiroSimDelivery.cpp).
#include "KiroSimCore.h"

#include <stdarg.h>
#include <stdio.h>
#include <algorithm>

#include "KiroSim.h"

namespace {
const KIRO_HANDLE D_hFirstInstance = 0x1001;
const KIRO_HANDLE D_hFirstLine = 0x2001;
const KIRO_HANDLE D_hFirstCall = 0x3001;
// What still comes for a handle once it is gone (KIROSIM_MODE_STALE): a
// registration refresh for a line; progress and a release for a call.
const int D_nStaleLineCode = KIRO_LINE_REGISTERED;
const int D_aStaleCallCodes[] = {KIRO_CALL_CONNECTED, KIRO_CALL_RELEASED};
}  // namespace

int KiroSimEventCode(int nType, const uint32_t *pWords) {
  if (nType == KIRO_EVENT_CALL) return static_cast<int>(pWords[KIRO_WORD_CALL_CODE]);
  if (nType == KIRO_EVENT_LINE) return static_cast<int>(pWords[KIRO_WORD_LINE_CODE]);
  return -nType;
}

CKiroSim &CKiroSim::Get() {
  // Never destroyed: a delivery thread may still be inside Deliver when the
  // process exits and static destructors run.
  static CKiroSim *s_pSim = new CKiroSim();
  return *s_pSim;
}

CKiroSim::CKiroSim() {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  m_llFrequency = frequency.QuadPart;
  m_nJitter = static_cast<uint32_t>(Now()) | 1u;
  m_hNextInstance = D_hFirstInstance;
  m_hNextLine = D_hFirstLine;
}

void CKiroSim::Record(const char *szFormat, ...) {
  char szLine[1024];
  va_list args;
  va_start(args, szFormat);
  vsnprintf(szLine, sizeof szLine, szFormat, args);
  va_end(args);
  m_calls.push_back(szLine);
}

int CKiroSim::ForcedResult(const char *szFunction) {
  if (m_nFailStep >= 0 && m_nFailStep-- == 0) return m_nFailResult;
  auto it = m_forced.find(szFunction);
  return it == m_forced.end() ? 0 : it->second;
}

void CKiroSim::ForceResult(const char *szFunction, int nResult) {
  if (nResult == 0)
    m_forced.erase(szFunction);
  else
    m_forced[szFunction] = nResult;
}

void CKiroSim::FailStep(int nStep, int nResult) {
  m_nFailStep = nResult != 0 ? nStep : -1;
  m_nFailResult = nResult;
}

void CKiroSim::SetEventDelay(int nCode, int nDelayMs) { m_delays[nCode] = nDelayMs; }

int CKiroSim::DelayOf(int nCode) const {
  auto it = m_delays.find(nCode);
  int nDelay = it == m_delays.end() ? KIROSIM_DEFAULT_DELAY_MS : it->second;
  // An early answer comes at once; a dropped one still never comes.
  return DeliversOnRequest() && nDelay > 0 ? 0 : nDelay;
}

LONGLONG CKiroSim::Now() const {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
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
  std::vector<KIRO_HANDLE> onLine;
  for (const auto &call : m_liveCalls)
    if (call.second.hLine == hLine) onLine.push_back(call.first);
  for (KIRO_HANDLE hCall : onLine) EndCall(hCall);
  m_lines.erase(std::remove(m_lines.begin(), m_lines.end(), hLine), m_lines.end());
  StopRenewals(hLine);
  m_dropped.erase(hLine);
  if (m_nMode & KIROSIM_MODE_STALE) QueueLineEvent(hLine, D_nStaleLineCode, true);
}

void CKiroSim::ConfirmRegistration(KIRO_HANDLE hLine) {
  m_dropped.erase(hLine);
  QueueLineEvent(hLine, KIRO_LINE_REGISTERED);
  if (m_nRenewalMs > 0) m_renewals[hLine] = Now() + TicksFromMs(m_nRenewalMs);
}

void CKiroSim::SetRenewal(int nEveryMs) {
  m_nRenewalMs = nEveryMs;
  for (auto &renewal : m_renewals) renewal.second = Now() + TicksFromMs(nEveryMs);
  if (nEveryMs <= 0) m_renewals.clear();
  WakeAllConditionVariable(&m_cvWork);
}

int CKiroSim::ExpireLine(KIRO_HANDLE hLine) {
  if (!IsLine(hLine)) return KIROSIM_ERR_BAD_HANDLE;
  StopRenewals(hLine);
  m_dropped[hLine] = true;
  QueueLineEvent(hLine, KIRO_LINE_UNREGISTERED);
  return 0;
}

bool CKiroSim::KeyPending(uint64_t nKey) const {
  if (m_busyKeys.count(nKey)) return true;
  for (const SKiroSimEvent &event : m_queue)
    if (event.nKey == nKey) return true;
  return false;
}

KIRO_HANDLE CKiroSim::NewCall(KIRO_HANDLE hLine, EKiroSimCallState eState) {
  for (KIRO_HANDLE hCall = D_hFirstCall; hCall < D_hFirstCall + m_nMaxCalls; ++hCall) {
    if (m_liveCalls.count(hCall) || KeyPending(NewEvent(KIRO_EVENT_CALL, hCall, 0, false).nKey)) continue;
    m_liveCalls[hCall] = SKiroSimCall{hLine, eState, 0};
    m_hLatestCall = hCall;
    return hCall;
  }
  return 0;
}

KIRO_HANDLE CKiroSim::OfferCall(KIRO_HANDLE hLine) {
  if (!IsLine(hLine)) return 0;
  KIRO_HANDLE hCall = NewCall(hLine, EKiroSimCallState::Offered);
  const int aOffer[] = {KIRO_CALL_CREATED, KIRO_CALL_OFFERED};
  if (hCall) QueueCallEvents(hCall, aOffer, 2);
  return hCall;
}

void CKiroSim::GiveUpLater(KIRO_HANDLE hCall) {
  SKiroSimCall *pCall = FindCall(hCall);
  if (pCall) pCall->llGiveUp = Now() + TicksFromMs(KIROSIM_NO_ANSWER_MS);
  StartThreads();
  WakeAllConditionVariable(&m_cvWork);
}

LONGLONG CKiroSim::FireTimers() {
  const LONGLONG llNow = Now();
  LONGLONG llNext = -1;
  auto note = [&llNext, llNow](LONGLONG llDue) {
    if (llNext < 0 || llDue - llNow < llNext) llNext = llDue - llNow;
  };
  for (auto &renewal : m_renewals) {
    if (renewal.second <= llNow) {
      bool bFails = (m_nMode & KIROSIM_MODE_RENEWAL_FAILS) != 0;
      QueueLineEvent(renewal.first, bFails ? KIROSIM_LINE_RENEWAL_FAILED : KIRO_LINE_REGISTERED, false, true);
      renewal.second = llNow + TicksFromMs(m_nRenewalMs);
    }
    note(renewal.second);
  }
  for (auto &call : m_liveCalls) {
    SKiroSimCall &state = call.second;
    if (state.llGiveUp == 0) continue;
    if (state.llGiveUp > llNow) {
      note(state.llGiveUp);
      continue;
    }
    state.llGiveUp = 0;
    state.eState = EKiroSimCallState::Released;
    const int nReleased = KIRO_CALL_RELEASED;
    QueueCallEvents(call.first, &nReleased, 1);
  }
  return llNext;
}

SKiroSimCall *CKiroSim::FindCall(KIRO_HANDLE hCall) {
  auto it = m_liveCalls.find(hCall);
  return it == m_liveCalls.end() ? nullptr : &it->second;
}

void CKiroSim::RemoveCall(KIRO_HANDLE hCall) {
  if (!m_liveCalls.erase(hCall)) return;
  if (m_nMode & KIROSIM_MODE_STALE) QueueCallEvents(hCall, D_aStaleCallCodes, 2, true);
}

void CKiroSim::QueueEnd(KIRO_HANDLE hCall) {
  const SKiroSimCall *pCall = FindCall(hCall);
  if (!pCall) return;
  const int aEnd[] = {KIRO_CALL_RELEASED, KIRO_CALL_CLOSED};
  bool bReleased = pCall->eState == EKiroSimCallState::Released;
  QueueCallEvents(hCall, bReleased ? aEnd + 1 : aEnd, bReleased ? 1 : 2);
}

void CKiroSim::EndCall(KIRO_HANDLE hCall) {
  QueueEnd(hCall);
  RemoveCall(hCall);
}

int CKiroSim::ReleaseByFarEnd(KIRO_HANDLE hCall, int nStatus) {
  SKiroSimCall *pCall = FindCall(hCall);
  if (!pCall) return KIROSIM_ERR_BAD_HANDLE;
  if (pCall->eState == EKiroSimCallState::Released) return KIROSIM_ERR_WRONG_STATE;
  pCall->eState = EKiroSimCallState::Released;
  pCall->llGiveUp = 0;
  const int nReleased = KIRO_CALL_RELEASED;
  QueueCallEvents(hCall, &nReleased, 1, false, nStatus);
  return 0;
}

void CKiroSim::EndCalls() {
  while (!m_liveCalls.empty()) EndCall(m_liveCalls.begin()->first);
}

int CKiroSim::AdvanceCall(KIRO_HANDLE hCall, EKiroSimCallState eFrom, EKiroSimCallState eTo, int nCode) {
  SKiroSimCall *pCall = FindCall(hCall);
  if (!pCall) return KIROSIM_ERR_BAD_HANDLE;
  if (pCall->eState != eFrom) return KIROSIM_ERR_WRONG_STATE;
  pCall->eState = eTo;
  KIRO_HANDLE hLine = pCall->hLine;
  QueueCallEvents(hCall, &nCode, 1);
  if (eTo == EKiroSimCallState::Connected && (m_nMode & KIROSIM_MODE_SECOND_CALLER)) OfferCall(hLine);
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

SKiroSimEvent CKiroSim::NewEvent(int nType, KIRO_HANDLE hObject, LONGLONG llDue, bool bLate) const {
  SKiroSimEvent event = {};
  event.llDue = llDue;
  event.nKey = (static_cast<uint64_t>(nType + 1) << 32) | hObject;
  event.bLate = bLate;
  event.nType = nType;
  event.aWords[0] = m_instances.empty() ? 0 : m_instances.back();
  event.aWords[KIRO_WORD_HANDLE] = hObject;
  return event;
}

void CKiroSim::QueueLineEvent(KIRO_HANDLE hLine, int nCode, bool bLate, bool bRenewal) {
  int nDelay = DelayOf(nCode);
  if (nDelay == KIROSIM_DROP) return;
  SKiroSimEvent event = NewEvent(KIRO_EVENT_LINE, hLine, Now() + TicksFromMs(nDelay), bLate);
  event.bRenewal = bRenewal;
  event.aWords[KIRO_WORD_LINE_CODE] = static_cast<uint32_t>(nCode);
  event.aWords[3] = 200;  // the registrar's answer, not read by the plug-in
  Enqueue(event);
}

void CKiroSim::QueueCallEvents(KIRO_HANDLE hCall, const int *pCodes, int nCodes, bool bLate, int nStatus) {
  const SKiroSimCall *pCall = FindCall(hCall);
  LONGLONG llDue = Now();
  for (int i = 0; i < nCodes; ++i) {
    int nDelay = DelayOf(pCodes[i]);
    if (nDelay == KIROSIM_DROP) continue;
    llDue += TicksFromMs(nDelay);
    SKiroSimEvent event = NewEvent(KIRO_EVENT_CALL, hCall, llDue, bLate);
    event.aWords[2] = pCall ? pCall->hLine : 0;
    event.aWords[KIRO_WORD_CALL_CODE] = static_cast<uint32_t>(pCodes[i]);
    auto status = m_statuses.find(pCodes[i]);
    int nWord = nStatus != D_nStatusOfCode ? nStatus : status == m_statuses.end() ? 1 : status->second;
    event.aWords[KIRO_WORD_STATUS] = static_cast<uint32_t>(nWord);
    Enqueue(event);
  }
}

void CKiroSim::QueueRawEvent(int nType, const uint32_t *pWords, int nWords, int nDelayMs) {
  uint32_t hObject = pWords && nWords > KIRO_WORD_HANDLE ? pWords[KIRO_WORD_HANDLE] : 0;
  SKiroSimEvent event = NewEvent(nType, hObject, Now() + TicksFromMs(nDelayMs < 0 ? 0 : nDelayMs), false);
  // Events of other types belong to no line or call: each is a key of its own.
  if (nType != KIRO_EVENT_CALL && nType != KIRO_EVENT_LINE) event.nKey = ~0ull - m_nNextSeq;
  for (int i = 0; i < KIRO_RECORD_WORDS; ++i) event.aWords[i] = pWords && i < nWords ? pWords[i] : 0;
  Enqueue(event);
}

void CKiroSim::SetMode(int nMode) {
  m_nMode = nMode;
  StartThreads();
  WakeAllConditionVariable(&m_cvWork);
}

void CKiroSim::Reset() {
  m_queue.clear();
  m_pending.clear();
  // A listener already running may still call in: wait for it, so that the
  // test can unload the module it lives in.
  const CStopwatch sinceStart;
  while (m_nDelivering > 0 && SleepOn(m_cvIdle, sinceStart, 10000)) {
  }
  m_queue.clear();
  m_pending.clear();
  m_lastDue.clear();
  m_forced.clear();
  m_delays.clear();
  m_dispatched.clear();
  m_calls.clear();
  m_lines.clear();
  m_liveCalls.clear();
  m_renewals.clear();
  m_dropped.clear();
  m_statuses.clear();
  m_nRenewalMs = KIROSIM_RENEWAL_MS;
  m_nMode = KIROSIM_MODE_PLAIN;
  m_nFailStep = -1;
  m_hNextLine = D_hFirstLine;
  m_hLatestLine = m_hLatestCall = 0;
}
