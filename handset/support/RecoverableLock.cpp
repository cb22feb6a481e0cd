// CRecoverableLock: see RecoverableLock.h for why the owner's death must not
// lock everybody out.
//
// A waiter announces itself in m_lWaiters before its last try and before it
// sleeps; Leave frees the word before it looks at m_lWaiters. Both are full
// barriers, so either the waiter's last try sees the lock free or Leave sees
// the waiter and wakes it: no wake-up is lost. A spare wake-up only costs a
// waiter one more try.
#include "support/RecoverableLock.h"

namespace {

// A thread id that names no thread, or a thread that has ended, is dead.
// An id that has been reused by a new thread counts as alive: the waiter
// then runs into its bound instead.
bool IsThreadAlive(DWORD dwThreadId) {
    HANDLE hThread = OpenThread(SYNCHRONIZE, FALSE, dwThreadId);
    if (!hThread) return GetLastError() != ERROR_INVALID_PARAMETER;
    const bool bAlive = WaitForSingleObject(hThread, 0) == WAIT_TIMEOUT;
    CloseHandle(hThread);
    return bAlive;
}

}  // namespace

CRecoverableLock::CRecoverableLock()
    : m_lOwner(0), m_lWaiters(0), m_hWake(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

CRecoverableLock::~CRecoverableLock() {
    if (m_hWake) CloseHandle(m_hWake);
}

bool CRecoverableLock::TryTake(DWORD dwSelf) {
    LONG lFree = 0;
    return m_lOwner.compare_exchange_strong(lFree, static_cast<LONG>(dwSelf));
}

bool CRecoverableLock::TakeFromDeadOwner(DWORD dwSelf) {
    LONG lOwner = m_lOwner;
    if (lOwner == 0 || IsThreadAlive(static_cast<DWORD>(lOwner))) return false;
    return m_lOwner.compare_exchange_strong(lOwner, static_cast<LONG>(dwSelf));
}

CRecoverableLock::EEntryResult CRecoverableLock::Enter(DWORD dwBoundMs) {
    const DWORD dwSelf = GetCurrentThreadId();
    if (TryTake(dwSelf)) return EEntryResult::Entered;
    const DWORD dwStart = GetTickCount();
    DWORD dwLastCheck = dwStart;
    for (;;) {
        ++m_lWaiters;
        const bool bTaken = TryTake(dwSelf);
        const DWORD dwElapsed = GetTickCount() - dwStart;
        if (!bTaken && dwElapsed < dwBoundMs) {
            // Woken by a Leave, or the slice ran out and the owner is due
            // for a look. Without the event, poll.
            const DWORD dwSlice = dwBoundMs - dwElapsed < D_dwOwnerCheckSliceMs ? dwBoundMs - dwElapsed
                                                                                : D_dwOwnerCheckSliceMs;
            if (m_hWake)
                WaitForSingleObject(m_hWake, dwSlice);
            else
                Sleep(1);
        }
        --m_lWaiters;
        if (bTaken || TryTake(dwSelf)) return EEntryResult::Entered;
        const DWORD dwNow = GetTickCount();
        if (dwNow - dwLastCheck >= D_dwOwnerCheckSliceMs) {
            dwLastCheck = dwNow;
            if (TakeFromDeadOwner(dwSelf)) return EEntryResult::EnteredFromDeadOwner;
        }
        if (dwNow - dwStart >= dwBoundMs) return EEntryResult::TimedOut;
    }
}

void CRecoverableLock::Leave() {
    m_lOwner = 0;
    if (m_lWaiters > 0 && m_hWake) SetEvent(m_hWake);
}
