// CThreadEnd: how a worker thread of ours ends, so that the library's detach
// step can stop it while the host unloads the plug-in and goes on running,
// and so that ending it never leaves a lock owned by a dead thread.
//
// The detach step runs under the loader lock. A thread that returns from its
// body there cannot finish exiting: its exit waits for that lock to deliver
// the thread-detach notifications, so its handle is not signalled until the
// detach step has returned, and the code it still has to run (the return
// path of its entry function) would then be unmapped under it. So a finished
// body does not return before its controller lets it:
//   - the worker's last act is Park(): one kernel call that signals
//     m_hBodyDone and waits on m_hRelease;
//   - the controller (Stop) waits, bounded, for m_hBodyDone or the thread's
//     end. Under the loader lock it then ends the parked thread with
//     TerminateThread: parked in a kernel wait, it holds no lock and runs
//     none of our code, so this is a clean end, not the forced fallback.
//     Otherwise it releases the thread and waits up to D_dwExitMs for it to
//     exit as threads do (its thread-detach notifications close what the
//     system keeps for it, a message queue among them); a thread still
//     exiting after that is left to finish, since ended inside its exit it
//     could leave the loader's, a heap's or the window manager's lock owned.
// A body that finishes with nobody to collect it (its loop ended by itself)
// leaves the park after D_dwUncollectedParkMs and exits.
//
// A thread ended by force never leaves a lock it owns, ours or the system's
// (a heap's, the loader's, the window manager's inside PostMessage). So a
// body that does not finish within the stop timeout is ended only at a safe
// point, found within D_dwSafeEndWaitMs:
//   - the shield: a worker that cooperates holds m_shield from the start of
//     its body to its park, except while it waits for an event (AllowEnd
//     before the wait, ForbidEnd after it). The controller takes the shield
//     before it ends the thread, so the thread is ended only in a wait, or
//     after a step that was longer than the stop timeout has returned;
//   - the guard (CTerminationGuard): the controller also holds the loader
//     lock and the heaps' locks while it ends the thread. While another
//     thread owns the loader lock, perhaps the very thread to be ended
//     (a thread that has not finished starting owns it), the controller
//     lets go of both and waits in slices for the thread to finish its start
//     (its body then sees the stop and parks) or to end. Under the loader
//     lock (the detach step) the guard holds at once.
// Only when no safe point comes within D_dwSafeEndWaitMs (a call into the
// system that does not return) is the thread ended where it is.
#pragma once

#include <windows.h>

#include "support/RecoverableLock.h"

class CThreadEnd {
public:
    CThreadEnd();
    ~CThreadEnd();

    // Controller, before a new thread starts.
    void Rearm();
    // Worker, as the first act of its body: from now on the thread may be
    // ended only where it allows it.
    void BodyBegins();
    // Worker, around each wait of its body; no-ops on any other thread.
    void AllowEnd();
    void ForbidEnd();
    // True on the worker's thread, between BodyBegins and Park.
    bool IsBodyThread() const { return m_dwBodyThreadId == GetCurrentThreadId(); }
    // Worker, as the very last act of its entry function, with the exit
    // code the thread is to end with.
    void Park(DWORD dwExitCode);
    // Controller: waits up to dwTimeout for the body to finish, then ends
    // the thread (by force, with dwForcedExitCode, if the body is still
    // running) at a safe point, and waits, bounded, until it is gone. True
    // when the body had finished by itself, also when it did so while the
    // controller waited for a safe point.
    bool EndThread(HANDLE hThread, DWORD dwTimeout, DWORD dwForcedExitCode = 0);

    static constexpr DWORD D_dwUncollectedParkMs = 1000;
    // How long Stop waits for a released thread to exit.
    static constexpr DWORD D_dwExitMs = 1000;
    // How long a terminated thread may take to be gone.
    static constexpr DWORD D_dwTerminationMs = 1000;
    // How long EndThread waits, beyond dwTimeout, for a safe point before it
    // ends the thread all the same.
    static constexpr DWORD D_dwSafeEndWaitMs = 2000;

private:
    // Which of the thread's ends came within dwMs: WAIT_OBJECT_0 parked
    // (looked for only with bWatchBody), WAIT_OBJECT_0 + 1 gone,
    // WAIT_TIMEOUT neither.
    DWORD WaitForEnd(HANDLE hThread, DWORD dwMs, bool bWatchBody) const;
    bool IsParked() const;
    enum Outcome { kGone, kParked, kEnded };
    // Ends the thread at a safe point (the shield and the guard held, see
    // above), with dwExitCode, or after D_dwSafeEndWaitMs wherever it is.
    // Returns early when it is gone or, with bWatchPark, parked.
    Outcome EndAtSafePoint(HANDLE hThread, bool bWatchPark, DWORD dwExitCode);

    HANDLE m_hBodyDone;
    HANDLE m_hRelease;
    // Written by the worker before it signals m_hBodyDone.
    DWORD m_dwExitCode;
    CRecoverableLock m_shield;
    // The worker's own: whether it holds the shield, and which thread it is.
    bool m_bShieldHeld;
    volatile DWORD m_dwBodyThreadId;
    // Set by Park as the body's last act before its signal.
    volatile LONG m_lFinished;

    CThreadEnd(const CThreadEnd &) = delete;
    CThreadEnd &operator=(const CThreadEnd &) = delete;
};
