// CThreadEnd: how a worker thread of ours ends, so that the library's detach
// step can stop it while the host goes on running, and so that ending it
// never leaves a lock owned by a dead thread.
//
// The detach step holds the loader lock: a thread that returns from its body
// then cannot finish exiting until the step has returned, and the return
// path of its entry function would be unmapped under it. So a thread enters
// and leaves through a start page outside the image (EntryStub.h): Park(),
// the body's last act in our code, returns to the page, which signals
// m_hBodyDone and calls ExitThread. Once m_hBodyDone is signalled the thread
// runs none of our code: under the loader lock the controller returns and
// the thread exits by itself later (its thread-detach notifications freeing
// what the system keeps for it, a message queue among it); otherwise the
// controller waits up to D_dwExitMs for the exit, and leaves a thread still
// exiting to finish, never ending it inside the loader's, a heap's or the
// window manager's lock.
// Without a start page (a host that forbids dynamic code) Park signals
// m_hBodyDone itself and waits in the kernel on m_hRelease: the controller
// ends it there under the loader lock, and releases it otherwise; nobody
// collecting it, it leaves the park after D_dwUncollectedParkMs.
//
// A body that does not finish within the stop timeout is ended by force only
// at a safe point, found within D_dwSafeEndWaitMs: the body holds m_shield
// except in its waits (AllowEnd before, ForbidEnd after), and the controller
// takes the shield, then the heaps' locks (CTerminationGuard) until the
// thread is gone. No safe point in time (a system call that does not
// return): it is ended where it is, with a log line, and a lock of ours it
// held is taken over or given up by the next waiter (BoundedLock.h). A
// thread not yet out of the loader when stopped is let go through its start
// page, never ended in that wait. Every wait is cut to the stop's deadline.
#pragma once

#include <windows.h>

#include <atomic>

#include "support/EntryStub.h"
#include "support/BoundedLock.h"

class CThreadEnd {
public:
    CThreadEnd();
    ~CThreadEnd();

    // Controller, before a new thread starts: the start routine for pfnEntry.
    LPTHREAD_START_ROUTINE Rearm(LPTHREAD_START_ROUTINE pfnEntry);
    // Worker, first act of its body: from now on ended only where it allows.
    void BodyBegins();
    // Worker, around each wait of its body; no-ops on any other thread.
    void AllowEnd();
    void ForbidEnd();
    // True on the worker's thread, between BodyBegins and Park.
    bool IsBodyThread() const { return m_dwBodyThreadId == GetCurrentThreadId(); }
    // Worker, last act of its entry function, which returns dwExitCode.
    void Park(DWORD dwExitCode);
    // Controller: waits up to dwTimeout for the body to finish, else ends the
    // thread (dwForcedExitCode) at a safe point; then waits, bounded, until it
    // is gone. True when the body finished by itself, also while a safe
    // point was awaited. Every wait is cut to deadline, which also says
    // whether the caller holds the loader lock.
    bool EndThread(HANDLE hThread, DWORD dwTimeout, DWORD dwForcedExitCode, const CDeadline &deadline);

    static constexpr DWORD D_dwUncollectedParkMs = 1000;
    // For a released thread's exit; for a terminated thread to be gone; for
    // a safe point; and the most EndThread waits beyond dwTimeout.
    static constexpr DWORD D_dwExitMs = 1000;
    static constexpr DWORD D_dwTerminationMs = 1000;
    static constexpr DWORD D_dwSafeEndWaitMs = 2000;
    static constexpr DWORD D_dwMostBeyondTimeoutMs = D_dwSafeEndWaitMs + D_dwExitMs + D_dwTerminationMs;

    // TerminateThread, or a test's that ends the thread later, as it may.
    typedef BOOL(WINAPI *PFN_TerminateThread)(HANDLE hThread, DWORD dwExitCode);
    void UseTerminate(PFN_TerminateThread pfnTerminate) { m_pfnTerminate = pfnTerminate; }

private:
    // Within dwMs: WAIT_OBJECT_0 parked (only with bWatchBody), + 1 gone.
    DWORD WaitForEnd(HANDLE hThread, DWORD dwMs, bool bWatchBody) const;
    bool IsParked() const;
    enum class EThreadOutcome { Gone, Parked, Ended };
    // Ends the thread at a safe point, or after D_dwSafeEndWaitMs wherever it
    // is; returns early when it is gone or, with bWatchPark, parked.
    EThreadOutcome EndAtSafePoint(HANDLE hThread, bool bWatchPark, DWORD dwExitCode, const CDeadline &deadline);
    // The body has finished: lets the thread finish its exit.
    void CollectFinished(HANDLE hThread, const CDeadline &deadline);

    HANDLE m_hBodyDone;
    HANDLE m_hRelease;
    DWORD m_dwExitCode;  // written by the worker before m_hBodyDone
    CBoundedLock m_shield;
    bool m_bShieldHeld;  // the worker's own
    std::atomic<DWORD> m_dwBodyThreadId;
    std::atomic<bool> m_bFinished;  // set by Park before its signal
    CEntryStub m_entry;
    PFN_TerminateThread m_pfnTerminate;

    CThreadEnd(const CThreadEnd &) = delete;
    CThreadEnd &operator=(const CThreadEnd &) = delete;
};
