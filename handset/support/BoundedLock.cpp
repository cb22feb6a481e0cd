// CBoundedLock, CLockGuard and CDeadline: see BoundedLock.h.
//
// A waiter counts itself in m_lWaiters before its last try and its sleep;
// Leave frees the word before it reads m_lWaiters. Both are full barriers, so
// either the last try sees the lock free or Leave wakes the waiter.
#include "support/BoundedLock.h"

#include "support/LogReporter.h"

namespace {

// An id reused by a new thread counts as alive: the waiter then runs into
// its deadline instead.
bool IsThreadAlive(DWORD dwThreadId) {
    HANDLE hThread = OpenThread(SYNCHRONIZE, FALSE, dwThreadId);
    if (!hThread) return GetLastError() != ERROR_INVALID_PARAMETER;
    const bool bAlive = WaitForSingleObject(hThread, 0) == WAIT_TIMEOUT;
    CloseHandle(hThread);
    return bAlive;
}

}  // namespace

ULONGLONG CDeadline::NowMs() {
    // The same from the first call on: a race only writes it twice.
    static std::atomic<LONGLONG> s_llFrequency{0};
    LONGLONG llFrequency = s_llFrequency.load(std::memory_order_relaxed);
    if (llFrequency <= 0) {
        LARGE_INTEGER liFrequency;
        QueryPerformanceFrequency(&liFrequency);
        llFrequency = liFrequency.QuadPart > 0 ? liFrequency.QuadPart : 1000;
        s_llFrequency.store(llFrequency, std::memory_order_relaxed);
    }
    LARGE_INTEGER liNow;
    QueryPerformanceCounter(&liNow);
    const ULONGLONG ullTicks = static_cast<ULONGLONG>(liNow.QuadPart);
    const ULONGLONG ullFrequency = static_cast<ULONGLONG>(llFrequency);
    return ullTicks / ullFrequency * 1000 + ullTicks % ullFrequency * 1000 / ullFrequency;
}

DWORD CDeadline::Left() const {
    const ULONGLONG ullNow = NowMs();
    const ULONGLONG ullElapsed = ullNow > m_ullStartMs ? ullNow - m_ullStartMs : 0;
    return ullElapsed >= m_dwLengthMs ? 0 : m_dwLengthMs - static_cast<DWORD>(ullElapsed);
}

DWORD CDeadline::Cap(DWORD dwOwnMs) const {
    const DWORD dwLeft = Left();
    return dwOwnMs < dwLeft ? dwOwnMs : dwLeft;
}

CDeadline CDeadline::Within(DWORD dwMs) const { return CDeadline(m_bUnload, m_bUnderLoaderLock, Cap(dwMs)); }

CDeadline CDeadline::Until(DWORD dwMsFromStart) const {
    CDeadline deadline(*this);
    if (dwMsFromStart < m_dwLengthMs) deadline.m_dwLengthMs = dwMsFromStart;
    return deadline;
}

CBoundedLock::CBoundedLock(EDeadOwner deadOwner)
    : m_deadOwner(deadOwner), m_lOwner(0), m_lWaiters(0), m_hWake(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

CBoundedLock::~CBoundedLock() {
    if (m_hWake) CloseHandle(m_hWake);
}

bool CBoundedLock::TryTake(DWORD dwSelf) {
    LONG lFree = 0;
    return m_lOwner.compare_exchange_strong(lFree, static_cast<LONG>(dwSelf));
}

bool CBoundedLock::OwnerLives(DWORD dwSelf, bool &bTaken) {
    LONG lOwner = m_lOwner;
    if (lOwner == 0 || IsThreadAlive(static_cast<DWORD>(lOwner))) return true;
    if (m_deadOwner == EDeadOwner::GiveUp) return false;
    bTaken = m_lOwner.compare_exchange_strong(lOwner, static_cast<LONG>(dwSelf));
    return !bTaken;
}

CBoundedLock::EEntryResult CBoundedLock::Enter(const CDeadline &deadline) {
    const DWORD dwSelf = GetCurrentThreadId();
    if (TryTake(dwSelf)) return EEntryResult::Entered;
    ULONGLONG ullLastCheck = CDeadline::NowMs();
    for (;;) {
        ++m_lWaiters;
        const bool bTaken = TryTake(dwSelf);
        const DWORD dwLeft = deadline.Left();
        if (!bTaken && dwLeft > 0) {
            // Woken by a Leave, or the owner is due for a look.
            if (m_hWake)
                WaitForSingleObject(m_hWake, dwLeft < D_dwOwnerCheckSliceMs ? dwLeft : D_dwOwnerCheckSliceMs);
            else
                Sleep(1);
        }
        --m_lWaiters;
        if (bTaken || TryTake(dwSelf)) return EEntryResult::Entered;
        const ULONGLONG ullNow = CDeadline::NowMs();
        if (ullNow - ullLastCheck >= D_dwOwnerCheckSliceMs) {
            ullLastCheck = ullNow;
            bool bTakenOver = false;
            if (!OwnerLives(dwSelf, bTakenOver))
                return bTakenOver ? EEntryResult::EnteredFromDeadOwner : EEntryResult::TimedOut;
        }
        if (deadline.Left() == 0) return EEntryResult::TimedOut;
    }
}

void CBoundedLock::Leave() {
    m_lOwner = 0;
    if (m_lWaiters > 0 && m_hWake) SetEvent(m_hWake);
}

CLockGuard::CLockGuard(CBoundedLock &lock, const CDeadline &deadline, const char *szStep)
    : m_lock(lock), m_result(CBoundedLock::EEntryResult::TimedOut) {
    // Only a step of the unload that may be skipped reads the clock here.
    const bool bReportsSkip = szStep && deadline.OfUnload();
    const DWORD dwLeftBeforeMs = bReportsSkip ? deadline.Left() : 0;
    m_result = lock.Enter(deadline);
    if (Held() || !bReportsSkip) return;
    // The bound, or less when the lock was given up on a dead owner: what is
    // left of a deadline only shrinks, and never below 0.
    const DWORD dwWaitedMs = dwLeftBeforeMs - deadline.Left();
    g_LogReporter.WriteLog(deadline.Within(D_dwLogLockMs),
                           "Unload: the %s lock was not free within %lu ms; its step is skipped", szStep,
                           static_cast<unsigned long>(dwWaitedMs));
}
