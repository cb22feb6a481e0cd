// CEntryStub: the entry of a worker thread of ours, placed outside the
// plug-in's image, so that a thread the library's detach step stops before
// it has left the loader can be let go instead of being ended inside it.
//
// A new thread runs the loader's thread-attach step, under the loader lock,
// before it reaches its entry function. When the host unloads the plug-in
// right after loading it, the detach step (which holds the loader lock)
// finds its thread still waiting for that lock. It can neither wait for the
// thread (the thread waits for the detach step) nor let it run into the
// plug-in's code (unmapped once the unload returns); and ending it inside
// the lock's wait leaves the system's wait bookkeeping pointing at a dead
// thread's stack (under Wine a later lock or unload then spins for ever).
// So the thread starts in a few bytes of code of its own page, which a
// later unload leaves mapped: one interlocked exchange there decides
// whether it goes on into the plug-in's entry function or straight to
// ExitThread. Abandon makes the second choice for a thread that has not yet
// made the first; such a thread runs no code of ours and exits as threads
// do once the loader lock is free. The page of an abandoned thread is never
// freed (a few kilobytes per unload that came before the thread started);
// any other is freed with the next Arm or the stub.
//
// Arm and Abandon belong to the thread's controller; the thread only runs
// the stub. Where no page can be had, the thread starts at the plain entry.
#pragma once

#include <windows.h>

class CEntryStub {
public:
    CEntryStub();
    ~CEntryStub();

    // Controller, before the thread is created: the start routine to give
    // CreateThread for pfnEntry.
    LPTHREAD_START_ROUTINE Arm(LPTHREAD_START_ROUTINE pfnEntry);
    // Controller: true when the thread had not yet reached pfnEntry and now
    // never will; it then exits with dwExitCode as soon as it can run.
    bool Abandon(DWORD dwExitCode);

private:
    void FreePage();

    BYTE *m_pPage;  // the code, then (on the next page) the choice

    CEntryStub(const CEntryStub &) = delete;
    CEntryStub &operator=(const CEntryStub &) = delete;
};
