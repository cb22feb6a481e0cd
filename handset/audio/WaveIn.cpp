// The handset's wave input: four buffers circulating while a recording runs,
// each filled buffer handed to the recorder's sink whole (a partial last one
// padded with silence), the close after the last buffer a stop returns, and
// the input abandoned when it stops answering. Threads and locks: see
// waveinout.cpp.
//
// The buffers are a fresh block of heap memory for every open (WaveRetired.h
// says why). The direction's held count is the buffers not yet retired: those
// the device holds and the one the wave message thread may be handling.
//
// A running input gets each filled buffer back at once, and the recorder
// writes a copy of it: the device drops what it captures while none of the
// four buffers is queued (Windows documents it, Wine does it), and a file
// write that takes longer than the other three buffers last (240 ms, a busy
// or network disk) would otherwise leave it none. A stopping input hands its
// buffers to the recorder before it retires them, so that they reach the
// file before the close that the last one brings.
#include <cassert>
#include <cstring>

#include "audio/WaveClose.h"
#include "audio/WaveDirection.h"
#include "audio/waveinout.h"
#include "platform/wave_api.h"

int g_nInWaveBufSize = 0;
WAVEHDR *g_InWaveHdr = nullptr;
char *g_InWaveBuf = nullptr;

namespace {

const int D_nSamplesPerInBuf = 640;  // 80 ms at 8000 Hz

// A partial buffer is made whole with silence.
void PadInputBuffer(WAVEHDR *pHdr) {
    DWORD dwSize = static_cast<DWORD>(g_nInWaveBufSize);
    if (pHdr->dwBytesRecorded < dwSize) {
        memset(pHdr->lpData + pHdr->dwBytesRecorded, SilenceByte(), dwSize - pHdr->dwBytesRecorded);
    }
    pHdr->dwBytesRecorded = dwSize;
}

void Deliver(const char *pBytes) {
    if (g_pfnWaveInData) g_pfnWaveInData(pBytes, g_nInWaveBufSize);
}

class CWaveInput : public CWaveDirection<HWAVEIN> {
protected:
    // Buffers queued and capture started. An input that could take no
    // buffer, or would not start, would record nothing: it is reset and
    // abandoned, and the open fails.
    MMRESULT Start(const CDeadline &deadline) override {
        UseBlock(NewWaveInBlock());
        MMRESULT nResult = m_pBlock ? QueueBuffers() : static_cast<MMRESULT>(MMSYSERR_NOMEM);
        if (nResult == MMSYSERR_NOERROR) nResult = g_Wave.waveInStart(m_hDevice);
        if (nResult != MMSYSERR_NOERROR) {
            g_Wave.waveInReset(m_hDevice);
            Abandon(deadline);
        }
        return nResult;
    }

    // Every buffer is back and unprepared: the device owns none of them.
    void FreeHeld() override {
        FreeWaveInBlock(m_pBlock);
        UseBlock(nullptr);
    }

    void RetireHeld(WaveOwed owed, const CDeadline &deadline) override {
        RetireWaveIn(m_hDevice, owed, m_pBlock, m_nHeld, deadline);
        UseBlock(nullptr);
    }

    bool TakeBack(HWAVEIN hwi, WAVEHDR *pHdr) override {
        return m_pBlock && hwi == m_hDevice && IsHeaderOf(pHdr, m_pBlock);
    }

    // A buffer handed to the sink itself (a stopping input's, or one the
    // lock could not be had for) stays counted as held while the sink has
    // it, so an abandonment meanwhile retires its memory instead of freeing
    // it.
    void HandBack(HWAVEIN hwi, WAVEHDR *pHdr, bool bDeliver) override {
        const bool bFilled = bDeliver && pHdr->dwBytesRecorded > 0;
        if (bFilled) {
            PadInputBuffer(pHdr);
            if (RecycleCopying(hwi, pHdr)) {
                Deliver(m_acCopy);
                return;
            }
            Deliver(pHdr->lpData);
        }
        const CDeadline deadline(D_dwWaveLockBoundMs);
        CLockGuard lock(Lock(), deadline);
        if (!lock.Held()) return;
        if (TakeBack(hwi, pHdr)) {
            RequeueOrRetire(pHdr, deadline);
        } else {
            TakeRetiredInputData(pHdr);
        }
    }

private:
    // A running input's buffer, copied for the recorder, goes back to the
    // device (or is retired when the device refuses it): true. False when
    // the input is stopping or the buffer is not the open input's.
    bool RecycleCopying(HWAVEIN hwi, WAVEHDR *pHdr) {
        const CDeadline deadline(D_dwWaveLockBoundMs);
        CLockGuard lock(Lock(), deadline);
        if (!lock.Held() || m_bClosing || !TakeBack(hwi, pHdr)) return false;
        memcpy(m_acCopy, pHdr->lpData, static_cast<size_t>(g_nInWaveBufSize));
        RequeueOrRetire(pHdr, deadline);
        return true;
    }

