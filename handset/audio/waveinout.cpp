// The handset's wave devices: see waveinout.h.
//
// Threads: host threads open, stop and write (through the player and the
// recorder); the wave message thread runs HandleWaveMessage for every device
// notification and, from inside the sinks, writes refills and stops the
// output at the end of a playback.
//
// Guarding: each direction has one critical section over its flags, its
// handle and its close decision, held only across calls that return at once
// (the wave API posts its notifications, it never waits for our thread).
// The sinks are called without it: they take the player's and recorder's
// own exclusion, which a host thread may hold while it calls a stop here.
// The output count changes only by interlocked operations; it is raised
// before a block is handed to the device, so the close decided on it never
// comes while the device still holds a block.
//
// Open flags are set on a successful open call as well as by the open
// notification: the player writes its first blocks right after the open, and
// a second open during that window finds the direction open. A direction is
// closing from its stop until its close notification; an open in that time
// waits for the notification (bounded) and then opens the device afresh.
#include "audio/waveinout.h"

#include <cassert>
#include <cstring>
#include <initializer_list>

#include "platform/wave_api.h"
#include "support/WaveMsgThread.h"

const char D_szHandsetWaveName[] = "C-Media USB Headphone Set  ";

int g_nChannels = 1;
int g_nSamplesPerSec = 8000;
int g_nBitsPerSample = 16;
int g_nBlockAlign = g_nChannels * g_nBitsPerSample / 8;
int g_nAvgBytesPerSec = g_nSamplesPerSec * g_nBlockAlign;

UINT g_nWaveInDevice = WAVE_MAPPER;
UINT g_nWaveOutDevice = WAVE_MAPPER;

HWAVEIN g_hWaveIn = nullptr;
volatile BYTE g_bWaveInOpen = 0;
volatile BYTE g_bWaveInStopping = 0;
volatile int g_nWaveInPending = 0;
int g_nInWaveBufSize = 0;
WAVEHDR g_InWaveHdr[D_nInWaveBufCount];
char g_InWaveBuf[D_nInWaveBufCount * D_nInWaveBufMaxSize];

HWAVEOUT g_hWaveOut = nullptr;
volatile BYTE g_bWaveOutOpen = 0;
volatile BYTE g_bWaveOutClosing = 0;
volatile LONG g_nWaveOutQueued = 0;

PFN_WAVE_SINK g_pfnWaveInData = nullptr;
PFN_WAVE_SINK g_pfnWaveOutDone = nullptr;

