// CScopedLock: holds a critical section for one scope. Every way out of the
// scope, an early return or an exception from a standard-library call inside
// it, leaves the section free for the next caller.
#pragma once

#include <windows.h>

class CScopedLock {
public:
    explicit CScopedLock(CRITICAL_SECTION &cs) : m_cs(cs) { EnterCriticalSection(&m_cs); }
    ~CScopedLock() { LeaveCriticalSection(&m_cs); }

private:
    CRITICAL_SECTION &m_cs;
    CScopedLock(const CScopedLock &) = delete;
    CScopedLock &operator=(const CScopedLock &) = delete;
};
