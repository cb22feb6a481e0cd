// The close of a wave device, made here or handed off: see WaveClose.h. The
// detach step sets the flag; whichever thread closes a device reads it.
#include "audio/WaveClose.h"

#include <atomic>

#include "platform/wave_api.h"
#include "support/EntryStub.h"

namespace {

// 1 handed off, the close functions' module pinned; 2 handed off but not
// pinned (a close is then neither made nor handed off).
std::atomic<LONG> g_lHandOff{0};

// A close function has a thread routine's shape.
static_assert(sizeof(MMRESULT) == sizeof(DWORD), "a close's result is a thread's exit code");

template <typename PFN>
LPTHREAD_START_ROUTINE AsRoutine(PFN pfn) {
    return reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void *>(pfn));
}

LPTHREAD_START_ROUTINE CloseRoutine(bool bInput) {
    return bInput ? AsRoutine(g_Wave.waveInClose) : AsRoutine(g_Wave.waveOutClose);
}

LPTHREAD_START_ROUTINE ResetRoutine(bool bInput) {
    return bInput ? AsRoutine(g_Wave.waveInReset) : AsRoutine(g_Wave.waveOutReset);
}

HMODULE ModuleOf(const void *pAddress) {
    HMODULE hModule = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCSTR>(pAddress), &hModule);
    return hModule;
}

// A closer thread may start after this library is gone: the close
// function's module must stay. One inside this library (a DLL) is not
// handed off: pinning would keep the library from ever unloading.
bool PinModuleOf(LPTHREAD_START_ROUTINE pfnRoutine) {
    const void *pRoutine = reinterpret_cast<const void *>(pfnRoutine);
    const HMODULE hOwn = ModuleOf(reinterpret_cast<const void *>(&HandWaveClosesOff));
    if (!pRoutine || (ModuleOf(pRoutine) == hOwn && hOwn != GetModuleHandleA(nullptr))) return false;
    HMODULE hModule = nullptr;
    return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                              static_cast<LPCSTR>(pRoutine), &hModule) != FALSE;
}

MMRESULT HandOffClose(bool bInput, HANDLE hWave) {
    if (g_lHandOff != 1) return MMSYSERR_ERROR;
    // The reset first, so that the close finds nothing queued. Without a
    // page, the close alone.
    LPTHREAD_START_ROUTINE pfnStart = CEntryStub::Detached(ResetRoutine(bInput), CloseRoutine(bInput));
    HANDLE hCloser = CreateThread(nullptr, 0, pfnStart ? pfnStart : CloseRoutine(bInput), hWave, 0, nullptr);
    if (!hCloser) return MMSYSERR_NOMEM;
    CloseHandle(hCloser);
    return MMSYSERR_NOERROR;
}

}  // namespace

void HandWaveClosesOff(bool bHandOff) {
    // Pinned by the detach step, which holds the loader lock a pin takes: on
    // the wave message thread the pin would wait for the detach step.
    const bool bPinned = bHandOff && PinModuleOf(CloseRoutine(true)) && PinModuleOf(CloseRoutine(false)) &&
                         PinModuleOf(ResetRoutine(true)) && PinModuleOf(ResetRoutine(false));
    g_lHandOff = bHandOff ? (bPinned ? 1 : 2) : 0;
}

bool WaveClosesHandedOff() { return g_lHandOff != 0; }

MMRESULT CloseWaveDevice(bool bInput, HANDLE hWave) {
    if (WaveClosesHandedOff()) return HandOffClose(bInput, hWave);
    return bInput ? g_Wave.waveInClose(static_cast<HWAVEIN>(hWave)) : g_Wave.waveOutClose(static_cast<HWAVEOUT>(hWave));
}
