// CEntryStub: the start page of a worker thread of ours, placed outside the
// plug-in's image, so that the thread both enters and leaves our code there.
//
// A new thread runs the loader's thread-attach step, under the loader lock,
// before its entry function. When the host unloads the plug-in right after
// loading it, the detach step finds its thread still waiting for that lock:
// it can neither wait for the thread nor let it run into code about to be
// unmapped, and ending it inside the lock's wait leaves the system's wait
// bookkeeping pointing at a dead stack (under Wine a later unload then spins
// for ever). So the thread starts in a few bytes of its own page, which an
// unload leaves mapped: one interlocked exchange there decides whether it
// goes on into the entry function or straight to ExitThread (Abandon makes
// the second choice). The way out is the same page: the entry function
// returns to it, and it signals the thread's "left" event and calls
// ExitThread, so the detach step may return while the thread still waits
// for the loader lock to finish its exit.
//
// A page that a thread may still be on is never freed (a few kilobytes per
// unload); one whose thread is known gone is freed by the next Arm. Where no
// executable page can be had (a host that forbids dynamic code), the thread
// starts at the plain entry and a log line says so.
#pragma once

#include <windows.h>

class CEntryStub {
public:
    CEntryStub();
    ~CEntryStub();

    // Controller: the start routine for pfnEntry; hLeft (or null) is
    // signalled from the page once pfnEntry has returned.
    LPTHREAD_START_ROUTINE Arm(LPTHREAD_START_ROUTINE pfnEntry, HANDLE hLeft);
    // True when the last Arm gave a page: the thread leaves through it.
    bool HasPage() const { return m_pPage != nullptr; }
    // Controller: true when the thread had not reached pfnEntry and now never
    // will; it exits with dwExitCode as soon as it can run.
    bool Abandon(DWORD dwExitCode);
    // Controller, once the thread's end is settled (bGone: it has exited).
    void Release(bool bGone);

    // A page owned by nobody and never freed, for a thread that may run after
    // the library is gone: calls pfnFirst, then pfnSecond, with the thread's
    // argument and exits with the second's result. Null without a page.
    static LPTHREAD_START_ROUTINE Detached(LPTHREAD_START_ROUTINE pfnFirst, LPTHREAD_START_ROUTINE pfnSecond);

private:
    void FreePage();

    BYTE *m_pPage;  // the code, then (on the next page) its data
    bool m_bGone;   // the page's thread has exited

    CEntryStub(const CEntryStub &) = delete;
    CEntryStub &operator=(const CEntryStub &) = delete;
};
