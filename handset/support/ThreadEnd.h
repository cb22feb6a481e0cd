// CThreadEnd: how a worker thread of ours ends, so that the library's detach
// step can stop it while the host unloads the plug-in and goes on running,
// and so that ending it never leaves a lock owned by a dead thread.
//
// The detach step runs under the loader lock. A thread that returns from its
// body there cannot finish exiting: its exit waits for that lock to deliver
// the thread-detach notifications, so its handle is not signalled until the
// detach step has returned, and the code it still has to run (the return
// path of its entry function) would then be unmapped under it. So a thread
// of ours enters and leaves through a start page outside the image
// (EntryStub.h):
//   - the worker's last act in our code is Park(), which releases what the
//     body holds and returns; the entry function returns to the start page,
//     which signals m_hBodyDone and calls ExitThread;
//   - the controller (Stop) waits, bounded, for m_hBodyDone or the thread's
//     end. Once m_hBodyDone is signalled the thread runs none of our code.
//     Under the loader lock the controller returns and the thread finishes
//     its exit by itself once the lock is free, its thread-detach
//     notifications closing what the system keeps for it (a message queue
//     among them). Otherwise it waits up to D_dwExitMs for the exit; a
//     thread still exiting after that is left to finish, since ended inside
//     its exit it could leave the loader's, a heap's or the window manager's
//     lock owned.
// Without a start page (a host that forbids dynamic code) Park itself
// signals m_hBodyDone and waits in the kernel on m_hRelease; the controller
// then ends the parked thread under the loader lock (parked in a kernel
// wait, it holds no lock and runs none of our code) and releases it
// otherwise. Such a body that finishes with nobody to collect it leaves the
// park after D_dwUncollectedParkMs and exits.
//
// A thread ended by force never leaves a lock it owns, ours or the system's
// (a heap's, the loader's, the window manager's inside PostMessage). So a
// body that does not finish within the stop timeout is ended only at a safe
// point, found within D_dwSafeEndWaitMs:
//   - the shield: a worker that cooperates holds m_shield from the start of
//     its body to its park, except while it waits for an event (AllowEnd
//     before the wait, ForbidEnd after it). The controller takes the shield
//     before it ends the thread, so the thread is ended only in a wait of
//     ours (never inside the loader), or after a step that was longer than
//     the stop timeout has returned;
//   - the guard (CTerminationGuard): the controller also holds the heaps'
//     locks from before it ends the thread until the thread is gone.
// Only when no safe point comes within D_dwSafeEndWaitMs (a call into the
// system that does not return) is the thread ended where it is; that is
// logged; a lock of ours it held is taken over or given up by the next
// waiter (BoundedLock.h). Every wait is also cut to the stop's deadline.
// A thread that has not yet left the loader when it is stopped (it may wait
// for the very loader lock the detach step holds) is let go through its
// start page, never ended inside that wait.
#pragma once

#include <windows.h>

#include <atomic>

#include "support/EntryStub.h"
#include "support/BoundedLock.h"

class CThreadEnd {
public:
    CThreadEnd();
    ~CThreadEnd();

    // Controller, before a new thread starts: the start routine to create
    // it with, for the thread's entry function pfnEntry (see EntryStub.h).
    LPTHREAD_START_ROUTINE Rearm(LPTHREAD_START_ROUTINE pfnEntry);
    // Worker, as the first act of its body: from now on the thread may be
    // ended only where it allows it.
    void BodyBegins();
    // Worker, around each wait of its body; no-ops on any other thread.
    void AllowEnd();
    void ForbidEnd();
    // True on the worker's thread, between BodyBegins and Park.
    bool IsBodyThread() const { return m_dwBodyThreadId == GetCurrentThreadId(); }
    // Worker, as the very last act of its entry function, with the exit
    // code the thread is to end with (the entry function returns it).
    void Park(DWORD dwExitCode);
    // Controller: waits up to dwTimeout for the body to finish, then ends
    // the thread (by force, with dwForcedExitCode, if the body is still
    // running) at a safe point, and waits, bounded, until it is gone. True
    // when the body had finished by itself, also when it did so while the
    // controller waited for a safe point. Every wait is cut to deadline,
    // which also says whether the caller holds the loader lock.
    bool EndThread(HANDLE hThread, DWORD dwTimeout, DWORD dwForcedExitCode, const CDeadline &deadline);

    static constexpr DWORD D_dwUncollectedParkMs = 1000;
    // How long Stop waits for a released thread to exit.
    static constexpr DWORD D_dwExitMs = 1000;
    // How long a terminated thread may take to be gone.
    static constexpr DWORD D_dwTerminationMs = 1000;
    // How long EndThread waits, beyond dwTimeout, for a safe point before it
    // ends the thread all the same.
    static constexpr DWORD D_dwSafeEndWaitMs = 2000;
    // The most EndThread waits beyond dwTimeout.
    static constexpr DWORD D_dwMostBeyondTimeoutMs = D_dwSafeEndWaitMs + D_dwExitMs + D_dwTerminationMs;

    // The call that ends a thread by force (TerminateThread); a test puts
    // one in its place that ends the thread later, as the system may.
    typedef BOOL(WINAPI *PFN_TerminateThread)(HANDLE hThread, DWORD dwExitCode);
    void UseTerminate(PFN_TerminateThread pfnTerminate) { m_pfnTerminate = pfnTerminate; }

private:
    // Which of the thread's ends came within dwMs: WAIT_OBJECT_0 parked
    // (looked for only with bWatchBody), WAIT_OBJECT_0 + 1 gone,
    // WAIT_TIMEOUT neither.
    DWORD WaitForEnd(HANDLE hThread, DWORD dwMs, bool bWatchBody) const;
    bool IsParked() const;
    enum class EThreadOutcome { Gone, Parked, Ended };
    // Ends the thread at a safe point (the shield and the guard held, see
    // above), with dwExitCode, or after D_dwSafeEndWaitMs wherever it is.
    // Returns early when it is gone or, with bWatchPark, parked.
    EThreadOutcome EndAtSafePoint(HANDLE hThread, bool bWatchPark, DWORD dwExitCode, const CDeadline &deadline);
    // The body has finished: let the thread finish its exit (see above).
    void CollectFinished(HANDLE hThread, const CDeadline &deadline);

    HANDLE m_hBodyDone;
    HANDLE m_hRelease;
    // Written by the worker before it signals m_hBodyDone.
    DWORD m_dwExitCode;
    CBoundedLock m_shield;
    // The worker's own: whether it holds the shield, and which thread it is.
    bool m_bShieldHeld;
    std::atomic<DWORD> m_dwBodyThreadId;
    // Set by Park as the body's last act before its signal.
    std::atomic<bool> m_bFinished;
    CEntryStub m_entry;
    PFN_TerminateThread m_pfnTerminate;

    CThreadEnd(const CThreadEnd &) = delete;
    CThreadEnd &operator=(const CThreadEnd &) = delete;
};
