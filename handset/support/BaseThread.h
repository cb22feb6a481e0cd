// CBaseThread: a worker thread owned by an object, stopped cooperatively.
//
// The controller (the library's attach and detach steps) calls Start and Stop;
// the worker runs the derived class's Run. The only state they share is the run
// signal: m_hRunEvent (manual reset, signalled = keep running) and its mirror
// m_hStopEvent (signalled = stop requested), which lets the worker sleep in a
// wait that a stop request cuts short instead of sleeping blind. Stop gives
// the worker m_dwStopTimeout ms to return from Run and ends it by force only
// after that, so forced termination stays a fallback, and then only where the
// body waits (see ThreadEnd.h). A finished body leaves through its start
// page outside the image: Stop may run under the loader lock while the host
// unloads the plug-in. Every worker of the plug-in, the link thread and the
// wave message thread, starts, stops and ends this one way.
#pragma once

#include <windows.h>

#include "support/ThreadEnd.h"

class CBaseThread {
public:
    CBaseThread();
    virtual ~CBaseThread();
    virtual DWORD Run(DWORD dwParam) = 0;
    // Withdraws the run signal without waiting, so that several workers can
    // be stopped at once; a worker whose waits the signal does not reach
    // adds its own way of being told.
    virtual void RequestStop();

    BOOL Start(DWORD dwParam);
    // Every wait cut to deadline, which also tells whether the caller holds
    // the loader lock; TRUE when the body ended by itself.
    BOOL Stop(const CDeadline &deadline);
    // The default stop timeout, and a deadline that gives a stop with it
    // all its waits together.
    static constexpr DWORD D_dwStopTimeoutMs = 100;
    static constexpr DWORD D_dwStopBoundMs = D_dwStopTimeoutMs + CThreadEnd::D_dwMostBeyondTimeoutMs;
    // The running worker's identifier and handle (0 and null while none).
    DWORD ThreadId() const { return m_hThread ? m_dwThreadId : 0; }
    HANDLE ThreadHandle() const { return m_hThread; }
    // For the thread body: false at once while the run signal stands; once it
    // is withdrawn, true after waiting dwMilliseconds.
    bool IsStopRequested(DWORD dwMilliseconds);
    // For the thread body: a pause of dwMilliseconds that ends early when a
    // stop is requested. Returns true when a stop was requested.
    bool WaitForStop(DWORD dwMilliseconds);
    // The event a body can add to its own waits to be woken by Stop.
    HANDLE StopEvent() const { return m_hStopEvent; }
    bool HasEnded() const;

protected:
    // For a worker with another stop timeout and forced exit code.
    CBaseThread(DWORD dwStopTimeout, DWORD dwForcedExitCode);
    // For the thread body, around a wait that is not one of WaitAllowingEnd's
    // (a message wait): the stop may end the thread there.
    void AllowEnd() { m_threadEnd.AllowEnd(); }
    void ForbidEnd() { m_threadEnd.ForbidEnd(); }
    // True when the caller is this object's thread body (not a host thread
    // calling one of the body's steps).
    bool IsBodyThread() const { return m_threadEnd.IsBodyThread(); }
    // For the thread body: WaitForMultipleObjects (any one of them), the
    // only kind of place where Stop may end the thread by force (see
    // ThreadEnd.h). Every wait of a body goes through here.
    DWORD WaitAllowingEnd(DWORD nCount, const HANDLE *pHandles, DWORD dwMilliseconds);

private:
    static DWORD WINAPI ThreadProc(LPVOID lpContext);

    // The start context: the new thread receives the address of these two.
    CBaseThread *m_pOwner;
    DWORD m_lpParam;
    HANDLE m_hRunEvent;
    DWORD m_dwStopTimeout;
    DWORD m_dwForcedExitCode;
    HANDLE m_hThread;
    DWORD m_dwThreadId;
    HANDLE m_hStopEvent;
    CThreadEnd m_threadEnd;

    CBaseThread(const CBaseThread &) = delete;
    CBaseThread &operator=(const CBaseThread &) = delete;
};
