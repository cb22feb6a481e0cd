// CBoundedLock, CLockGuard and CDeadline: the plug-in's one lock, the one
// way to hold it, and the deadline every wait for it is given by its caller.
//
// The detach step ends a worker by force when it does not stop in time, and
// a thread ended by force never leaves a lock it holds: a critical section
// would lock the next caller out for ever, and a kernel mutex costs two
// kernel calls per take. So the lock is a word holding its owner's thread
// id, taken and released with one atomic operation each; a waiter sleeps on
// an event that a release sets, and after each slice asks whether the owner
// still lives. A dead owner's lock is, as fixed when the lock is made,
//   - TakeOver: taken over (what it guards is sound wherever its owner died:
//     a line written whole or not at all, a queue of digits, the shield);
//   - GiveUp: given up at once (its owner may have died halfway through a
//     change, or inside a C library stream whose own lock died with it).
//
// The deadline comes from the caller: an ordinary call writes its own bound
// at the call; the detach step hands its one deadline down to every function
// that may wait, so that workers stuck at once cost the host that deadline,
// not the sum of their bounds. Not recursive.
#pragma once

#include <windows.h>

#include <atomic>

class CDeadline {
public:
    // dwMs from now.
    explicit CDeadline(DWORD dwMs) : CDeadline(false, false, dwMs) {}
    // The library's unload step, dwMs from now; bUnderLoaderLock: its caller
    // holds the loader lock, which its stops must know.
    static CDeadline ForUnload(bool bUnderLoaderLock, DWORD dwMs) { return CDeadline(true, bUnderLoaderLock, dwMs); }

    DWORD Left() const;
    // dwOwnMs, or what is left when that is shorter.
    DWORD Cap(DWORD dwOwnMs) const;
    // dwMs from now, or this deadline when it comes first.
    CDeadline Within(DWORD dwMs) const;
    // This deadline, ending dwMsFromStart after its start when that comes first.
    CDeadline Until(DWORD dwMsFromStart) const;
    // For one lock of a step: an unload waits D_dwUnloadLockMs at most for
    // any one lock, an ordinary call all of its deadline.
    CDeadline ForOneLock() const { return m_bUnload ? Within(D_dwUnloadLockMs) : *this; }
    bool OfUnload() const { return m_bUnload; }
    bool UnderLoaderLock() const { return m_bUnderLoaderLock; }

    static constexpr DWORD D_dwUnloadLockMs = 1000;

    // Milliseconds by the performance counter, the clock the kernel's own
    // wait timeouts keep to. Wine's tick count is a value its server
    // refreshes: on a busy machine it stands still and then jumps, which
    // would stretch a deadline and then cut the waits it bounds.
    static ULONGLONG NowMs();

private:
    CDeadline(bool bUnload, bool bUnderLoaderLock, DWORD dwMs)
        : m_bUnload(bUnload), m_bUnderLoaderLock(bUnderLoaderLock), m_ullStartMs(NowMs()), m_dwLengthMs(dwMs) {}

    bool m_bUnload;
    bool m_bUnderLoaderLock;
    ULONGLONG m_ullStartMs;
    DWORD m_dwLengthMs;
};

class CBoundedLock {
public:
    enum class EDeadOwner { TakeOver, GiveUp };
    enum class EEntryResult {
        Entered,
        EnteredFromDeadOwner,  // held, but its last owner died holding it
        TimedOut               // not held: the deadline passed, or (GiveUp) the owner died
    };

    explicit CBoundedLock(EDeadOwner deadOwner = EDeadOwner::TakeOver);
    ~CBoundedLock();

    EEntryResult Enter(const CDeadline &deadline);
    void Leave();

    // How long a waiter waits before it looks at the owner.
    static constexpr DWORD D_dwOwnerCheckSliceMs = 50;

private:
    bool TryTake(DWORD dwSelf);
    // Whether a waiter goes on waiting: false once the owner is found dead,
    // bTaken when the waiter took the lock over from it.
    bool OwnerLives(DWORD dwSelf, bool &bTaken);

    const EDeadOwner m_deadOwner;
    std::atomic<LONG> m_lOwner;    // thread id of the owner; 0 when free
    std::atomic<LONG> m_lWaiters;  // waiters that may sleep on m_hWake
    HANDLE m_hWake;                // auto-reset: one waiter tries again

    CBoundedLock(const CBoundedLock &) = delete;
    CBoundedLock &operator=(const CBoundedLock &) = delete;
};

// Holds a lock for one scope, if it could be had by the deadline; Held()
// tells. szStep names the lock in the log line of an unload step that goes
// without it.
class CLockGuard {
public:
    CLockGuard(CBoundedLock &lock, const CDeadline &deadline, const char *szStep = nullptr);
    ~CLockGuard() {
        if (Held()) m_lock.Leave();
    }
    bool Held() const { return m_result != CBoundedLock::EEntryResult::TimedOut; }
    CBoundedLock::EEntryResult Result() const { return m_result; }

private:
    CBoundedLock &m_lock;
    CBoundedLock::EEntryResult m_result;
    CLockGuard(const CLockGuard &) = delete;
    CLockGuard &operator=(const CLockGuard &) = delete;
};