namespace {

const int D_nSamplesPerInBuf = 640;  // 80 ms at 8000 Hz
const DWORD D_dwCloseWaitTimeout = 1000;

// Per direction: the lock, an event signalled while the device is closed
// (reset when a close begins, set by the close notification), and whether
// the close call has been made since the last open.
struct WaveDirection {
    CRITICAL_SECTION cs;
    HANDLE hClosed;
    bool bCloseIssued;
};
WaveDirection g_In, g_Out;

// Constructed before any export can run, so the first open finds them ready.
struct WaveDirectionsInit {
    WaveDirectionsInit() {
        for (WaveDirection *p : {&g_In, &g_Out}) {
            InitializeCriticalSection(&p->cs);
            p->hClosed = CreateEventA(nullptr, TRUE, TRUE, nullptr);
            p->bCloseIssued = false;
        }
    }
    ~WaveDirectionsInit() {
        for (WaveDirection *p : {&g_In, &g_Out}) {
            if (p->hClosed) CloseHandle(p->hClosed);
            DeleteCriticalSection(&p->cs);
        }
    }
} g_WaveDirectionsInit;

class CDirectionLock {
public:
    explicit CDirectionLock(WaveDirection &direction) : m_cs(direction.cs) { EnterCriticalSection(&m_cs); }
    ~CDirectionLock() { LeaveCriticalSection(&m_cs); }

private:
    CRITICAL_SECTION &m_cs;
};

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

// The first device of the direction whose product name is the handset's;
// without one the id found before (or WAVE_MAPPER) stays.
template <class CAPS>
UINT FindHandsetDevice(UINT nDevices, MMRESULT(WINAPI *pfnGetDevCaps)(UINT_PTR, CAPS *, UINT), UINT nStored) {
    for (UINT nId = 0; nId < nDevices; ++nId) {
        CAPS caps = {};
        if (pfnGetDevCaps(nId, &caps, sizeof(caps)) != MMSYSERR_NOERROR) continue;
        // szPname need not be terminated; a longer name differs within it.
        if (strncmp(caps.szPname, D_szHandsetWaveName, MAXPNAMELEN) == 0) return nId;
    }
    return nStored;
}

// Enters the direction's lock once it is not closing. Waits at most
// dwTimeout for its close notification, and not at all on the wave message
// thread, which is the one to handle it. False, without the lock, when the
// direction stays closing.
bool EnterWhenNotClosing(WaveDirection &direction, volatile BYTE &bOpen, volatile BYTE &bClosing,
                         DWORD dwTimeout = D_dwCloseWaitTimeout) {
    DWORD dwStart = GetTickCount();
    for (;;) {
        EnterCriticalSection(&direction.cs);
        if (!(bOpen && bClosing)) return true;
        LeaveCriticalSection(&direction.cs);
        DWORD dwWaited = GetTickCount() - dwStart;
        if (dwWaited >= dwTimeout || GetCurrentThreadId() == g_dwWaveThreadId) return false;
        WaitForSingleObject(direction.hClosed, dwTimeout - dwWaited);
    }
}

void MarkOpened(WaveDirection &direction, volatile BYTE &bOpen, volatile BYTE &bClosing) {
    ResetEvent(direction.hClosed);
    direction.bCloseIssued = false;
    bClosing = 0;
    bOpen = 1;
}

// Notifications of a device that is no longer ours change nothing.
template <class HWAVE>
void OnOpenNotification(WaveDirection &direction, HWAVE hNotified, const HWAVE &hCurrent, volatile BYTE &bOpen) {
    CDirectionLock lock(direction);
    if (hNotified == hCurrent) bOpen = 1;
}

template <class HWAVE>
void OnCloseNotification(WaveDirection &direction, HWAVE hNotified, HWAVE &hCurrent, volatile BYTE &bOpen) {
    CDirectionLock lock(direction);
    if (hNotified != hCurrent) return;
    hCurrent = nullptr;
    bOpen = 0;
    SetEvent(direction.hClosed);
}

// --- input ---------------------------------------------------------------

void QueueInputBuffers(HWAVEIN hwi) {
    memset(g_InWaveHdr, 0, sizeof(g_InWaveHdr));
    memset(g_InWaveBuf, 0, sizeof(g_InWaveBuf));
    g_nInWaveBufSize = (g_nBitsPerSample / 8) * D_nSamplesPerInBuf;
    assert(g_nInWaveBufSize <= D_nInWaveBufMaxSize);
    int nQueued = 0;
    for (int nSlot = 0; nSlot < D_nInWaveBufCount; ++nSlot) {
        WAVEHDR &hdr = g_InWaveHdr[nSlot];
        hdr.lpData = g_InWaveBuf + nSlot * D_nInWaveBufMaxSize;
        hdr.dwBufferLength = static_cast<DWORD>(g_nInWaveBufSize);
        hdr.dwFlags = 0;
        g_Wave.waveInPrepareHeader(hwi, &hdr, sizeof(WAVEHDR));
        if (g_Wave.waveInAddBuffer(hwi, &hdr, sizeof(WAVEHDR)) == MMSYSERR_NOERROR) {
            ++nQueued;
        } else {
            g_Wave.waveInUnprepareHeader(hwi, &hdr, sizeof(WAVEHDR));
        }
    }
    // Only buffers the device took come back, so only they are awaited.
    g_nWaveInPending = nQueued;
}

// Under the input lock: the close follows the last buffer retired.
void CloseInputWhenDrained() {
    if (g_bWaveInStopping && !g_In.bCloseIssued && g_nWaveInPending <= 0) {
        g_In.bCloseIssued = true;
        g_Wave.waveInClose(g_hWaveIn);
    }
}

void DeliverInputBuffer(WAVEHDR *pHdr) {
    DWORD dwSize = static_cast<DWORD>(g_nInWaveBufSize);
    if (pHdr->dwBytesRecorded < dwSize) {
        // Unsigned 8-bit samples are silent at their midpoint.
        int nSilence = (g_nBlockAlign == 1) ? 0x80 : 0x00;
        memset(pHdr->lpData + pHdr->dwBytesRecorded, nSilence, dwSize - pHdr->dwBytesRecorded);
    }
    pHdr->dwBytesRecorded = dwSize;
    if (g_pfnWaveInData) g_pfnWaveInData(pHdr->lpData, g_nInWaveBufSize);
}

void OnInputData(HWAVEIN hwi, WAVEHDR *pHdr) {
    if (pHdr->dwBytesRecorded > 0) DeliverInputBuffer(pHdr);
    CDirectionLock lock(g_In);
    if (!g_bWaveInStopping) {
        pHdr->dwBufferLength = static_cast<DWORD>(g_nInWaveBufSize);
        pHdr->dwBytesRecorded = 0;
        if (g_Wave.waveInAddBuffer(hwi, pHdr, sizeof(WAVEHDR)) == MMSYSERR_NOERROR) return;
        // A buffer the device refused will not come back to be retired.
    }
    g_Wave.waveInUnprepareHeader(hwi, pHdr, sizeof(WAVEHDR));
    --g_nWaveInPending;
    CloseInputWhenDrained();
}

// --- output --------------------------------------------------------------

void FreeGlobalBlock(void *pBlock) {
    if (!pBlock) return;
    HGLOBAL hBlock = GlobalHandle(pBlock);
    GlobalUnlock(hBlock);
    GlobalFree(hBlock);
}

void *LockedGlobalBlock(SIZE_T nBytes) {
    HGLOBAL hBlock = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, nBytes);
    void *pBlock = hBlock ? GlobalLock(hBlock) : nullptr;
    if (hBlock && !pBlock) GlobalFree(hBlock);
    return pBlock;
}

