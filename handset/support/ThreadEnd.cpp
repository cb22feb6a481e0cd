// CThreadEnd: see ThreadEnd.h.
#include "support/ThreadEnd.h"

#include <cstdint>
#include <initializer_list>

#include "support/LogReporter.h"

namespace {
// How long a worker waits for its shield back after a wait: only a
// controller that is ending it holds it that long.
const DWORD D_dwShieldReturnMs = 10000;

typedef intptr_t(__cdecl *PFN_get_heap_handle)(void);

// The C runtime's heap, looked up by name (the import table stays as it is)
// while the library loads: a lookup later would itself wait for the loader
// lock, which the detach step may hold. Null without one.
HANDLE CrtHeapAtLoad() {
    HMODULE hCrt = GetModuleHandleA("msvcrt.dll");
    PFN_get_heap_handle pfnCrtHeap = hCrt ? reinterpret_cast<PFN_get_heap_handle>(
                                                reinterpret_cast<void *>(GetProcAddress(hCrt, "_get_heap_handle")))
                                          : nullptr;
    return pfnCrtHeap ? reinterpret_cast<HANDLE>(pfnCrtHeap()) : nullptr;
}
const HANDLE g_hCrtHeap = CrtHeapAtLoad();

// For one scope, holds the locks of the process heap and of the C runtime's,
// so that a thread ended by force meanwhile cannot die inside an allocation
// and leave a heap locked for ever. TerminateThread only asks for the end, so
// the controller keeps the guard until the thread's handle is signalled; a
// death by force runs none of the thread's code and needs no heap.
class CTerminationGuard {
public:
    CTerminationGuard() : m_ahHeaps(), m_nHeaps(0) {
        for (HANDLE hHeap : {GetProcessHeap(), g_hCrtHeap}) {
            if (!hHeap || (m_nHeaps > 0 && hHeap == m_ahHeaps[0])) continue;
            if (HeapLock(hHeap)) m_ahHeaps[m_nHeaps++] = hHeap;
        }
    }
    ~CTerminationGuard() {
        while (m_nHeaps > 0) HeapUnlock(m_ahHeaps[--m_nHeaps]);
    }
    CTerminationGuard(const CTerminationGuard &) = delete;
    CTerminationGuard &operator=(const CTerminationGuard &) = delete;

private:
    HANDLE m_ahHeaps[2];
    int m_nHeaps;
};

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
    // Not had within the bound: the body goes on unshielded.
    m_bShieldHeld = m_shield.Enter(CDeadline(D_dwShieldReturnMs)) != CBoundedLock::EEntryResult::TimedOut;
}

void CThreadEnd::Park(DWORD dwExitCode) {
    m_dwExitCode = dwExitCode;
    const bool bLeavesThroughPage = m_entry.HasPage();
    // A controller that takes the shield before the signal still counts
    // this as an end of the body's own.
    m_bFinished = true;
    AllowEnd();
    m_dwBodyThreadId = 0;
    // The start page signals once the entry function has returned to it.
    if (bLeavesThroughPage || !m_hBodyDone) return;
    if (!m_hRelease) {
        SetEvent(m_hBodyDone);
        return;
    }
    // In one call: when the controller wakes, this thread is in the kernel.
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
        // holds): it exits, running none of our code, as soon as it can.
        if (m_entry.Abandon(dwForcedExitCode)) return false;
        // Still in its body: ended at a safe point unless it finishes first.
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
        // On its way to the start page, a few instructions of ours away:
        // ended only if it does not get there.
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
    // Parked in a kernel wait. Outside the loader lock it is let go to exit
    // as threads do (left to finish after D_dwExitMs, never ended inside its
    // exit); under it, it is ended there, since let go its return path
    // through our code could be unmapped while its exit waits for the lock.
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
    // a heap's lock to come out of it.
    const DWORD dwSafeEndWaitMs = deadline.Cap(D_dwSafeEndWaitMs);
    CLockGuard shield(m_shield, deadline.Within(D_dwSafeEndWaitMs));
    if (WaitForSingleObject(hThread, 0) == WAIT_OBJECT_0) return EThreadOutcome::Gone;
    if (bWatchPark && IsParked()) return EThreadOutcome::Parked;
    if (shield.Held()) {
        CTerminationGuard guard;
        m_pfnTerminate(hThread, dwExitCode);
        WaitForSingleObject(hThread, deadline.Cap(D_dwTerminationMs));
        return EThreadOutcome::Ended;
    }
    // No safe point came: whatever the thread holds now stays held.
    m_pfnTerminate(hThread, dwExitCode);
    g_LogReporter.WriteLog(deadline.Within(D_dwLogLockMs),
                           "Thread ended by force where it stood: no safe point within %lu ms",
                           static_cast<unsigned long>(dwSafeEndWaitMs));
    WaitForSingleObject(hThread, deadline.Cap(D_dwTerminationMs));
    return EThreadOutcome::Ended;
}
