// CTerminationGuard: for one scope, holds the heaps' locks, so that a thread
// ended by force while the guard stands cannot die inside an allocation.
//
// A thread ended by force never leaves a lock. Ended while it owns a heap's
// lock (inside any allocation), every later allocation from that heap waits
// for ever: the detach step's own clean-up included. The controller ends a
// worker only where the worker allows it (ThreadEnd.h), in a wait of ours,
// which is never inside the loader or an allocation; the guard keeps the
// worker from starting one in the moment between. That moment lasts until
// the thread is gone, not until TerminateThread returns: the call only asks
// for the end, and the thread runs on until the system ends it. So the guard
// stands until the thread's handle is signalled (within a bound); a thread's
// death by force runs none of its own code and needs no heap's lock. No
// allocation keeps a heap's lock across anything that could wait for us, so
// taking them is short.
//
// The heaps are the process heap and the C runtime's, where the plug-in's
// own allocations and those of the system libraries it calls come from.
// The C runtime's heap is looked up by name at load, so the plug-in's
// import table does not change; where it is missing the guard does without.
#pragma once

#include <windows.h>

class CTerminationGuard {
public:
    CTerminationGuard();
    ~CTerminationGuard();

private:
    HANDLE m_ahHeaps[2];
    int m_nHeaps;

    CTerminationGuard(const CTerminationGuard &) = delete;
    CTerminationGuard &operator=(const CTerminationGuard &) = delete;
};
