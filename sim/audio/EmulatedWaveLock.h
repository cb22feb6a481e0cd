// The emulation's one lock, held by every entry point (see EmulatedWave.h),
// and what its source files share besides.
#pragma once

#include "audio/EmulatedWave.h"
#include "support/ScopedLock.h"

class CEmulatedWave::CLock : public CScopedLock {
public:
    using CScopedLock::CScopedLock;
};

// Per-direction arrays of the emulation are indexed by the direction.
inline size_t Index(ESimWaveDirection eDirection) { return static_cast<size_t>(eDirection); }
