// CEntryStub: the start page of a worker thread of ours, placed outside the
// plug-in's image, so that the thread both enters and leaves our code there:
// a thread the library's detach step stops before it has left the loader is
// let go instead of being ended inside it, and a thread whose body has
// finished exits by itself, however long after the unload.
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
// do once the loader lock is free.
//
// The way out is the same page: the entry function returns to it, and the
// page signals the thread's "left" event and calls ExitThread with the
// entry's result. Once that event is signalled the thread runs no code of
// the plug-in's image any more, so the detach step may return while the
// thread still waits for the loader lock to finish its exit; it then exits
// as threads do, and the system releases what it keeps for it (a message
// queue among it), which a thread ended by force would leave behind.
//
// The page of a thread that may still be on it (abandoned, or left while the
// loader lock was held) is never freed: a few kilobytes per unload. The page
// of a thread known to be gone is freed with the next Arm or the stub.
//
// Arm, Abandon and Release belong to the thread's controller; the thread
// only runs the page. Where no executable page can be had (a host that
// forbids dynamic code), the thread starts at the plain entry and a log line
// says so.
#pragma once

#include <windows.h>

class CEntryStub {
public:
    CEntryStub();
    ~CEntryStub();

    // Controller, before the thread is created: the start routine to give
    // CreateThread for pfnEntry; hLeft (may be null) is signalled from the
    // page once pfnEntry has returned.
    LPTHREAD_START_ROUTINE Arm(LPTHREAD_START_ROUTINE pfnEntry, HANDLE hLeft);
    // True when the last Arm gave a page: the thread leaves through it.
    bool HasPage() const { return m_pPage != nullptr; }
    // Controller: true when the thread had not yet reached pfnEntry and now
    // never will; it then exits with dwExitCode as soon as it can run.
    bool Abandon(DWORD dwExitCode);
    // Controller, once the thread's end is settled: bGone tells whether it is
    // known to have exited (its page may then be freed).
    void Release(bool bGone);

    // A start page owned by nobody and never freed, for a thread that runs
    // only after the library may be gone: it calls pfnFirst and then
    // pfnSecond with the thread's argument and exits with the second's
    // result. Null when no page can be had.
    static LPTHREAD_START_ROUTINE Detached(LPTHREAD_START_ROUTINE pfnFirst, LPTHREAD_START_ROUTINE pfnSecond);

private:
    void FreePage();

    BYTE *m_pPage;  // the code, then (on the next page) its data
    bool m_bGone;   // the page's thread has exited

    CEntryStub(const CEntryStub &) = delete;
    CEntryStub &operator=(const CEntryStub &) = delete;
};
