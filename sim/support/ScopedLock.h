// CScopedLock: holds a critical section for one scope, for the stand-ins in
// sim/. Every way out of the scope, an early return or an exception from a
// standard-library call inside it, leaves the section free for the next
// caller. The plug-in itself has one lock of its own, which no stand-in
// needs (handset/support/BoundedLock.h).
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