void FreeOutputBlock(WAVEHDR *pHdr) {
    FreeGlobalBlock(pHdr->lpData);
    FreeGlobalBlock(pHdr);
}

// A header and a copy of the bytes, both from the global heap, or null.
WAVEHDR *NewOutputBlock(const char *pBytes, int nLength) {
    WAVEHDR *pHdr = static_cast<WAVEHDR *>(LockedGlobalBlock(sizeof(WAVEHDR)));
    char *pData = static_cast<char *>(LockedGlobalBlock(static_cast<SIZE_T>(nLength)));
    if (!pHdr || !pData) {
        FreeGlobalBlock(pData);
        FreeGlobalBlock(pHdr);
        return nullptr;
    }
    memset(pHdr, 0, sizeof(WAVEHDR));
    memcpy(pData, pBytes, static_cast<size_t>(nLength));
    pHdr->lpData = pData;
    pHdr->dwBufferLength = static_cast<DWORD>(nLength);
    pHdr->dwFlags = 0;
    return pHdr;
}

// Under the output lock.
void QueueOutputBlock(WAVEHDR *pHdr) {
    g_Wave.waveOutPrepareHeader(g_hWaveOut, pHdr, sizeof(WAVEHDR));
    InterlockedIncrement(&g_nWaveOutQueued);
    if (g_Wave.waveOutWrite(g_hWaveOut, pHdr, sizeof(WAVEHDR)) == MMSYSERR_NOERROR) return;
    // Refused: never the device's, so it is neither counted nor kept.
    InterlockedDecrement(&g_nWaveOutQueued);
    g_Wave.waveOutUnprepareHeader(g_hWaveOut, pHdr, sizeof(WAVEHDR));
    FreeOutputBlock(pHdr);
}

// Under the output lock: the close follows the last block returned.
void CloseOutputWhenDrained() {
    if (g_bWaveOutClosing && !g_Out.bCloseIssued && g_nWaveOutQueued <= 0) {
        g_Out.bCloseIssued = true;
        g_Wave.waveOutClose(g_hWaveOut);
    }
}

void OnOutputDone(HWAVEOUT hwo, WAVEHDR *pHdr) {
    // Unprepared before it stops being counted, so a close decided on the
    // count never finds the device still holding a prepared block.
    g_Wave.waveOutUnprepareHeader(hwo, pHdr, sizeof(WAVEHDR));
    InterlockedDecrement(&g_nWaveOutQueued);
    if (g_pfnWaveOutDone) g_pfnWaveOutDone(pHdr->lpData, static_cast<int>(pHdr->dwBufferLength));
    FreeOutputBlock(pHdr);
    CDirectionLock lock(g_Out);
    CloseOutputWhenDrained();
}

}  // namespace

