// The real winmm wave functions behind the wave device module's table (see
// wave_api.h).
#include "platform/wave_api.h"

namespace {

const WAVE_API g_RealWave = {
    ::waveInGetNumDevs,
    ::waveInGetDevCapsA,
    ::waveInOpen,
    ::waveInPrepareHeader,
    ::waveInUnprepareHeader,
    ::waveInAddBuffer,
    ::waveInStart,
    ::waveInReset,
    ::waveInClose,
    ::waveOutGetNumDevs,
    ::waveOutGetDevCapsA,
    ::waveOutOpen,
    ::waveOutPrepareHeader,
    ::waveOutUnprepareHeader,
    ::waveOutWrite,
    ::waveOutReset,
    ::waveOutClose,
};

}  // namespace

WAVE_API g_Wave = g_RealWave;

void InstallWaveApi(const WAVE_API *pReplacement) {
    g_Wave = pReplacement ? *pReplacement : g_RealWave;
}
