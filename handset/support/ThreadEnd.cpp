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
      m_hRelease(CreateEventA(nullptr, TRUE, FALSE, nullptr)), m_dwExitCode(0),
      m_bShieldHeld(false), m_dwBodyThreadId(0), m_lFinished(0) {}

CThreadEnd::~CThreadEnd() {
    if (m_hBodyDone) CloseHandle(m_hBodyDone);
    if (m_hRelease) CloseHandle(m_hRelease);
}

void CThreadEnd::Rearm() {
    InterlockedExchange(&m_lFinished, 0);
    if (m_hBodyDone) ResetEvent(m_hBodyDone);
    if (m_hRelease) ResetEvent(m_hRelease);
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
    // Finished from here on: a controller that takes the shield before the
    // park's signal still counts this as an end of the body's own.
    InterlockedExchange(&m_lFinished, 1);
    AllowEnd();
    m_dwBodyThreadId = 0;
    if (!m_hBodyDone) return;
    if (!m_hRelease) {
        SetEvent(m_hBodyDone);
        return;
    }
    // Signal and wait in one call: by the time the controller wakes up, this
    // thread already sits in the kernel's wait, not in our code.
    SignalObjectAndWait(m_hBodyDone, m_hRelease, D_dwUncollectedParkMs, FALSE);
}

DWORD CThreadEnd::WaitForEnd(HANDLE hThread, DWORD dwMs, bool bWatchBody) const {
    if (bWatchBody && m_hBodyDone) {
        const HANDLE ahEnds[2] = {m_hBodyDone, hThread};
        return WaitForMultipleObjects(2, ahEnds, FALSE, dwMs);
    }
    return WaitForSingleObject(hThread, dwMs) == WAIT_OBJECT_0 ? WAIT_OBJECT_0 + 1 : WAIT_TIMEOUT;
}

bool CThreadEnd::IsParked() const {
    return m_lFinished || (m_hBodyDone && WaitForSingleObject(m_hBodyDone, 0) == WAIT_OBJECT_0);
}

bool CThreadEnd::EndThread(HANDLE hThread, DWORD dwTimeout, DWORD dwForcedExitCode) {
    if (!hThread) return true;
    const DWORD dwEnded = WaitForEnd(hThread, dwTimeout, true);
    if (dwEnded == WAIT_OBJECT_0 + 1) return true;
    const bool bUnderLoaderLock = CallerOwnsLoaderLock();
    if (dwEnded != WAIT_OBJECT_0) {
        // Still running: its body, or its start in the loader. The forced
        // fallback, at a safe point, unless the body parks meanwhile.
        const Outcome outcome = EndAtSafePoint(hThread, true, dwForcedExitCode);
        if (outcome != kParked) return outcome == kGone;
    }
    // Parked, in a kernel wait: under the loader lock it is ended there. Let
    // go, it would run into a wait for the loader lock that its exit needs,
    // and a thread ended inside the entry to such a wait can leave the lock
    // system's own bookkeeping broken (Wine's wait queues spin for ever).
    // Otherwise it is let go to exit as threads do.
    // A released thread runs only the system's exit code from then on (and
    // the return of our entry function, whose module stays loaded outside
    // the loader lock): one that has not exited within D_dwExitMs is left to
    // finish, never ended inside that exit, which takes the loader lock, the
    // heaps' and the window manager's.
    if (!bUnderLoaderLock && m_hRelease) {
        SetEvent(m_hRelease);
        WaitForSingleObject(hThread, D_dwExitMs);
        return true;
    }
    EndAtSafePoint(hThread, false, m_dwExitCode);
    return true;
}

CThreadEnd::Outcome CThreadEnd::EndAtSafePoint(HANDLE hThread, bool bWatchPark, DWORD dwExitCode) {
    const DWORD dwStart = GetTickCount();
    for (;;) {
        const DWORD dwElapsed = GetTickCount() - dwStart;
        const bool bLast = dwElapsed >= D_dwSafeEndWaitMs;
        {
            // First the shield, then the guard: a body inside a system call
            // may need a heap's lock (or the loader's) to come out of it.
            CRecoverableScope shield(m_shield, bLast ? 0 : D_dwSafeEndWaitMs - dwElapsed);
            if (WaitForSingleObject(hThread, 0) == WAIT_OBJECT_0) return kGone;
            if (bWatchPark && IsParked()) return kParked;
            CTerminationGuard guard(bLast);
            if (guard.Held() || bLast) {
                // While the guard holds the locks, the thread cannot take one
                // before it is gone, and its death needs none of them.
                TerminateThread(hThread, dwExitCode);
                WaitForSingleObject(hThread, D_dwTerminationMs);
                return kEnded;
            }
        }
        // Someone else owns the loader lock, perhaps the thread itself: let
        // it finish its start (its body then parks) or its exit.
        const DWORD dwEnded = WaitForEnd(hThread, D_dwLoaderLockSliceMs, bWatchPark);
        if (dwEnded == WAIT_OBJECT_0 + 1) return kGone;
        if (dwEnded == WAIT_OBJECT_0) return kParked;
    }
}