MMRESULT OpenWaveIn() {
    if (g_dwWaveThreadId == 0) StartWaveMsgThread();
    if (!EnterWhenNotClosing(g_In, g_bWaveInOpen, g_bWaveInStopping)) return MMSYSERR_ALLOCATED;
    MMRESULT nResult = MMSYSERR_NOERROR;
    if (!g_bWaveInOpen) {
        g_nWaveInDevice = FindHandsetDevice(g_Wave.waveInGetNumDevs(), g_Wave.waveInGetDevCapsA, g_nWaveInDevice);
        WAVEFORMATEX format = DeviceFormat();
        HWAVEIN hwi = nullptr;
        nResult = g_Wave.waveInOpen(&hwi, g_nWaveInDevice, &format, g_dwWaveThreadId, 0, CALLBACK_THREAD);
        if (nResult == MMSYSERR_NOERROR) {
            g_hWaveIn = hwi;
            QueueInputBuffers(hwi);
            MarkOpened(g_In, g_bWaveInOpen, g_bWaveInStopping);
            g_Wave.waveInStart(hwi);
        }
    }
    LeaveCriticalSection(&g_In.cs);
    return nResult;
}

void StopWaveIn() {
    CDirectionLock lock(g_In);
    if (!g_bWaveInOpen || g_bWaveInStopping) return;
    ResetEvent(g_In.hClosed);
    g_bWaveInStopping = 1;
    g_Wave.waveInReset(g_hWaveIn);
    CloseInputWhenDrained();
}

MMRESULT OpenWaveOut() {
    if (g_dwWaveThreadId == 0) StartWaveMsgThread();
    if (!EnterWhenNotClosing(g_Out, g_bWaveOutOpen, g_bWaveOutClosing)) return MMSYSERR_ALLOCATED;
    MMRESULT nResult = MMSYSERR_NOERROR;
    if (!g_bWaveOutOpen) {
        g_nWaveOutDevice =
            FindHandsetDevice(g_Wave.waveOutGetNumDevs(), g_Wave.waveOutGetDevCapsA, g_nWaveOutDevice);
        WAVEFORMATEX format = DeviceFormat();
        HWAVEOUT hwo = nullptr;
        nResult = g_Wave.waveOutOpen(&hwo, g_nWaveOutDevice, &format, g_dwWaveThreadId, 0, CALLBACK_THREAD);
        if (nResult == MMSYSERR_NOERROR) {
            g_hWaveOut = hwo;
            MarkOpened(g_Out, g_bWaveOutOpen, g_bWaveOutClosing);
        }
    }
    LeaveCriticalSection(&g_Out.cs);
    return nResult;
}

void StopWaveOut() {
    CDirectionLock lock(g_Out);
    if (!g_bWaveOutOpen || g_bWaveOutClosing) return;
    ResetEvent(g_Out.hClosed);
    // Closing from now on, also when the close is made right here: writes
    // are refused and an open waits until the close notification.
    g_bWaveOutClosing = 1;
    g_Wave.waveOutReset(g_hWaveOut);
    CloseOutputWhenDrained();
}

int WriteWaveOut(const char *pBytes, int nLength) {
    if (!pBytes || nLength <= 0) return -1;
    CDirectionLock lock(g_Out);
    if (!g_bWaveOutOpen || g_bWaveOutClosing) return -1;
    WAVEHDR *pHdr = NewOutputBlock(pBytes, nLength);
    if (!pHdr) return -1;
    QueueOutputBlock(pHdr);
    return 0;
}

bool WaitWaveInClosed(DWORD dwTimeout) {
    if (!EnterWhenNotClosing(g_In, g_bWaveInOpen, g_bWaveInStopping, dwTimeout)) return false;
    LeaveCriticalSection(&g_In.cs);
    return true;
}

void HandleWaveMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    WAVEHDR *pHdr = reinterpret_cast<WAVEHDR *>(lParam);
    switch (uMsg) {
    case MM_WOM_OPEN:
        OnOpenNotification(g_Out, reinterpret_cast<HWAVEOUT>(wParam), g_hWaveOut, g_bWaveOutOpen);
        break;
    case MM_WOM_CLOSE:
        OnCloseNotification(g_Out, reinterpret_cast<HWAVEOUT>(wParam), g_hWaveOut, g_bWaveOutOpen);
        break;
    case MM_WOM_DONE:
        if (pHdr) OnOutputDone(reinterpret_cast<HWAVEOUT>(wParam), pHdr);
        break;
    case MM_WIM_OPEN:
        // The number of buffers to await was set when they were queued.
        OnOpenNotification(g_In, reinterpret_cast<HWAVEIN>(wParam), g_hWaveIn, g_bWaveInOpen);
        break;
    case MM_WIM_CLOSE:
        OnCloseNotification(g_In, reinterpret_cast<HWAVEIN>(wParam), g_hWaveIn, g_bWaveInOpen);
        break;
    case MM_WIM_DATA:
        if (pHdr) OnInputData(reinterpret_cast<HWAVEIN>(wParam), pHdr);
        break;
    default:
        break;
    }
}
