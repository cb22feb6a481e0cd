// The emulation's one lock, held by every entry point (see EmulatedWave.h).
#pragma once

#include "audio/EmulatedWave.h"

class CEmulatedWave::CLock {
public:
    explicit CLock(CRITICAL_SECTION &cs) : m_cs(cs) { EnterCriticalSection(&m_cs); }
    ~CLock() { LeaveCriticalSection(&m_cs); }

private:
    CRITICAL_SECTION &m_cs;
    CLock(const CLock &) = delete;
    CLock &operator=(const CLock &) = delete;
};
