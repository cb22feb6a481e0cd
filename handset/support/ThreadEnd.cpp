// CThreadEnd: see ThreadEnd.h for why a finished thread parks instead of
// returning while its owner may be unloading.
#include "support/ThreadEnd.h"

CThreadEnd::CThreadEnd()
    : m_hBodyDone(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_hGrave(CreateEventA(nullptr, TRUE, FALSE, nullptr)), m_dwExitCode(0) {}

CThreadEnd::~CThreadEnd() {
    if (m_hBodyDone) CloseHandle(m_hBodyDone);
    if (m_hGrave) CloseHandle(m_hGrave);
}

void CThreadEnd::Rearm() {
    if (m_hBodyDone) ResetEvent(m_hBodyDone);
}

void CThreadEnd::Park(DWORD dwExitCode) {
    m_dwExitCode = dwExitCode;
    if (!m_hBodyDone) return;
    if (!m_hGrave) {
        SetEvent(m_hBodyDone);
        return;
    }
    // Signal and wait in one call: by the time the controller wakes up, this
    // thread already sits in the kernel's wait, not in our code.
    SignalObjectAndWait(m_hBodyDone, m_hGrave, D_dwUncollectedParkMs, FALSE);
}

bool CThreadEnd::EndThread(HANDLE hThread, DWORD dwTimeout, DWORD dwForcedExitCode) {
    if (!hThread) return true;
    DWORD dwEnded;
    if (m_hBodyDone) {
        const HANDLE ahEnds[2] = {m_hBodyDone, hThread};
        dwEnded = WaitForMultipleObjects(2, ahEnds, FALSE, dwTimeout);
    } else {
        dwEnded = WaitForSingleObject(hThread, dwTimeout) == WAIT_OBJECT_0 ? WAIT_OBJECT_0 + 1
                                                                           : WAIT_TIMEOUT;
    }
    const bool bFinished = dwEnded == WAIT_OBJECT_0 || dwEnded == WAIT_OBJECT_0 + 1;
    if (dwEnded != WAIT_OBJECT_0 + 1) {
        // Parked (clean) or still running its body (the forced fallback).
        TerminateThread(hThread, dwEnded == WAIT_OBJECT_0 ? m_dwExitCode : dwForcedExitCode);
        WaitForSingleObject(hThread, D_dwTerminationMs);
    }
    return bFinished;
}
