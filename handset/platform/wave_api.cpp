// The real winmm wave functions behind the wave device module's table (see
// wave_api.h).
#include "platform/wave_api.h"

namespace {

// Built at run time, so that each member is the address that winmm exports
// (read from the import table), not that of a jump stub in this library: a
// close handed to a thread of its own (audio/WaveClose.h) must start in
// winmm, which outlives this library.
WAVE_API RealWave() {
    return WAVE_API{
        ::waveInGetNumDevs,      ::waveInGetDevCapsA,      ::waveInOpen,         ::waveInPrepareHeader,
        ::waveInUnprepareHeader, ::waveInAddBuffer,        ::waveInStart,        ::waveInReset,
        ::waveInClose,           ::waveOutGetNumDevs,      ::waveOutGetDevCapsA, ::waveOutOpen,
        ::waveOutPrepareHeader,  ::waveOutUnprepareHeader, ::waveOutWrite,       ::waveOutReset,
        ::waveOutClose,
    };
}

}  // namespace

WAVE_API g_Wave = RealWave();

void InstallWaveApi(const WAVE_API *pReplacement) { g_Wave = pReplacement ? *pReplacement : RealWave(); }
