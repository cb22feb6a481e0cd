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
        {
            CSrwExclusive lock(agent.m_observerLock);
            agent.m_observers.clear();
        }
        CSrwExclusive lock(agent.m_stateLock);
        agent.m_hInstance = 0;
        agent.m_hLine.store(hLine);
        agent.m_calls.clear();
        if (hCall) agent.NoteCallLocked(hCall, false);
        agent.SetCallLocked(hCall);
        agent.m_state.store(eState);
        agent.m_nLastError.store(0);
        agent.m_nCallStatus.store(1);
        agent.m_bAutoAnswer.store(false);
        agent.m_hReleasingLine = 0;
        agent.m_bLineLost = false;
        agent.m_nChangeSeq = 0;
        CSrwExclusive tell(agent.m_tellLock);
        agent.m_told = agent.ViewLocked();
    }
    static void SetReleasingLine(KIRO_HANDLE hLine) { CSipAgent::Instance().m_hReleasingLine = hLine; }
    // A call the agent asked the library to destroy (its own or another).
    static void SetDestroyed(KIRO_HANDLE hCall) {
        CSipAgent &agent = CSipAgent::Instance();
        CSrwExclusive lock(agent.m_stateLock);
        if (CSipAgent::SCallNote *pNote = agent.FindNote(hCall))
            CSipAgent::MarkDestroyAsked(*pNote);
        else
            agent.NoteCallLocked(hCall, true);
    }
    static size_t KnownCalls() {
        CSipAgent &agent = CSipAgent::Instance();
        CSrwExclusive lock(agent.m_stateLock);
        return agent.m_calls.size();
    }
    static int WaiterCount() {
        CSipAgent &agent = CSipAgent::Instance();
        CSrwExclusive lock(agent.m_stateLock);
        int nCount = 0;
        for (auto *pWaiter = agent.m_pWaiters; pWaiter; pWaiter = pWaiter->m_pNext) ++nCount;
        return nCount;
    }
    static void SetCallStatus(int nStatus) {
        CSipAgent &agent = CSipAgent::Instance();
        agent.m_nCallStatus.store(nStatus);
        CSrwExclusive lock(agent.m_stateLock);
        CSrwExclusive tell(agent.m_tellLock);
        agent.m_told = agent.ViewLocked();
    }
    // The agent as it is now, told to the observers when Tell is called.
    class TellLater {
    public:
        TellLater() {
            CSipAgent &agent = CSipAgent::Instance();
            CSrwExclusive lock(agent.m_stateLock);
            m_view = agent.ViewLocked();
        }
        void Tell() { CSipAgent::Instance().NotifyObservers(m_view); }

    private:
        CSipAgent::SAgentView m_view;
    };
    static CAgentObserver *Observer(size_t nIndex) {
        CSipAgent &agent = CSipAgent::Instance();
        CSrwShared lock(agent.m_observerLock);
        return nIndex < agent.m_observers.size() ? agent.m_observers[nIndex] : nullptr;
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
