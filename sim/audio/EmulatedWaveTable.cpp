// The emulated wave devices behind the wave device module's function table:
// one function per wave API call, each forwarding to the one instance. The
// input and output calls differ only in their handle and capability types,
// so each is one template instantiated for both directions.
#include <cstring>

#include "audio/EmulatedWave.h"
#include "hid/EmulatedHid.h"

namespace {

const ESimWaveDirection D_eIn = ESimWaveDirection::Input;
const ESimWaveDirection D_eOut = ESimWaveDirection::Output;
CEmulatedWave &Wave() { return CEmulatedWave::Instance(); }

template <ESimWaveDirection E>
UINT WINAPI SimGetNumDevs() {
    return Wave().GetNumDevs(E);
}

template <ESimWaveDirection E, class CAPS>
MMRESULT WINAPI SimGetDevCaps(UINT_PTR uDeviceId, CAPS *pCaps, UINT cbCaps) {
    if (!pCaps || cbCaps < sizeof(CAPS)) return MMSYSERR_INVALPARAM;
    memset(pCaps, 0, sizeof(CAPS));
    pCaps->dwFormats = WAVE_FORMAT_1M08 | WAVE_FORMAT_1M16 | WAVE_FORMAT_4M16;
    pCaps->wChannels = 1;
    return Wave().GetDevCaps(E, uDeviceId, pCaps->szPname);
}

template <ESimWaveDirection E, class HWAVE>
MMRESULT WINAPI SimOpen(HWAVE *phWave, UINT uDeviceId, LPCWAVEFORMATEX pFormat, DWORD_PTR dwCallback, DWORD_PTR,
                        DWORD fdwOpen) {
    return Wave().Open(E, reinterpret_cast<void **>(phWave), uDeviceId, pFormat, dwCallback, fdwOpen);
}

template <ESimWaveDirection E, class HWAVE>
MMRESULT WINAPI SimPrepareHeader(HWAVE hWave, LPWAVEHDR pHdr, UINT cbHdr) {
    return Wave().Prepare(E, hWave, pHdr, cbHdr);
}

template <ESimWaveDirection E, class HWAVE>
MMRESULT WINAPI SimUnprepareHeader(HWAVE hWave, LPWAVEHDR pHdr, UINT cbHdr) {
    return Wave().Unprepare(E, hWave, pHdr, cbHdr);
}

// waveOutWrite and waveInAddBuffer.
template <ESimWaveDirection E, class HWAVE>
MMRESULT WINAPI SimEnqueue(HWAVE hWave, LPWAVEHDR pHdr, UINT cbHdr) {
    return Wave().Enqueue(E, hWave, pHdr, cbHdr);
}

template <ESimWaveDirection E, class HWAVE>
MMRESULT WINAPI SimReset(HWAVE hWave) {
    return Wave().ResetStream(E, hWave);
}

template <ESimWaveDirection E, class HWAVE>
MMRESULT WINAPI SimClose(HWAVE hWave) {
    return Wave().Close(E, hWave);
}

MMRESULT WINAPI SimWaveInStart(HWAVEIN hwi) { return Wave().Start(hwi); }

const WAVE_API g_EmulatedWaveApi = {
    SimGetNumDevs<D_eIn>,
    SimGetDevCaps<D_eIn, WAVEINCAPSA>,
    SimOpen<D_eIn, HWAVEIN>,
    SimPrepareHeader<D_eIn, HWAVEIN>,
    SimUnprepareHeader<D_eIn, HWAVEIN>,
    SimEnqueue<D_eIn, HWAVEIN>,
    SimWaveInStart,
    SimReset<D_eIn, HWAVEIN>,
    SimClose<D_eIn, HWAVEIN>,
    SimGetNumDevs<D_eOut>,
    SimGetDevCaps<D_eOut, WAVEOUTCAPSA>,
    SimOpen<D_eOut, HWAVEOUT>,
    SimPrepareHeader<D_eOut, HWAVEOUT>,
    SimUnprepareHeader<D_eOut, HWAVEOUT>,
    SimEnqueue<D_eOut, HWAVEOUT>,
    SimReset<D_eOut, HWAVEOUT>,
    SimClose<D_eOut, HWAVEOUT>,
};

}  // namespace

void CEmulatedWave::InstallTypicalDesk() {
    Reset();
    AddTypicalDevices();
    SetClock(ESimWaveClock::RealTime);
    SetInputSource(ToneSource());
    Install();
}

void CEmulatedWave::Install() {
    InstallWaveApi(&g_EmulatedWaveApi);
    StartClock();
    // On a real desk the handset's USB audio device goes with its HID side.
    CEmulatedHid::Instance().SetPlugListener(FollowHandsetPlug);
}

void CEmulatedWave::Uninstall() {
    CEmulatedHid::Instance().SetPlugListener(nullptr);
    StopClock();
    InstallWaveApi(nullptr);
}
