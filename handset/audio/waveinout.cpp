// The handset's wave devices: see waveinout.h. The input lives in
// WaveIn.cpp, the output in WaveOut.cpp; here are the module's format and
// sinks, the steps both directions share (WaveDirection.h) and the dispatch
// of the wave message thread's notifications.
//
// Threads: host threads open, stop and write (through the player and the
// recorder); the wave message thread runs HandleWaveMessage for every device
// notification and, from inside the sinks, writes refills and stops the
// output at the end of a playback.
//
// Guarding: each direction has one lock over its flags, its
// handle, what the device holds and its close decision, held only across
// calls that return at once (the wave API posts its notifications, it never
// waits for our thread). The sinks are called without it: they take the
// player's and recorder's own exclusion, which a host thread may hold while
// it calls a stop here. So the order is job lock, direction lock, then the
// lock of the retired devices (WaveRetired.h). What a device holds is
// counted atomically, raised before the device gets a buffer or block, so
// the close decided on the count never comes while the device still holds
// one.
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

#include "audio/HandsetWaveName.h"
#include "audio/WaveClose.h"
#include "audio/WaveDirection.h"
#include "audio/WaveMsgThread.h"
#include "platform/wave_api.h"

int g_nChannels = 1;
int g_nSamplesPerSec = 8000;
int g_nBitsPerSample = 16;
int g_nBlockAlign = g_nChannels * g_nBitsPerSample / 8;
int g_nAvgBytesPerSec = g_nSamplesPerSec * g_nBlockAlign;

PFN_WAVE_SINK g_pfnWaveInData = nullptr;
PFN_WAVE_SINK g_pfnWaveOutDone = nullptr;

WAVEFORMATEX DeviceFormat() {
    g_nBlockAlign = g_nChannels * g_nBitsPerSample / 8;
    g_nAvgBytesPerSec = g_nSamplesPerSec * g_nBlockAlign;
    return WAVEFORMATEX{WAVE_FORMAT_PCM,
                        static_cast<WORD>(g_nChannels),
                        static_cast<DWORD>(g_nSamplesPerSec),
                        static_cast<DWORD>(g_nAvgBytesPerSec),
                        static_cast<WORD>(g_nBlockAlign),
                        static_cast<WORD>(g_nBitsPerSample),
                        0};
}

int SilenceByte() { return g_nBlockAlign == 1 ? 0x80 : 0x00; }

namespace {

// Searches the direction's devices for the handset (nDevice keeps the id
// found before when none has its name) and opens it in the device format.
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

MMRESULT OpenDevice(UINT &nDevice, HWAVEIN *phwi) {
    return OpenHandsetDevice(nDevice, g_Wave.waveInGetNumDevs, g_Wave.waveInGetDevCapsA, g_Wave.waveInOpen, phwi);
}

MMRESULT OpenDevice(UINT &nDevice, HWAVEOUT *phwo) {
    return OpenHandsetDevice(nDevice, g_Wave.waveOutGetNumDevs, g_Wave.waveOutGetDevCapsA, g_Wave.waveOutOpen, phwo);
}

MMRESULT ResetDevice(HWAVEIN hwi) { return g_Wave.waveInReset(hwi); }
MMRESULT ResetDevice(HWAVEOUT hwo) { return g_Wave.waveOutReset(hwo); }

}  // namespace

template <class HWAVE>
MMRESULT CWaveDirection<HWAVE>::Open() {
    if (g_dwWaveThreadId == 0) StartWaveMsgThread();
    const CDeadline lockWait(D_dwWaveLockBoundMs);
    MMRESULT nResult = MMSYSERR_ERROR;
    WhenNotClosing(CDeadline(D_dwCloseWaitTimeout), lockWait, true, [&](bool) { nResult = OpenHere(lockWait); });
    return nResult;
}

template <class HWAVE>
MMRESULT CWaveDirection<HWAVE>::OpenHere(const CDeadline &deadline) {
    if (m_bOpen) return MMSYSERR_NOERROR;
    CloseRetiredAgain(D_bInput, deadline);
    HWAVE hWave = nullptr;
    MMRESULT nResult = OpenDevice(m_nDevice, &hWave);
    if (nResult != MMSYSERR_NOERROR) return nResult;
    m_hDevice = hWave;
    MarkOpened();
    return Start(deadline);
}

template <class HWAVE>
void CWaveDirection<HWAVE>::Stop(const CDeadline &deadline) {
    CLockGuard lock(m_lock, deadline.ForOneLock(), Name());
    if (!lock.Held() || !m_bOpen) return;
    if (WaveClosesHandedOff()) {
        // No wave call here, and nobody left to handle what a reset returns:
        // the device's reset and close go to a thread of their own.
        Abandon(deadline);
        return;
    }
    if (m_bClosing) return;
    ResetEvent(m_hClosed);
    // Closing from now on, also when the close is made right here: output
    // writes are refused and an open waits until the close notification.
    m_bClosing = 1;
    if (ResetDevice(m_hDevice) != MMSYSERR_NOERROR) {
        // What the device holds may never come back: nothing to wait for.
        Abandon(deadline);
        return;
    }
    CloseWhenDrained(deadline);
}

