// The handset's wave input: four buffers circulating while a recording runs,
// each filled buffer handed to the recorder's sink whole (a partial last one
// padded with silence), the close after the last buffer a stop returns, and
// the input abandoned when it stops answering. Threads and locks: see
// waveinout.cpp.
//
// The buffers are a fresh block of heap memory for every open (WaveRetired.h
// says why). g_nWaveInPending counts the buffers not yet retired: those the
// device holds and the one the wave message thread may be handling.
#include <cassert>
#include <cstring>

#include "audio/WaveClose.h"
#include "audio/WaveDirection.h"
#include "audio/WaveRetired.h"
#include "audio/waveinout.h"
#include "platform/wave_api.h"
#include "support/ScopedLock.h"
#include "support/StopBound.h"
#include "audio/WaveMsgThread.h"

HWAVEIN g_hWaveIn = nullptr;
volatile BYTE g_bWaveInOpen = 0;
volatile BYTE g_bWaveInStopping = 0;
volatile int g_nWaveInPending = 0;
int g_nInWaveBufSize = 0;
WAVEHDR *g_InWaveHdr = nullptr;
char *g_InWaveBuf = nullptr;

namespace {

const int D_nSamplesPerInBuf = 640;  // 80 ms at 8000 Hz
WaveInBlock *g_pInBlock = nullptr;

// Under the input lock: the open input's buffers are those of pHdr.
bool IsCurrentBuffer(HWAVEIN hwi, const WAVEHDR *pHdr) {
    return g_pInBlock && hwi == g_hWaveIn && IsHeaderOf(pHdr, g_pInBlock);
}

void UseBlock(WaveInBlock *pBlock) {
    g_pInBlock = pBlock;
    g_InWaveHdr = pBlock ? pBlock->aHdr : nullptr;
    g_InWaveBuf = pBlock ? pBlock->aBuf : nullptr;
}

// 0 when the device took at least one buffer, else why it took none.
MMRESULT QueueInputBuffers(HWAVEIN hwi) {
    g_nInWaveBufSize = (g_nBitsPerSample / 8) * D_nSamplesPerInBuf;
    assert(g_nInWaveBufSize <= D_nInWaveBufMaxSize);
    int nQueued = 0;
    MMRESULT nRefusal = MMSYSERR_NOERROR;
    for (int nSlot = 0; nSlot < D_nInWaveBufCount; ++nSlot) {
        WAVEHDR &hdr = g_InWaveHdr[nSlot];
        hdr.lpData = g_InWaveBuf + nSlot * D_nInWaveBufMaxSize;
        hdr.dwBufferLength = static_cast<DWORD>(g_nInWaveBufSize);
        hdr.dwFlags = 0;
        g_Wave.waveInPrepareHeader(hwi, &hdr, sizeof(WAVEHDR));
        nRefusal = g_Wave.waveInAddBuffer(hwi, &hdr, sizeof(WAVEHDR));
        if (nRefusal == MMSYSERR_NOERROR) {
            ++nQueued;
        } else {
            g_Wave.waveInUnprepareHeader(hwi, &hdr, sizeof(WAVEHDR));
        }
    }
    // Only buffers the device took come back, so only they are awaited.
    g_nWaveInPending = nQueued;
    return nQueued > 0 ? MMSYSERR_NOERROR : nRefusal;
}

// Under the input lock, with the device opened as hwi: its buffers queued
// and capture started. An input that could take no buffer, or would not
// start, would record nothing: it is reset and abandoned, and the open fails.
MMRESULT StartCapture(HWAVEIN hwi) {
    g_hWaveIn = hwi;
    MarkOpened(g_In, g_bWaveInOpen, g_bWaveInStopping);
    g_nWaveInPending = 0;
    UseBlock(NewWaveInBlock());
    MMRESULT nResult = g_pInBlock ? QueueInputBuffers(hwi) : static_cast<MMRESULT>(MMSYSERR_NOMEM);
    if (nResult == MMSYSERR_NOERROR) nResult = g_Wave.waveInStart(hwi);
    if (nResult != MMSYSERR_NOERROR) {
        g_Wave.waveInReset(hwi);
        AbandonWaveIn();
    }
    return nResult;
}

// Under the input lock: the close follows the last buffer retired.
void CloseInputWhenDrained() {
    if (!g_bWaveInStopping || g_In.bCloseIssued || g_nWaveInPending > 0) return;
    if (CloseWaveDevice(true, g_hWaveIn) != MMSYSERR_NOERROR) {
        AbandonWaveIn();
        return;
    }
    // Every buffer is back and unprepared: the device owns none of them.
    FreeWaveInBlock(g_pInBlock);
    UseBlock(nullptr);
    CloseIssued(g_In, g_hWaveIn, g_bWaveInOpen, g_bWaveInStopping);
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

// Under the input lock: requeued, or retired when stopping or refused.
void RequeueOrRetire(HWAVEIN hwi, WAVEHDR *pHdr) {
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

}  // namespace

void OnInputData(HWAVEIN hwi, WAVEHDR *pHdr) {
    bool bDeliver = false;
    {
        CScopedLock lock(g_In.cs);
        if (!IsCurrentBuffer(hwi, pHdr)) {
            TakeRetiredInputData(pHdr);
            return;
        }
        bDeliver = pHdr->dwBytesRecorded > 0 && !g_In.bDropReturns;
    }
    // The buffer stays counted in g_nWaveInPending, so an abandonment
    // meanwhile retires its memory instead of freeing it.
    if (bDeliver) DeliverInputBuffer(pHdr);
    CScopedLock lock(g_In.cs);
    if (IsCurrentBuffer(hwi, pHdr)) {
        RequeueOrRetire(hwi, pHdr);
    } else {
        TakeRetiredInputData(pHdr);
    }
}

void AbandonWaveIn() {
    bool bClosed = g_In.bCloseIssued || CloseWaveDevice(true, g_hWaveIn) == MMSYSERR_NOERROR;
    RetireWaveIn(g_hWaveIn, OwedNotices(g_In, bClosed), g_pInBlock, g_nWaveInPending);
    UseBlock(nullptr);
    g_nWaveInPending = 0;
    g_hWaveIn = nullptr;
    MarkClosed(g_In, g_bWaveInOpen, g_bWaveInStopping);
}

MMRESULT OpenWaveIn() {
    return OpenDirection(g_In, g_bWaveInOpen, g_bWaveInStopping, AbandonWaveIn, [] {
        HWAVEIN hwi = nullptr;
        MMRESULT nResult = OpenHandsetDevice(g_nWaveInDevice, g_Wave.waveInGetNumDevs, g_Wave.waveInGetDevCapsA,
                                             g_Wave.waveInOpen, &hwi);
        return nResult == MMSYSERR_NOERROR ? StartCapture(hwi) : nResult;
    });
}

void StopWaveIn() {
    StopDirection(g_In, g_bWaveInOpen, g_bWaveInStopping, AbandonWaveIn, [] { return g_Wave.waveInReset(g_hWaveIn); },
                  CloseInputWhenDrained);
}

bool FinishWaveInClose(DWORD dwTimeout) {
    // Handed off, the input was given up at its stop: nothing comes back.
    if (WaveClosesHandedOff()) return false;
    if (const CStopBound *pBound = CStopBound::Current()) {
        // On the detach step the input's lock may belong to a stuck wave
        // message thread: looked at within the bound first.
        dwTimeout = pBound->Cap(dwTimeout);
        if (!CBoundedScope(g_In.cs, DirectionName(g_In)).Held()) return false;
    }
    bool bClosedByItself =
        EnterWhenNotClosing(g_In, g_bWaveInOpen, g_bWaveInStopping, dwTimeout, AbandonWaveIn, false);
    LeaveCriticalSection(&g_In.cs);
    return bClosedByItself;
}
