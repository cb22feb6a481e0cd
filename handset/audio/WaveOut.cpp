// The handset's wave output: blocks copied from the player and queued, each
// returned block handed to the player's sink and freed, the close after the
// last block a stop returns, and the output abandoned when it stops
// answering. Threads and locks: see waveinout.cpp.
//
// The blocks the device holds are chained through their headers' dwUser, so
// that a device abandoned with blocks still queued leaves them to
// WaveRetired.h rather than to the heap.
#include <cstring>

#include "audio/WaveClose.h"
#include "audio/WaveDirection.h"
#include "audio/WaveRetired.h"
#include "audio/waveinout.h"
#include "platform/wave_api.h"
#include "support/ScopedLock.h"
#include "audio/WaveMsgThread.h"

HWAVEOUT g_hWaveOut = nullptr;
volatile BYTE g_bWaveOutOpen = 0;
volatile BYTE g_bWaveOutClosing = 0;
volatile LONG g_nWaveOutQueued = 0;

namespace {

// Under the output lock: the blocks the open output holds.
WAVEHDR *g_pOutBlocks = nullptr;

void *LockedGlobalBlock(SIZE_T nBytes) {
    HGLOBAL hBlock = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, nBytes);
    void *pBlock = hBlock ? GlobalLock(hBlock) : nullptr;
    if (hBlock && !pBlock) GlobalFree(hBlock);
    return pBlock;
}

// A header and a copy of the bytes, both from the global heap, or null.
WAVEHDR *NewOutputBlock(const char *pBytes, int nLength) {
    WAVEHDR *pHdr = static_cast<WAVEHDR *>(LockedGlobalBlock(sizeof(WAVEHDR)));
    if (!pHdr) return nullptr;
    memset(pHdr, 0, sizeof(WAVEHDR));
    pHdr->lpData = static_cast<char *>(LockedGlobalBlock(static_cast<SIZE_T>(nLength)));
    if (!pHdr->lpData) {
        FreeOutputBlock(pHdr);
        return nullptr;
    }
    memcpy(pHdr->lpData, pBytes, static_cast<size_t>(nLength));
    pHdr->dwBufferLength = static_cast<DWORD>(nLength);
    pHdr->dwFlags = 0;
    return pHdr;
}

// Under the output lock.
void QueueOutputBlock(WAVEHDR *pHdr) {
    g_Wave.waveOutPrepareHeader(g_hWaveOut, pHdr, sizeof(WAVEHDR));
    pHdr->dwUser = reinterpret_cast<DWORD_PTR>(g_pOutBlocks);
    g_pOutBlocks = pHdr;
    InterlockedIncrement(&g_nWaveOutQueued);
    if (g_Wave.waveOutWrite(g_hWaveOut, pHdr, sizeof(WAVEHDR)) == MMSYSERR_NOERROR) return;
    // Refused: never the device's, so it is neither counted nor kept.
    UnlinkOutputBlock(g_pOutBlocks, pHdr);
    InterlockedDecrement(&g_nWaveOutQueued);
    g_Wave.waveOutUnprepareHeader(g_hWaveOut, pHdr, sizeof(WAVEHDR));
    FreeOutputBlock(pHdr);
}

// Under the output lock: the close follows the last block returned.
void CloseOutputWhenDrained() {
    if (!g_bWaveOutClosing || g_Out.bCloseIssued || g_nWaveOutQueued > 0) return;
    if (CloseWaveDevice(false, g_hWaveOut) == MMSYSERR_NOERROR) {
        CloseIssued(g_Out, g_hWaveOut, g_bWaveOutOpen, g_bWaveOutClosing);
    } else {
        AbandonWaveOut();
    }
}

}  // namespace

void OnOutputDone(HWAVEOUT hwo, WAVEHDR *pHdr) {
    bool bDeliver = false;
    {
        CScopedLock lock(g_Out.cs);
        if (hwo != g_hWaveOut || !UnlinkOutputBlock(g_pOutBlocks, pHdr)) {
            TakeRetiredOutputDone(pHdr);
            return;
        }
        // Unprepared before it stops being counted, so a close decided on
        // the count never finds the device still holding a prepared block.
        g_Wave.waveOutUnprepareHeader(hwo, pHdr, sizeof(WAVEHDR));
        InterlockedDecrement(&g_nWaveOutQueued);
        bDeliver = !g_Out.bDropReturns;
    }
    if (bDeliver && g_pfnWaveOutDone) g_pfnWaveOutDone(pHdr->lpData, static_cast<int>(pHdr->dwBufferLength));
    FreeOutputBlock(pHdr);
    CScopedLock lock(g_Out.cs);
    if (hwo == g_hWaveOut) CloseOutputWhenDrained();
}

void AbandonWaveOut() {
    bool bClosed = g_Out.bCloseIssued || CloseWaveDevice(false, g_hWaveOut) == MMSYSERR_NOERROR;
    RetireWaveOut(g_hWaveOut, OwedNotices(g_Out, bClosed), g_pOutBlocks);
    g_pOutBlocks = nullptr;
    InterlockedExchange(&g_nWaveOutQueued, 0);
    g_hWaveOut = nullptr;
    MarkClosed(g_Out, g_bWaveOutOpen, g_bWaveOutClosing);
}

MMRESULT OpenWaveOut() {
    return OpenDirection(g_Out, g_bWaveOutOpen, g_bWaveOutClosing, AbandonWaveOut, [] {
        HWAVEOUT hwo = nullptr;
        MMRESULT nResult = OpenHandsetDevice(g_nWaveOutDevice, g_Wave.waveOutGetNumDevs, g_Wave.waveOutGetDevCapsA,
                                             g_Wave.waveOutOpen, &hwo);
        if (nResult == MMSYSERR_NOERROR) {
            g_hWaveOut = hwo;
            MarkOpened(g_Out, g_bWaveOutOpen, g_bWaveOutClosing);
        }
        return nResult;
    });
}

void StopWaveOut() {
    StopDirection(g_Out, g_bWaveOutOpen, g_bWaveOutClosing, AbandonWaveOut,
                  [] { return g_Wave.waveOutReset(g_hWaveOut); }, CloseOutputWhenDrained);
}

int WriteWaveOut(const char *pBytes, int nLength) {
    if (!pBytes || nLength <= 0) return -1;
    CScopedLock lock(g_Out.cs);
    if (!g_bWaveOutOpen || g_bWaveOutClosing) return -1;
    WAVEHDR *pHdr = NewOutputBlock(pBytes, nLength);
    if (!pHdr) return -1;
    QueueOutputBlock(pHdr);
    return 0;
}
