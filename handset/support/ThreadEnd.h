// CThreadEnd: how a worker thread of ours ends, so that the library's detach
// step can stop it while the host unloads the plug-in and goes on running.
//
// The detach step runs under the loader lock. A thread that returns from its
// body there cannot finish exiting: its exit waits for that lock to deliver
// the thread-detach notifications, so its handle is not signalled until the
// detach step has returned, and the code it still has to run (the return
// path of its entry function) would then be unmapped under it. So a finished
// body never returns into our code while its owner may be unloading:
//   - the worker's last act is Park(): one kernel call that signals
//     m_hBodyDone and parks the thread in a wait on m_hGrave, which nothing
//     signals;
//   - the controller (Stop) waits, bounded, for m_hBodyDone or the thread's
//     end, and then ends the parked thread with TerminateThread. A parked
//     thread holds no lock, runs none of our code and needs no loader lock
//     to die, so this is a clean end, not the forced fallback.
// A body that finishes with nobody to collect it (its loop ended by itself)
// leaves the park after D_dwUncollectedParkMs and exits normally.
#pragma once

#include <windows.h>

class CThreadEnd {
public:
    CThreadEnd();
    ~CThreadEnd();

    // Controller, before a new thread starts.
    void Rearm();
    // Worker, as the very last act of its entry function, with the exit
    // code the thread is to end with.
    void Park(DWORD dwExitCode);
    // Controller: waits up to dwTimeout for the body to finish, then ends
    // the thread (by force, with dwForcedExitCode, if the body is still
    // running) and waits, bounded, until it is gone. True when the body had
    // finished by itself.
    bool EndThread(HANDLE hThread, DWORD dwTimeout, DWORD dwForcedExitCode = 0);

    static const DWORD D_dwUncollectedParkMs = 1000;
    // How long a terminated thread may take to be gone.
    static const DWORD D_dwTerminationMs = 1000;

private:
    HANDLE m_hBodyDone;
    HANDLE m_hGrave;
    // Written by the worker before it signals m_hBodyDone.
    DWORD m_dwExitCode;

    CThreadEnd(const CThreadEnd &) = delete;
    CThreadEnd &operator=(const CThreadEnd &) = delete;
};
