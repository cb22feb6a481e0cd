// The handset's wave devices: see waveinout.h. The input lives in
// WaveIn.cpp, the output in WaveOut.cpp; here are the module's state, the
// device search, the steps both directions share (WaveDirection.h) and the
// dispatch of the wave message thread's notifications.
//
// Threads: host threads open, stop and write (through the player and the
// recorder); the wave message thread runs HandleWaveMessage for every device
// notification and, from inside the sinks, writes refills and stops the
// output at the end of a playback.
//
// Guarding: each direction has one critical section over its flags, its
// handle, what the device holds and its close decision, held only across
// calls that return at once (the wave API posts its notifications, it never
// waits for our thread). The sinks are called without it: they take the
// player's and recorder's own exclusion, which a host thread may hold while
// it calls a stop here. So the order is job lock, direction lock, then the
// lock of the retired devices (WaveRetired.h). The output count changes only
// by interlocked operations; it is raised before a block is handed to the
// device, so the close decided on it never comes while the device still
// holds a block.
//
// Open flags are set on a successful open call as well as by the open
// notification: the player writes its first blocks right after the open, and
// a second open during that window finds the direction open. A direction is
// closing from its stop until its close notification; an open in that time
// waits for the notification (bounded) and then opens the device afresh.
//
// A device that stops answering (its reset or close fails, or its close
// notification does not come within the open's wait) is abandoned: its
// handle and what it holds go to WaveRetired.h, the direction counts as
// closed and the next open starts afresh. Notifications are matched to the
// current device by handle and by the memory they carry, so whatever an
// abandoned device posts later never reaches the player or the recorder.
#include "audio/waveinout.h"

#include <initializer_list>

#include "audio/WaveDirection.h"
#include "audio/WaveRetired.h"
#include "platform/wave_api.h"
#include "support/ScopedLock.h"
#include "support/StopBound.h"
#include "audio/WaveMsgThread.h"

int g_nChannels = 1;
int g_nSamplesPerSec = 8000;
int g_nBitsPerSample = 16;
int g_nBlockAlign = g_nChannels * g_nBitsPerSample / 8;
int g_nAvgBytesPerSec = g_nSamplesPerSec * g_nBlockAlign;

UINT g_nWaveInDevice = WAVE_MAPPER;
UINT g_nWaveOutDevice = WAVE_MAPPER;

PFN_WAVE_SINK g_pfnWaveInData = nullptr;
PFN_WAVE_SINK g_pfnWaveOutDone = nullptr;

WaveDirection g_In, g_Out;

namespace {

// Constructed before any export can run, so the first open finds them ready.
struct WaveDirectionsInit {
    WaveDirectionsInit() {
        g_In.bInput = true;
        g_Out.bInput = false;
        for (WaveDirection *p : {&g_In, &g_Out}) {
            InitializeCriticalSection(&p->cs);
            p->hClosed = CreateEventA(nullptr, TRUE, TRUE, nullptr);
            p->bOpenNoticed = false;
            p->bCloseIssued = false;
            p->bDropReturns = false;
        }
    }
    ~WaveDirectionsInit() {
        for (WaveDirection *p : {&g_In, &g_Out}) {
            if (p->hClosed) CloseHandle(p->hClosed);
            DeleteCriticalSection(&p->cs);
        }
    }
} g_WaveDirectionsInit;

// Notifications of a device that is no longer ours change nothing. A
// retired device's are looked for first, under the direction's lock, so that
// an abandonment cannot come between the two looks: Windows may already have
// given the retired device's handle value to the device opened since.
template <class HWAVE>
void OnOpenNotification(WaveDirection &direction, bool bInput, HWAVE hNotified, const HWAVE &hCurrent,
                        volatile BYTE &bOpen) {
    CScopedLock lock(direction.cs);
    if (TakeRetiredOpen(bInput, hNotified) || hNotified != hCurrent) return;
    bOpen = 1;
    direction.bOpenNoticed = true;
}

template <class HWAVE>
void OnCloseNotification(WaveDirection &direction, bool bInput, HWAVE hNotified, HWAVE &hCurrent,
                         volatile BYTE &bOpen) {
    CScopedLock lock(direction.cs);
    if (TakeRetiredClose(bInput, hNotified) || hNotified != hCurrent) return;
    hCurrent = nullptr;
    bOpen = 0;
    direction.bCloseIssued = false;
    SetEvent(direction.hClosed);
}

}  // namespace

const char *DirectionName(const WaveDirection &direction) { return direction.bInput ? "wave input" : "wave output"; }

WAVEFORMATEX DeviceFormat() {
    g_nBlockAlign = g_nChannels * g_nBitsPerSample / 8;
    g_nAvgBytesPerSec = g_nSamplesPerSec * g_nBlockAlign;
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(g_nChannels);
    format.nSamplesPerSec = static_cast<DWORD>(g_nSamplesPerSec);
    format.nAvgBytesPerSec = static_cast<DWORD>(g_nAvgBytesPerSec);
    format.nBlockAlign = static_cast<WORD>(g_nBlockAlign);
    format.wBitsPerSample = static_cast<WORD>(g_nBitsPerSample);
    format.cbSize = 0;
    return format;
}

