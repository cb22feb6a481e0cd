// CRecoverableLock: a lock that survives the death of its owner.
//
// The library's detach step ends the link thread by force when it does not
// stop in time, and a thread ended by force never leaves a critical section
// it holds: the next caller (the detach step writing its last log line,
// under the loader lock) would wait for ever. A kernel mutex would notice
// the dead owner, but costs two kernel calls per line, which halves the
// log's throughput. So this lock is a word in user memory holding the
// owner's thread id, taken and released with one atomic operation each
// while nobody waits; only a waiter that has waited one slice without
// success asks the kernel whether the owner still lives, and takes the lock
// over from a dead one.
//
// Every wait is bounded: Enter gives up after the bound it is given (a live
// owner stuck in a write to a dead network share, say), and the caller
// decides what a lock it does not hold means for it. Not recursive.
#pragma once

#include <windows.h>

#include <atomic>

class CRecoverableLock {
public:
    enum class EEntryResult {
        Entered,
        EnteredFromDeadOwner,  // held, but its last owner died holding it
        TimedOut               // not held: a live owner kept it past the bound
    };

    CRecoverableLock();
    ~CRecoverableLock();

    EEntryResult Enter(DWORD dwBoundMs);
    void Leave();

    // How long a waiter waits before it looks at the owner.
    static constexpr DWORD D_dwOwnerCheckSliceMs = 50;

private:
    bool TryTake(DWORD dwSelf);
    bool TakeFromDeadOwner(DWORD dwSelf);

    std::atomic<LONG> m_lOwner;    // thread id of the owner; 0 when free
    std::atomic<LONG> m_lWaiters;  // waiters that may sleep on m_hWake
    HANDLE m_hWake;                // auto-reset: one waiter tries again

    CRecoverableLock(const CRecoverableLock &) = delete;
    CRecoverableLock &operator=(const CRecoverableLock &) = delete;
};

// Holds a CRecoverableLock for one scope, if it could be had within the
// bound; Held() tells.
class CRecoverableScope {
public:
    CRecoverableScope(CRecoverableLock &lock, DWORD dwBoundMs) : m_lock(lock), m_result(lock.Enter(dwBoundMs)) {}
    ~CRecoverableScope() {
        if (Held()) m_lock.Leave();
    }
    bool Held() const { return m_result != CRecoverableLock::EEntryResult::TimedOut; }
    CRecoverableLock::EEntryResult Result() const { return m_result; }

private:
    CRecoverableLock &m_lock;
    const CRecoverableLock::EEntryResult m_result;
    CRecoverableScope(const CRecoverableScope &) = delete;
    CRecoverableScope &operator=(const CRecoverableScope &) = delete;
};
