// The emulation's one lock, held by every entry point (see EmulatedWave.h).
#pragma once

#include "audio/EmulatedWave.h"
#include "support/ScopedLock.h"

class CEmulatedWave::CLock : public CScopedLock {
public:
    using CScopedLock::CScopedLock;
};
