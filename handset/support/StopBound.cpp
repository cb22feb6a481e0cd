// CStopBound and CBoundedScope: see StopBound.h.
#include "support/StopBound.h"

#include <atomic>

#include "support/LogReporter.h"

namespace {
// One detach step at a time: the loader runs entry points one by one.
std::atomic<const CStopBound *> g_pCurrent{nullptr};
std::atomic<DWORD> g_dwCurrentThread{0};
std::atomic<bool> g_bEndedWhereItStood{false};
// How often a bounded take tries the section again.
const DWORD D_dwTrySliceMs = 1;
}  // namespace

CStopBound::CStopBound() : m_bUnderLoaderLock(false), m_bBounded(false), m_dwStart(0), m_dwLengthMs(INFINITE) {}

CStopBound::CStopBound(bool bUnderLoaderLock, DWORD dwBoundMs)
    : m_bUnderLoaderLock(bUnderLoaderLock), m_bBounded(true), m_dwStart(GetTickCount()), m_dwLengthMs(dwBoundMs) {}

DWORD CStopBound::Cap(DWORD dwOwnMs) const {
    if (!m_bBounded) return dwOwnMs;
    const DWORD dwElapsed = GetTickCount() - m_dwStart;
    const DWORD dwLeft = dwElapsed >= m_dwLengthMs ? 0 : m_dwLengthMs - dwElapsed;
    return dwOwnMs < dwLeft ? dwOwnMs : dwLeft;
}

CStopBound CStopBound::Until(DWORD dwMsFromStart) const {
    CStopBound bound(*this);
    if (m_bBounded && dwMsFromStart < m_dwLengthMs) bound.m_dwLengthMs = dwMsFromStart;
    return bound;
}

const CStopBound *CStopBound::Current() {
    return g_dwCurrentThread == GetCurrentThreadId() ? g_pCurrent.load() : nullptr;
}

CStopBound::Scope::Scope(const CStopBound &bound) : m_pPrevious(g_pCurrent), m_dwPreviousThread(g_dwCurrentThread) {
    if (!Current()) g_bEndedWhereItStood = false;
    g_pCurrent = &bound;
    g_dwCurrentThread = GetCurrentThreadId();
}

CStopBound::Scope::~Scope() {
    g_dwCurrentThread = m_dwPreviousThread;
    g_pCurrent = m_pPrevious;
}

void CStopBound::NoteEndedWhereItStood() { g_bEndedWhereItStood = true; }

bool CStopBound::AWorkerWasEndedWhereItStood() { return g_bEndedWhereItStood; }

CBoundedScope::CBoundedScope(CRITICAL_SECTION &cs, const char *szWhat) : m_cs(cs), m_bHeld(false) {
    const CStopBound *pBound = CStopBound::Current();
    if (!pBound) {
        EnterCriticalSection(&m_cs);
        m_bHeld = true;
        return;
    }
    // Polled: a critical section offers no bounded wait, and its owner may
    // be a thread that was ended holding it, which no wait would outlast.
    const DWORD dwBound = pBound->Cap(CStopBound::AWorkerWasEndedWhereItStood() ? D_dwAfterForcedEndMs : D_dwMs);
    const DWORD dwStart = GetTickCount();
    for (;;) {
        m_bHeld = TryEnterCriticalSection(&m_cs) != FALSE;
        if (m_bHeld || GetTickCount() - dwStart >= dwBound) break;
        Sleep(D_dwTrySliceMs);
    }
    if (!m_bHeld)
        g_LogReporter.WriteLog("Unload: the %s lock was not free within %lu ms; its step is skipped", szWhat,
                               static_cast<unsigned long>(dwBound));
}

CBoundedScope::~CBoundedScope() {
    if (m_bHeld) LeaveCriticalSection(&m_cs);
}
