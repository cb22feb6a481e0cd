// CThreadEnd: see ThreadEnd.h for how a finished thread leaves our code, and
// where an unfinished one may be ended.
#include "support/ThreadEnd.h"

#include "support/LogReporter.h"
#include "support/TerminationGuard.h"

namespace {
// How long a worker waits to take its shield back after a wait; only a
// controller that is ending it holds it that long.
const DWORD D_dwShieldReturnMs = 10000;
}  // namespace

CThreadEnd::CThreadEnd()
    : m_hBodyDone(CreateEventA(nullptr, TRUE, FALSE, nullptr)), m_hRelease(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_dwExitCode(0), m_bShieldHeld(false), m_dwBodyThreadId(0), m_bFinished(false), m_pfnTerminate(TerminateThread) {}

CThreadEnd::~CThreadEnd() {
    if (m_hBodyDone) CloseHandle(m_hBodyDone);
    if (m_hRelease) CloseHandle(m_hRelease);
}

LPTHREAD_START_ROUTINE CThreadEnd::Rearm(LPTHREAD_START_ROUTINE pfnEntry) {
    m_bFinished = false;
    if (m_hBodyDone) ResetEvent(m_hBodyDone);
    if (m_hRelease) ResetEvent(m_hRelease);
    return m_entry.Arm(pfnEntry, m_hBodyDone);
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
    m_bShieldHeld = m_shield.Enter(CDeadline(D_dwShieldReturnMs)) != CBoundedLock::EEntryResult::TimedOut;
}

void CThreadEnd::Park(DWORD dwExitCode) {
    m_dwExitCode = dwExitCode;
    const bool bLeavesThroughPage = m_entry.HasPage();
    // Finished from here on: a controller that takes the shield before the
    // signal still counts this as an end of the body's own.
    m_bFinished = true;
    AllowEnd();
    m_dwBodyThreadId = 0;
    // The start page signals once the entry function has returned to it.
    if (bLeavesThroughPage || !m_hBodyDone) return;
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
    return m_bFinished || (m_hBodyDone && WaitForSingleObject(m_hBodyDone, 0) == WAIT_OBJECT_0);
}

bool CThreadEnd::EndThread(HANDLE hThread, DWORD dwTimeout, DWORD dwForcedExitCode, const CDeadline &deadline) {
    if (!hThread) return true;
    const DWORD dwEnded = WaitForEnd(hThread, deadline.Cap(dwTimeout), true);
    if (dwEnded == WAIT_OBJECT_0 + 1) {
        m_entry.Release(true);
        return true;
    }
    if (dwEnded != WAIT_OBJECT_0) {
        // Not yet out of the loader (perhaps waiting for the lock the caller
        // holds): it can neither come out nor be ended in that wait. It
        // exits, running none of our code, as soon as it can.
        if (m_entry.Abandon(dwForcedExitCode)) return false;
        // Still running its body. The forced fallback, at a safe point,
        // unless the body finishes meanwhile.
        const EThreadOutcome outcome = EndAtSafePoint(hThread, true, dwForcedExitCode, deadline);
        if (outcome != EThreadOutcome::Parked) {
            m_entry.Release(WaitForSingleObject(hThread, 0) == WAIT_OBJECT_0);
            return outcome == EThreadOutcome::Gone;
        }
    }
    CollectFinished(hThread, deadline);
    return true;
}

void CThreadEnd::CollectFinished(HANDLE hThread, const CDeadline &deadline) {
    if (m_entry.HasPage()) {
        // The body has finished; the thread is on its way to the start page,
        // a few instructions of ours away at most, and gone from our code
        // once the page has signalled. Ended only if it does not get there.
        if (WaitForEnd(hThread, deadline.Cap(D_dwExitMs), true) == WAIT_TIMEOUT) {
            m_pfnTerminate(hThread, m_dwExitCode);
            WaitForSingleObject(hThread, deadline.Cap(D_dwTerminationMs));
        } else if (!deadline.UnderLoaderLock()) {
            // Its exit needs no lock we hold: it is gone within a moment.
            WaitForSingleObject(hThread, deadline.Cap(D_dwExitMs));
        }
        m_entry.Release(WaitForSingleObject(hThread, 0) == WAIT_OBJECT_0);
        return;
    }
    // Parked, in a kernel wait: under the loader lock it is ended there. Let
    // go, it would run into a wait for the loader lock that its exit needs,
    // and its return path through our code could be unmapped meanwhile.
    // Otherwise it is let go to exit as threads do; one that has not exited
    // within D_dwExitMs is left to finish, never ended inside that exit,
    // which takes the loader lock, the heaps' and the window manager's.
    if (!deadline.UnderLoaderLock() && m_hRelease) {
        SetEvent(m_hRelease);
        WaitForSingleObject(hThread, deadline.Cap(D_dwExitMs));
        return;
    }
    EndAtSafePoint(hThread, false, m_dwExitCode, deadline);
}

CThreadEnd::EThreadOutcome CThreadEnd::EndAtSafePoint(HANDLE hThread, bool bWatchPark, DWORD dwExitCode,
                                                      const CDeadline &deadline) {
    // First the shield, then the heaps: a body inside a system call may need
    // a heap's lock to come out of it. A dead body's shield is taken over.
    const DWORD dwSafeEndWaitMs = deadline.Cap(D_dwSafeEndWaitMs);
    CLockGuard shield(m_shield, deadline.Within(D_dwSafeEndWaitMs));
    if (WaitForSingleObject(hThread, 0) == WAIT_OBJECT_0) return EThreadOutcome::Gone;
    if (bWatchPark && IsParked()) return EThreadOutcome::Parked;
    if (shield.Held()) {
        // TerminateThread only asks for the end: the thread runs on until
        // the system has ended it, which its signalled handle confirms. The
        // heaps stay locked until then, so it cannot take one before it is
        // gone; its death runs none of its code and needs none of them.
        CTerminationGuard guard;
        m_pfnTerminate(hThread, dwExitCode);
        WaitForSingleObject(hThread, deadline.Cap(D_dwTerminationMs));
        return EThreadOutcome::Ended;
    }
    // No safe point came: whatever the thread holds now stays held.
    m_pfnTerminate(hThread, dwExitCode);
    g_LogReporter.WriteLog(deadline.Within(D_dwLogLockMs), "Thread ended by force where it stood: no safe point within %lu ms",
                                 static_cast<unsigned long>(dwSafeEndWaitMs));
    WaitForSingleObject(hThread, deadline.Cap(D_dwTerminationMs));
    return EThreadOutcome::Ended;
}
