// The real winmm wave functions behind the wave device module's table (see
// wave_api.h).
#include "platform/wave_api.h"

namespace {

// The address winmm exports under the name, or, should winmm not say, the
// one the linker gave.
template <typename PFN>
void Bind(HMODULE hWinmm, PFN &pfn, const char *szName, PFN pfnLinked) {
    const FARPROC pfnExported = hWinmm ? GetProcAddress(hWinmm, szName) : nullptr;
    pfn = pfnExported ? reinterpret_cast<PFN>(reinterpret_cast<void *>(pfnExported)) : pfnLinked;
}

// Each member is the address that winmm exports, not that of a jump stub in
// this library: a close handed to a thread of its own (audio/WaveClose.h)
// must start in winmm, which outlives this library. Asked of winmm by name
// because the i686 compiler builds a table of imported functions' addresses
// as constant data, which names the jump stubs (winmm is imported, so it is
// loaded before this runs).
WAVE_API RealWave() {
    WAVE_API api = {};
    const HMODULE hWinmm = GetModuleHandleA("winmm.dll");
#define TV_BIND(name) Bind(hWinmm, api.name, #name, ::name)
    TV_BIND(waveInGetNumDevs);
    TV_BIND(waveInGetDevCapsA);
    TV_BIND(waveInOpen);
    TV_BIND(waveInPrepareHeader);
    TV_BIND(waveInUnprepareHeader);
    TV_BIND(waveInAddBuffer);
    TV_BIND(waveInStart);
    TV_BIND(waveInReset);
    TV_BIND(waveInClose);
    TV_BIND(waveOutGetNumDevs);
    TV_BIND(waveOutGetDevCapsA);
    TV_BIND(waveOutOpen);
    TV_BIND(waveOutPrepareHeader);
    TV_BIND(waveOutUnprepareHeader);
    TV_BIND(waveOutWrite);
    TV_BIND(waveOutReset);
    TV_BIND(waveOutClose);
#undef TV_BIND
    return api;
}

}  // namespace

WAVE_API g_Wave = RealWave();

void InstallWaveApi(const WAVE_API *pReplacement) { g_Wave = pReplacement ? *pReplacement : RealWave(); }