bool EnterWhenNotClosing(WaveDirection &direction, volatile BYTE &bOpen, volatile BYTE &bClosing, DWORD dwTimeout,
                         PFN_ABANDON pfnAbandon, bool bOpening) {
    DWORD dwStart = GetTickCount();
    for (;;) {
        EnterCriticalSection(&direction.cs);
        if (!(bOpen && bClosing)) return true;
        if (bOpening) direction.bDropReturns = true;
        DWORD dwWaited = GetTickCount() - dwStart;
        if (dwWaited >= dwTimeout || GetCurrentThreadId() == g_dwWaveThreadId) {
            pfnAbandon();
            return false;
        }
        LeaveCriticalSection(&direction.cs);
        WaitForSingleObject(direction.hClosed, dwTimeout - dwWaited);
    }
}

MMRESULT OpenDirection(WaveDirection &direction, volatile BYTE &bOpen, volatile BYTE &bClosing, PFN_ABANDON pfnAbandon,
                       PFN_DEVICE_STEP pfnOpenDevice) {
    if (g_dwWaveThreadId == 0) StartWaveMsgThread();
    EnterWhenNotClosing(direction, bOpen, bClosing, D_dwCloseWaitTimeout, pfnAbandon, true);
    MMRESULT nResult = MMSYSERR_NOERROR;
    if (!bOpen) {
        CloseRetiredAgain(direction.bInput);
        nResult = pfnOpenDevice();
    }
    LeaveCriticalSection(&direction.cs);
    return nResult;
}

void StopDirection(WaveDirection &direction, volatile BYTE &bOpen, volatile BYTE &bClosing, PFN_ABANDON pfnAbandon,
                   PFN_DEVICE_STEP pfnReset, void (*pfnCloseWhenDrained)()) {
    CBoundedScope lock(direction.cs, DirectionName(direction));
    if (!lock.Held() || !bOpen) return;
    if (WaveClosesHandedOff()) {
        // No wave call here, and nobody left to handle what a reset returns:
        // the device's reset and close go to a thread of their own.
        pfnAbandon();
        return;
    }
    if (bClosing) return;
    ResetEvent(direction.hClosed);
    // Closing from now on, also when the close is made right here: output
    // writes are refused and an open waits until the close notification.
    bClosing = 1;
    if (pfnReset() != MMSYSERR_NOERROR) {
        // What the device holds may never come back: nothing to wait for.
        pfnAbandon();
        return;
    }
    pfnCloseWhenDrained();
}

void MarkOpened(WaveDirection &direction, volatile BYTE &bOpen, volatile BYTE &bClosing) {
    ResetEvent(direction.hClosed);
    direction.bOpenNoticed = false;
    direction.bCloseIssued = false;
    direction.bDropReturns = false;
    bClosing = 0;
    bOpen = 1;
}

void MarkClosed(WaveDirection &direction, volatile BYTE &bOpen, volatile BYTE &bClosing) {
    direction.bCloseIssued = false;
    bClosing = 0;
    bOpen = 0;
    SetEvent(direction.hClosed);
}

WaveOwed OwedNotices(const WaveDirection &direction, bool bClosed) {
    return WaveOwed{!direction.bOpenNoticed, bClosed};
}

void AbandonOpenWaveDevices() {
    {
        CBoundedScope lock(g_In.cs, DirectionName(g_In));
        if (lock.Held() && g_bWaveInOpen) AbandonWaveIn();
    }
    CBoundedScope lock(g_Out.cs, DirectionName(g_Out));
    if (lock.Held() && g_bWaveOutOpen) AbandonWaveOut();
}

void HandleWaveMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    WAVEHDR *pHdr = reinterpret_cast<WAVEHDR *>(lParam);
    switch (uMsg) {
    case MM_WOM_OPEN:
        OnOpenNotification(g_Out, false, reinterpret_cast<HWAVEOUT>(wParam), g_hWaveOut, g_bWaveOutOpen);
        break;
    case MM_WOM_CLOSE:
        OnCloseNotification(g_Out, false, reinterpret_cast<HWAVEOUT>(wParam), g_hWaveOut, g_bWaveOutOpen);
        break;
    case MM_WOM_DONE:
        if (pHdr) OnOutputDone(reinterpret_cast<HWAVEOUT>(wParam), pHdr);
        break;
    case MM_WIM_OPEN:
        // The number of buffers to await was set when they were queued.
        OnOpenNotification(g_In, true, reinterpret_cast<HWAVEIN>(wParam), g_hWaveIn, g_bWaveInOpen);
        break;
    case MM_WIM_CLOSE:
        OnCloseNotification(g_In, true, reinterpret_cast<HWAVEIN>(wParam), g_hWaveIn, g_bWaveInOpen);
        break;
    case MM_WIM_DATA:
        if (pHdr) OnInputData(reinterpret_cast<HWAVEIN>(wParam), pHdr);
        break;
    default:
        break;
    }
}
