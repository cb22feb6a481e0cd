// CBaseThread: see BaseThread.h for the protocol between controller and worker.
#include "support/BaseThread.h"

CBaseThread::CBaseThread() : CBaseThread(D_dwStopTimeoutMs, 0) {}

CBaseThread::CBaseThread(DWORD dwStopTimeout, DWORD dwForcedExitCode)
    : m_pOwner(nullptr), m_lpParam(0), m_hRunEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_dwStopTimeout(dwStopTimeout), m_dwForcedExitCode(dwForcedExitCode), m_hThread(nullptr), m_dwThreadId(0),
      m_hStopEvent(CreateEventA(nullptr, TRUE, TRUE, nullptr)) {}

CBaseThread::~CBaseThread() {
    // The owner stops the thread before destroying the object; the thread
    // handle is Stop's to close.
    if (m_hRunEvent) CloseHandle(m_hRunEvent);
    if (m_hStopEvent) CloseHandle(m_hStopEvent);
}

BOOL CBaseThread::Start(DWORD dwParam) {
    if (m_hStopEvent) ResetEvent(m_hStopEvent);
    if (m_hRunEvent) SetEvent(m_hRunEvent);
    m_pOwner = this;
    m_lpParam = dwParam;
    if (m_hThread) CloseHandle(m_hThread);
    m_hThread = CreateThread(nullptr, 0, m_threadEnd.Rearm(ThreadProc), &m_pOwner, 0, &m_dwThreadId);
    return TRUE;
}

void CBaseThread::RequestStop() {
    if (m_hRunEvent) ResetEvent(m_hRunEvent);
    if (m_hStopEvent) SetEvent(m_hStopEvent);
}

BOOL CBaseThread::Stop(const CDeadline &deadline) {
    RequestStop();
    if (!m_hThread) return TRUE;
    BOOL bEndedByItself = m_threadEnd.EndThread(m_hThread, m_dwStopTimeout, m_dwForcedExitCode, deadline);
    CloseHandle(m_hThread);
    m_hThread = nullptr;
    return bEndedByItself;
}

bool CBaseThread::IsStopRequested(DWORD dwMilliseconds) {
    // Without a run event there is nothing that could ever signal "keep
    // running", so the body is told to stop rather than spin forever.
    if (!m_hRunEvent) return true;
    if (dwMilliseconds == 0) return WaitForSingleObject(m_hRunEvent, 0) == WAIT_TIMEOUT;
    return WaitAllowingEnd(1, &m_hRunEvent, dwMilliseconds) == WAIT_TIMEOUT;
}

bool CBaseThread::WaitForStop(DWORD dwMilliseconds) {
    if (!m_hStopEvent) {
        m_threadEnd.AllowEnd();
        Sleep(dwMilliseconds);
        m_threadEnd.ForbidEnd();
        return IsStopRequested(0);
    }
    return WaitAllowingEnd(1, &m_hStopEvent, dwMilliseconds) == WAIT_OBJECT_0;
}

DWORD CBaseThread::WaitAllowingEnd(DWORD nCount, const HANDLE *pHandles, DWORD dwMilliseconds) {
    m_threadEnd.AllowEnd();
    const DWORD dwWait = WaitForMultipleObjects(nCount, pHandles, FALSE, dwMilliseconds);
    m_threadEnd.ForbidEnd();
    return dwWait;
}

bool CBaseThread::HasEnded() const { return m_hThread && WaitForSingleObject(m_hThread, 0) == WAIT_OBJECT_0; }

DWORD WINAPI CBaseThread::ThreadProc(LPVOID lpContext) {
    // The context is &m_pOwner; the owner's m_lpParam is its second word.
    CBaseThread *pOwner = *static_cast<CBaseThread **>(lpContext);
    pOwner->m_threadEnd.BodyBegins();
    const DWORD dwResult = pOwner->Run(pOwner->m_lpParam);
    pOwner->m_threadEnd.Park(dwResult);
    return dwResult;
}
