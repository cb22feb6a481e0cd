// The wave API's fault wrappers (SeamFaults.h): put in front of the wave
// table installed now (the emulated audio device, in tests), they fail the
// functions the plan names as winmm fails them, with the MMRESULT the plan
// gives (MMSYSERR_NOMEM, MMSYSERR_INVALHANDLE, MMSYSERR_NODRIVER,
// WAVERR_STILLPLAYING, ...), and with 0 devices from the two GetNumDevs
// functions (the plan's error 0). Slots: TV_SEAM_SLOT(WAVE_API, waveOutWrite).
#pragma once

#include "fault/FaultPlan.h"
#include "platform/wave_api.h"

// Only while no wave device is open.
void InstallWaveFaults(CFaultPlan &plan);
// Puts back the table that was in front of the wrappers.
void UninstallWaveFaults();
