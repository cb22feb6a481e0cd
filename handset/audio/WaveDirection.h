// The state and the steps that the wave input (WaveIn.cpp) and the wave
// output (WaveOut.cpp) share: each direction's lock and close event, waiting
// for a close, and the notifications of opening and closing. Internal to the
// wave device module (waveinout.h); see waveinout.cpp for the locking rules.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include "audio/HandsetWaveName.h"
#include "audio/WaveClose.h"
#include "audio/WaveRetired.h"
#include "audio/WaveMsgThread.h"

// One direction's lock over its flags, its handle and its close decision,
// and an event signalled while the device is closed (reset when a close
// begins, set by the close notification or when the device is abandoned).
struct WaveDirection {
    bool bInput;
    CRITICAL_SECTION cs;
    HANDLE hClosed;
    // The open device's open notification has been handled.
    bool bOpenNoticed;
    // A close call succeeded since the last open: its notification is due.
    bool bCloseIssued;
    // An open is waiting for this direction's close: what the closing device
    // still returns belongs to no job and is not handed to the sink.
    bool bDropReturns;
};
extern WaveDirection g_In, g_Out;

typedef void (*PFN_ABANDON)();
typedef MMRESULT (*PFN_DEVICE_STEP)();

WAVEFORMATEX DeviceFormat();
// "wave input" or "wave output", for log lines.
const char *DirectionName(const WaveDirection &direction);

// Searches the direction's devices for the handset (nDevice keeps the id
// found before, or WAVE_MAPPER, when none has its name) and opens that
// device in the device format, its notifications going to the wave message
// thread.
template <class CAPS, class HWAVE>
MMRESULT OpenHandsetDevice(UINT &nDevice, UINT(WINAPI *pfnGetNumDevs)(),
                           MMRESULT(WINAPI *pfnGetDevCaps)(UINT_PTR, CAPS *, UINT),
                           MMRESULT(WINAPI *pfnOpen)(HWAVE *, UINT, LPCWAVEFORMATEX, DWORD_PTR, DWORD_PTR, DWORD),
                           HWAVE *phWave) {
    CHandsetWaveChoice choice;
    UINT nDevices = pfnGetNumDevs();
    for (UINT nId = 0; nId < nDevices; ++nId) {
        CAPS caps = {};
        if (pfnGetDevCaps(nId, &caps, sizeof(caps)) == MMSYSERR_NOERROR) choice.Offer(nId, caps.szPname);
    }
    if (choice.Found()) nDevice = choice.Id();
    WAVEFORMATEX format = DeviceFormat();
    *phWave = nullptr;
    return pfnOpen(phWave, nDevice, &format, g_dwWaveThreadId, 0, CALLBACK_THREAD);
}

// Enters the direction's lock once it is not closing. Waits at most
// dwTimeout for its close notification, and not at all on the wave message
// thread, which is the one to handle it; then abandons the device with
// pfnAbandon, under the lock. bOpening: the caller opens the direction, so
// what the closing device still returns belongs to no job. False when the
// device had to be abandoned.
bool EnterWhenNotClosing(WaveDirection &direction, volatile BYTE &bOpen, volatile BYTE &bClosing, DWORD dwTimeout,
                         PFN_ABANDON pfnAbandon, bool bOpening);
// The open and the stop of a direction. Open: unless the direction is open,
// waits for a closing device (abandoning it after D_dwCloseWaitTimeout),
// closes retired devices whose close failed, then pfnOpenDevice searches and
// opens under the lock. Stop: marks the direction closing and resets it
// (pfnReset); a failed reset abandons the device, else pfnCloseWhenDrained
// closes it once nothing is left with it.
MMRESULT OpenDirection(WaveDirection &direction, volatile BYTE &bOpen, volatile BYTE &bClosing, PFN_ABANDON pfnAbandon,
                       PFN_DEVICE_STEP pfnOpenDevice);
void StopDirection(WaveDirection &direction, volatile BYTE &bOpen, volatile BYTE &bClosing, PFN_ABANDON pfnAbandon,
                   PFN_DEVICE_STEP pfnReset, void (*pfnCloseWhenDrained)());

// Under the lock.
void MarkOpened(WaveDirection &direction, volatile BYTE &bOpen, volatile BYTE &bClosing);
void MarkClosed(WaveDirection &direction, volatile BYTE &bOpen, volatile BYTE &bClosing);
// Under the lock, after the device's close call succeeded: its notification
// is due, or, for a close handed off (WaveClose.h), will find nobody to
// handle it, so the direction is closed at once.
template <class HWAVE>
void CloseIssued(WaveDirection &direction, HWAVE &hCurrent, volatile BYTE &bOpen, volatile BYTE &bClosing) {
    direction.bCloseIssued = true;
    if (!WaveClosesHandedOff()) return;
    hCurrent = nullptr;
    MarkClosed(direction, bOpen, bClosing);
}
// Under the lock, before MarkClosed: the notifications an abandoned device
// still owes, bClosed telling whether its close call succeeded.
WaveOwed OwedNotices(const WaveDirection &direction, bool bClosed);

// Under the direction's lock: forget the device that does not answer (see
// WaveRetired.h); the direction is closed afterwards.
void AbandonWaveIn();
void AbandonWaveOut();
// The wave message thread's handling of returned buffers and blocks.
void OnInputData(HWAVEIN hwi, WAVEHDR *pHdr);
void OnOutputDone(HWAVEOUT hwo, WAVEHDR *pHdr);
