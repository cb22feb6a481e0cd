// CThreadEnd: see ThreadEnd.h for why a finished thread parks instead of
// returning, and where an unfinished one may be ended.
#include "support/ThreadEnd.h"

#include "support/TerminationGuard.h"

namespace {
// How often a controller that waits for the loader lock looks again.
const DWORD D_dwLoaderLockSliceMs = 10;
// How long a worker waits to take its shield back after a wait; only a
// controller that is ending it holds it that long.
const DWORD D_dwShieldReturnMs = 10000;
}  // namespace

CThreadEnd::CThreadEnd()
    : m_hBodyDone(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_hGrave(CreateEventA(nullptr, TRUE, FALSE, nullptr)), m_dwExitCode(0),
      m_bShieldHeld(false), m_dwBodyThreadId(0) {}

CThreadEnd::~CThreadEnd() {
    if (m_hBodyDone) CloseHandle(m_hBodyDone);
    if (m_hGrave) CloseHandle(m_hGrave);
}

void CThreadEnd::Rearm() {
    if (m_hBodyDone) ResetEvent(m_hBodyDone);
}

void CThreadEnd::BodyBegins() {
    m_dwBodyThreadId = GetCurrentThreadId();
    m_bShieldHeld = false;
    ForbidEnd();
}

void CThreadEnd::AllowEnd() {
    if (!IsBodyThread() || !m_bShieldHeld) return;
    m_bShieldHeld = false;
    m_shield.Leave();
}

void CThreadEnd::ForbidEnd() {
    if (!IsBodyThread() || m_bShieldHeld) return;
    // Not had within the bound: the body goes on unshielded, as threads did
    // before there was a shield.
    m_bShieldHeld = m_shield.Enter(D_dwShieldReturnMs) != CRecoverableLock::kTimedOut;
}

void CThreadEnd::Park(DWORD dwExitCode) {
    m_dwExitCode = dwExitCode;
    AllowEnd();
    m_dwBodyThreadId = 0;
    if (!m_hBodyDone) return;
    if (!m_hGrave) {
        SetEvent(m_hBodyDone);
        return;
    }
    // Signal and wait in one call: by the time the controller wakes up, this
    // thread already sits in the kernel's wait, not in our code.
    SignalObjectAndWait(m_hBodyDone, m_hGrave, D_dwUncollectedParkMs, FALSE);
}

DWORD CThreadEnd::WaitForEnd(HANDLE hThread, DWORD dwMs, bool bWatchBody) const {
    if (bWatchBody && m_hBodyDone) {
        const HANDLE ahEnds[2] = {m_hBodyDone, hThread};
        return WaitForMultipleObjects(2, ahEnds, FALSE, dwMs);
    }
    return WaitForSingleObject(hThread, dwMs) == WAIT_OBJECT_0 ? WAIT_OBJECT_0 + 1 : WAIT_TIMEOUT;
}

bool CThreadEnd::IsParked() const {
    return m_hBodyDone && WaitForSingleObject(m_hBodyDone, 0) == WAIT_OBJECT_0;
}

bool CThreadEnd::EndThread(HANDLE hThread, DWORD dwTimeout, DWORD dwForcedExitCode) {
    if (!hThread) return true;
    const DWORD dwEnded = WaitForEnd(hThread, dwTimeout, true);
    if (dwEnded == WAIT_OBJECT_0 + 1) return true;
    // Parked (a clean end) or still running: its body, or its start or
    // exit in the loader (the forced fallback).
    return Terminate(hThread, dwEnded == WAIT_OBJECT_0, dwForcedExitCode);
}

CThreadEnd::Attempt CThreadEnd::TryEndAtSafePoint(HANDLE hThread, DWORD dwShieldMs, bool bLast,
                                                   bool *pbParked, DWORD dwForcedExitCode) {
    // First the shield, then the guard: a body inside a system call may
    // need a heap's lock (or the loader's) to come out of it.
    CRecoverableScope shield(m_shield, dwShieldMs);
    if (WaitForSingleObject(hThread, 0) == WAIT_OBJECT_0) return kGone;
    *pbParked = *pbParked || IsParked();
    CTerminationGuard guard(bLast);
    if (!guard.Held() && !bLast) return kNotYet;
    // While the guard holds the locks, the thread cannot take one before it
    // is gone, and its death needs none of them.
    TerminateThread(hThread, *pbParked ? m_dwExitCode : dwForcedExitCode);
    WaitForSingleObject(hThread, D_dwTerminationMs);
    return kEnded;
}

bool CThreadEnd::Terminate(HANDLE hThread, bool bParked, DWORD dwForcedExitCode) {
    const DWORD dwStart = GetTickCount();
    for (;;) {
        const DWORD dwElapsed = GetTickCount() - dwStart;
        const bool bLast = dwElapsed >= D_dwSafeEndWaitMs;
        switch (TryEndAtSafePoint(hThread, bLast ? 0 : D_dwSafeEndWaitMs - dwElapsed, bLast,
                                  &bParked, dwForcedExitCode)) {
        case kGone:
            return true;
        case kEnded:
            return bParked;
        case kNotYet:
            break;
        }
        // Someone else owns the loader lock, perhaps the thread itself: let
        // it finish its start (its body then parks) or its exit.
        const DWORD dwEnded = WaitForEnd(hThread, D_dwLoaderLockSliceMs, !bParked);
        if (dwEnded == WAIT_OBJECT_0 + 1) return true;
        bParked = bParked || dwEnded == WAIT_OBJECT_0;
    }
}
