// CBaseThread: a worker thread owned by an object, stopped cooperatively.
//
// The controller (the library's attach and detach steps) calls Start and Stop;
// the worker runs the derived class's Run. The only state they share is the run
// signal: m_hRunEvent (manual reset, signalled = keep running) and its mirror
// m_hStopEvent (signalled = stop requested), which lets the worker sleep in a
// wait that a stop request cuts short instead of sleeping blind. Stop gives
// the worker m_dwStopTimeout ms to return from Run and ends it by force only
// after that, so forced termination stays a fallback. A finished body parks
// instead of returning (see ThreadEnd.h): Stop may run under the loader lock
// while the host unloads the plug-in.
#pragma once

#include <windows.h>

#include "support/ThreadEnd.h"

class CBaseThread {
public:
    CBaseThread();
    virtual BOOL Stop();
    virtual ~CBaseThread();
    virtual DWORD Run(DWORD dwParam) = 0;

    BOOL Start(DWORD dwParam);
    // For the thread body: false at once while the run signal stands; once it
    // is withdrawn, true after waiting dwMilliseconds.
    bool IsStopRequested(DWORD dwMilliseconds) const;
    // For the thread body: a pause of dwMilliseconds that ends early when a
    // stop is requested. Returns true when a stop was requested.
    bool WaitForStop(DWORD dwMilliseconds) const;
    // The event a body can add to its own waits to be woken by Stop.
    HANDLE StopEvent() const { return m_hStopEvent; }
    bool HasEnded() const;

private:
    static DWORD WINAPI ThreadProc(LPVOID lpContext);

    // The start context: the new thread receives the address of these two.
    CBaseThread *m_pOwner;
    DWORD m_lpParam;
    HANDLE m_hRunEvent;
    DWORD m_dwStopTimeout;
    HANDLE m_hThread;
    DWORD m_dwThreadId;
    HANDLE m_hStopEvent;
    CThreadEnd m_threadEnd;

    CBaseThread(const CBaseThread &) = delete;
    CBaseThread &operator=(const CBaseThread &) = delete;
};