    void UseBlock(WaveInBlock *pBlock) {
        m_pBlock = pBlock;
        g_InWaveHdr = pBlock ? pBlock->aHdr : nullptr;
        g_InWaveBuf = pBlock ? pBlock->aBuf : nullptr;
    }

    // 0 when the device took at least one buffer, else why it took none.
    MMRESULT QueueBuffers() {
        g_nInWaveBufSize = (g_nBitsPerSample / 8) * D_nSamplesPerInBuf;
        assert(g_nInWaveBufSize <= D_nInWaveBufMaxSize);
        int nQueued = 0;
        MMRESULT nRefusal = MMSYSERR_NOERROR;
        for (int nSlot = 0; nSlot < D_nInWaveBufCount; ++nSlot) {
            WAVEHDR &hdr = g_InWaveHdr[nSlot];
            hdr.lpData = g_InWaveBuf + static_cast<ptrdiff_t>(nSlot) * D_nInWaveBufMaxSize;
            hdr.dwBufferLength = static_cast<DWORD>(g_nInWaveBufSize);
            hdr.dwFlags = 0;
            g_Wave.waveInPrepareHeader(m_hDevice, &hdr, sizeof(WAVEHDR));
            nRefusal = g_Wave.waveInAddBuffer(m_hDevice, &hdr, sizeof(WAVEHDR));
            if (nRefusal == MMSYSERR_NOERROR) {
                ++nQueued;
            } else {
                g_Wave.waveInUnprepareHeader(m_hDevice, &hdr, sizeof(WAVEHDR));
            }
        }
        // Only buffers the device took come back, so only they are awaited.
        m_nHeld = nQueued;
        return nQueued > 0 ? MMSYSERR_NOERROR : nRefusal;
    }

    // Under the lock: requeued, or retired when stopping or refused.
    void RequeueOrRetire(WAVEHDR *pHdr, const CDeadline &deadline) {
        if (!m_bClosing) {
            pHdr->dwBufferLength = static_cast<DWORD>(g_nInWaveBufSize);
            pHdr->dwBytesRecorded = 0;
            if (g_Wave.waveInAddBuffer(m_hDevice, pHdr, sizeof(WAVEHDR)) == MMSYSERR_NOERROR) return;
            // A buffer the device refused will not come back to be retired.
        }
        g_Wave.waveInUnprepareHeader(m_hDevice, pHdr, sizeof(WAVEHDR));
        --m_nHeld;
        CloseWhenDrained(deadline);
    }

    WaveInBlock *m_pBlock = nullptr;
    // The recorder's copy of the last buffer recycled; only the wave message
    // thread uses it.
    char m_acCopy[D_nInWaveBufMaxSize] = {};
};

CWaveInput g_Input;

}  // namespace

CWaveDirection<HWAVEIN> &g_WaveIn = g_Input;

MMRESULT OpenWaveIn() { return g_Input.Open(); }

void StopWaveIn(const CDeadline &deadline) { g_Input.Stop(deadline); }


bool FinishWaveInClose(const CDeadline &closeWait, const CDeadline &lockWait) {
    // Handed off, the input was given up at its stop: nothing comes back.
    if (WaveClosesHandedOff()) return false;
    bool bClosed = false;
    g_Input.WhenNotClosing(closeWait, lockWait, false, [&](bool bClosedByItself) { bClosed = bClosedByItself; });
    return bClosed;
}
