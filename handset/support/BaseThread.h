// CBaseThread: a worker thread owned by an object, stopped cooperatively.
//
// The controller (the library's attach and detach steps) calls Start and
// Stop; the worker runs the derived class's Run. They share only the run
// signal: m_hRunEvent (signalled = keep running) and its mirror m_hStopEvent
// (signalled = stop requested), which cuts the worker's waits short. Stop
// gives the body m_dwStopTimeout ms and ends it by force only after that,
// and only where it waits (ThreadEnd.h). Every worker of the plug-in starts,
// stops and ends this one way.
#pragma once

#include <windows.h>

#include "support/ThreadEnd.h"

class CBaseThread {
public:
    CBaseThread();
    virtual ~CBaseThread();
    virtual DWORD Run(DWORD dwParam) = 0;
    // Withdraws the run signal without waiting, so that several workers can
    // be stopped at once.
    virtual void RequestStop();

    BOOL Start(DWORD dwParam);
    // Every wait cut to deadline, which also tells whether the caller holds
    // the loader lock; TRUE when the body ended by itself.
    BOOL Stop(const CDeadline &deadline);
    // The default stop timeout, and a deadline that gives a stop with it
    // all its waits together.
    static constexpr DWORD D_dwStopTimeoutMs = 100;
    static constexpr DWORD D_dwStopBoundMs = D_dwStopTimeoutMs + CThreadEnd::D_dwMostBeyondTimeoutMs;
    // 0 and null while none runs.
    DWORD ThreadId() const { return m_hThread ? m_dwThreadId : 0; }
    HANDLE ThreadHandle() const { return m_hThread; }
    // For the body: false at once while the run signal stands, else true
    // after dwMilliseconds.
    bool IsStopRequested(DWORD dwMilliseconds);
    // For the body: a pause that a stop request ends early (true).
    bool WaitForStop(DWORD dwMilliseconds);
    // The event a body can add to its own waits to be woken by Stop.
    HANDLE StopEvent() const { return m_hStopEvent; }
    bool HasEnded() const;

protected:
    // For a worker with another stop timeout and forced exit code.
    CBaseThread(DWORD dwStopTimeout, DWORD dwForcedExitCode);
    // For the body, around a wait not made by WaitAllowingEnd (a message
    // wait): the stop may end the thread there.
    void AllowEnd() { m_threadEnd.AllowEnd(); }
    void ForbidEnd() { m_threadEnd.ForbidEnd(); }
    bool IsBodyThread() const { return m_threadEnd.IsBodyThread(); }
    // For the body: WaitForMultipleObjects (any one), the only kind of place
    // where Stop may end the thread by force.
    DWORD WaitAllowingEnd(DWORD nCount, const HANDLE *pHandles, DWORD dwMilliseconds);

private:
    static DWORD WINAPI ThreadProc(LPVOID lpContext);

    // The start context: the new thread is given the address of these two.
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
