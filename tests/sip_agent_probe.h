// White-box access to the one SIP agent of the process, for suites that
// link the agent's modules: puts the agent back where a test wants it.
#pragma once

#include <windows.h>

#include "SipAgent.h"

// Puts the one agent of the process back where a test wants it.
class CSipAgentProbe {
 public:
  static void Restart(AgentState eState, KIRO_HANDLE hLine, KIRO_HANDLE hCall) {
    CSipAgent &agent = CSipAgent::Instance();
    AcquireSRWLockExclusive(&agent.m_observerLock);
    agent.m_observers.clear();
    ReleaseSRWLockExclusive(&agent.m_observerLock);
    agent.m_hInstance = 0;
    agent.m_hLine.store(hLine);
    agent.m_hCall = hCall;
    agent.m_state.store(eState);
    agent.m_nLastError.store(0);
    agent.m_nCallStatus.store(1);
    agent.m_bAutoAnswer.store(false);
    agent.m_hReleasingLine = 0;
    agent.m_hClosingCall = 0;
    agent.m_hPhaseCall = 0;
    agent.m_nCallPhase = 0;
  }
  static void SetReleasingLine(KIRO_HANDLE hLine) {
    CSipAgent::Instance().m_hReleasingLine = hLine;
  }
  static void SetClosingCall(KIRO_HANDLE hCall) { CSipAgent::Instance().m_hClosingCall = hCall; }
  static int WaiterCount() {
    CSipAgent &agent = CSipAgent::Instance();
    CSrwExclusive lock(agent.m_stateLock);
    int nCount = 0;
    for (auto *pWaiter = agent.m_pWaiters; pWaiter; pWaiter = pWaiter->pNext) ++nCount;
    return nCount;
  }
  static void SetCallStatus(int nStatus) { CSipAgent::Instance().m_nCallStatus.store(nStatus); }
  static CAgentObserver *Observer(size_t nIndex) {
    CSipAgent &agent = CSipAgent::Instance();
    AcquireSRWLockShared(&agent.m_observerLock);
    CAgentObserver *pObserver =
        nIndex < agent.m_observers.size() ? agent.m_observers[nIndex] : nullptr;
    ReleaseSRWLockShared(&agent.m_observerLock);
    return pObserver;
  }
};

// One event record handed to the agent's callback on the calling thread, as
// the library's thread would.
inline unsigned char InjectCallEvent(KIRO_HANDLE hCall, uint32_t nCode, uint32_t nStatus) {
  uint32_t aWords[KIRO_RECORD_WORDS] = {0, hCall, 0, nCode, nStatus};
  return AgentEventCallback(KIRO_EVENT_CALL, aWords, nullptr);
}

inline unsigned char InjectLineEvent(KIRO_HANDLE hLine, uint32_t nCode) {
  uint32_t aWords[KIRO_RECORD_WORDS] = {0, hLine, nCode};
  return AgentEventCallback(KIRO_EVENT_LINE, aWords, nullptr);
}
