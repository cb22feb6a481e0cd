// CTerminationGuard: for one scope, holds the process-wide locks that a
// thread ended by force must not own, so that the thread can be ended while
// the guard stands without leaving any of them owned by a dead thread.
//
// A thread ended by force never leaves a lock. Ended while it owns
//   - the loader lock (a new thread owns it while the loader runs the DLLs'
//     thread-attach notifications, before the thread reaches its entry
//     function; an exiting one while they run their thread-detach ones),
//     every later load, unload, thread start and the process's exit waits
//     for ever;
//   - a heap's lock (inside any allocation), every later allocation from
//     that heap waits for ever: the detach step's own clean-up included.
// The guard takes the loader lock by trying only, never waiting (the thread
// to be ended may own it and be waiting for nothing but CPU time); only once
// it holds it does it take the heaps' locks, which no allocation keeps
// across anything that could wait for us, so those waits are short. Under
// the loader lock (the library's detach step) the try succeeds at once.
//
// The heaps are the process heap and the C runtime's, where the plug-in's
// own allocations and those of the system libraries it calls come from.
// LdrLockLoaderLock and the C runtime's heap are bound by name at load, so
// the plug-in's import table does not change; where one is missing the
// guard does without it.
#pragma once

#include <windows.h>

// True when the calling thread owns the loader lock (it runs a DllMain).
bool CallerOwnsLoaderLock();

class CTerminationGuard {
public:
    // bWithoutLoaderLock: the caller has waited long enough for the loader
    // lock; take the heaps' locks even if it cannot be had.
    explicit CTerminationGuard(bool bWithoutLoaderLock);
    ~CTerminationGuard();
    // True when the loader lock could be had; the heaps are then held too.
    bool Held() const { return m_bHeld; }

private:
    bool m_bHeld;
    ULONG_PTR m_ulLoaderCookie;
    HANDLE m_ahHeaps[2];
    int m_nHeaps;

    CTerminationGuard(const CTerminationGuard &) = delete;
    CTerminationGuard &operator=(const CTerminationGuard &) = delete;
};
