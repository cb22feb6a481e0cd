// The wave API's fault wrappers: see WaveFaults.h.
#include "fault/WaveFaults.h"

#include "fault/SeamFaults.h"

namespace {

using CWaveFaults = CSeamFaults<WAVE_API>;
#define TV_WAVE_FAULT(Member) TV_SEAM_FAULT(CWaveFaults, WAVE_API, Member)

const WAVE_API g_WaveFaultTable = {
    TV_WAVE_FAULT(waveInGetNumDevs),
    TV_WAVE_FAULT(waveInGetDevCapsA),
    TV_WAVE_FAULT(waveInOpen),
    TV_WAVE_FAULT(waveInPrepareHeader),
    TV_WAVE_FAULT(waveInUnprepareHeader),
    TV_WAVE_FAULT(waveInAddBuffer),
    TV_WAVE_FAULT(waveInStart),
    TV_WAVE_FAULT(waveInReset),
    TV_WAVE_FAULT(waveInClose),
    TV_WAVE_FAULT(waveOutGetNumDevs),
    TV_WAVE_FAULT(waveOutGetDevCapsA),
    TV_WAVE_FAULT(waveOutOpen),
    TV_WAVE_FAULT(waveOutPrepareHeader),
    TV_WAVE_FAULT(waveOutUnprepareHeader),
    TV_WAVE_FAULT(waveOutWrite),
    TV_WAVE_FAULT(waveOutReset),
    TV_WAVE_FAULT(waveOutClose),
};

}  // namespace

void InstallWaveFaults(CFaultPlan &plan) {
    CWaveFaults::Arm(g_Wave, &plan);
    InstallWaveApi(&g_WaveFaultTable);
}

void UninstallWaveFaults() {
    InstallWaveApi(&CWaveFaults::Inner());
    CWaveFaults::Arm(CWaveFaults::Inner(), nullptr);
}