template <class HWAVE>
void CWaveDirection<HWAVE>::AbandonIfOpen(const CDeadline &deadline) {
    CLockGuard lock(m_lock, deadline.ForOneLock(), Name());
    if (lock.Held() && m_bOpen) Abandon(deadline);
}

// Notifications of a device that is no longer ours change nothing. A
// retired device's are looked for first, under the direction's lock, so that
// an abandonment cannot come between the two looks: Windows may already have
// given the retired device's handle value to the device opened since.
template <class HWAVE>
void CWaveDirection<HWAVE>::OnMessage(UINT uMsg, HWAVE hNotified, WAVEHDR *pHdr) {
    if (uMsg == (D_bInput ? MM_WIM_OPEN : MM_WOM_OPEN)) {
        OnOpenNotice(hNotified);
    } else if (uMsg == (D_bInput ? MM_WIM_CLOSE : MM_WOM_CLOSE)) {
        OnCloseNotice(hNotified);
    } else if (uMsg == (D_bInput ? MM_WIM_DATA : MM_WOM_DONE) && pHdr) {
        OnReturned(hNotified, pHdr);
    }
}

template <class HWAVE>
void CWaveDirection<HWAVE>::OnOpenNotice(HWAVE hNotified) {
    CLockGuard lock(m_lock, CDeadline(D_dwWaveLockBoundMs));
    if (!lock.Held() || TakeRetiredOpen(D_bInput, hNotified) || hNotified != m_hDevice) return;
    m_bOpen = 1;
    m_bOpenNoticed = true;
}

template <class HWAVE>
void CWaveDirection<HWAVE>::OnCloseNotice(HWAVE hNotified) {
    CLockGuard lock(m_lock, CDeadline(D_dwWaveLockBoundMs));
    if (!lock.Held() || TakeRetiredClose(D_bInput, hNotified) || hNotified != m_hDevice) return;
    m_hDevice = nullptr;
    m_bOpen = 0;
    m_bCloseIssued = false;
    SetEvent(m_hClosed);
}

template <class HWAVE>
void CWaveDirection<HWAVE>::OnReturned(HWAVE hNotified, WAVEHDR *pHdr) {
    bool bDeliver = false;
    {
        CLockGuard lock(m_lock, CDeadline(D_dwWaveLockBoundMs));
        if (!lock.Held()) return;
        if (!TakeBack(hNotified, pHdr)) {
            D_bInput ? TakeRetiredInputData(pHdr) : TakeRetiredOutputDone(pHdr);
            return;
        }
        bDeliver = !m_bDropReturns;
    }
    HandBack(hNotified, pHdr, bDeliver);
}

template <class HWAVE>
void CWaveDirection<HWAVE>::CloseWhenDrained(const CDeadline &deadline) {
    if (!m_bClosing || m_bCloseIssued || m_nHeld > 0) return;
    if (CloseWaveDevice(D_bInput, m_hDevice) != MMSYSERR_NOERROR) {
        Abandon(deadline);
        return;
    }
    FreeHeld();
    CloseIssued();
}

template <class HWAVE>
void CWaveDirection<HWAVE>::Abandon(const CDeadline &deadline) {
    bool bClosed = m_bCloseIssued || CloseWaveDevice(D_bInput, m_hDevice) == MMSYSERR_NOERROR;
    RetireHeld(WaveOwed{!m_bOpenNoticed, bClosed}, deadline);
    m_nHeld = 0;
    m_hDevice = nullptr;
    MarkClosed();
}

template <class HWAVE>
void CWaveDirection<HWAVE>::MarkOpened() {
    ResetEvent(m_hClosed);
    m_bOpenNoticed = false;
    m_bCloseIssued = false;
    m_bDropReturns = false;
    m_nHeld = 0;
    m_bClosing = 0;
    m_bOpen = 1;
}

template <class HWAVE>
void CWaveDirection<HWAVE>::MarkClosed() {
    m_bCloseIssued = false;
    m_bClosing = 0;
    m_bOpen = 0;
    SetEvent(m_hClosed);
}

// After the device's close call succeeded: its notification is due, or, for
// a close handed off (WaveClose.h), will find nobody to handle it, so the
// direction is closed at once.
template <class HWAVE>
void CWaveDirection<HWAVE>::CloseIssued() {
    m_bCloseIssued = true;
    if (!WaveClosesHandedOff()) return;
    m_hDevice = nullptr;
    MarkClosed();
}

template class CWaveDirection<HWAVEIN>;
template class CWaveDirection<HWAVEOUT>;

void AbandonOpenWaveDevices(const CDeadline &deadline) {
    g_WaveIn.AbandonIfOpen(deadline);
    g_WaveOut.AbandonIfOpen(deadline);
}

void HandleWaveMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    WAVEHDR *pHdr = reinterpret_cast<WAVEHDR *>(lParam);
    g_WaveIn.OnMessage(uMsg, reinterpret_cast<HWAVEIN>(wParam), pHdr);
    g_WaveOut.OnMessage(uMsg, reinterpret_cast<HWAVEOUT>(wParam), pHdr);
}
