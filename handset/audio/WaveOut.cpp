// The handset's wave output: blocks copied from the player and queued, each
// returned block handed to the player's sink and freed, the close after the
// last block a stop returns, and the output abandoned when it stops
// answering. Threads and locks: see waveinout.cpp.
//
// The blocks the device holds are chained through their headers' dwUser, so
// that a device abandoned with blocks still queued leaves them to
// WaveRetired.h rather than to the heap.
#include <cstring>

#include "audio/WaveDirection.h"
#include "audio/waveinout.h"
#include "platform/wave_api.h"

namespace {

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

class CWaveOutput : public CWaveDirection<HWAVEOUT> {
public:
    // Copies the bytes into a block of their own and queues it.
    int Write(const char *pBytes, int nLength) {
        if (!pBytes || nLength <= 0) return -1;
        CLockGuard lock(Lock(), CDeadline(D_dwWaveLockBoundMs));
        if (!lock.Held() || !m_bOpen || m_bClosing) return -1;
        WAVEHDR *pHdr = NewOutputBlock(pBytes, nLength);
        if (!pHdr) return -1;
        g_Wave.waveOutPrepareHeader(m_hDevice, pHdr, sizeof(WAVEHDR));
        pHdr->dwUser = reinterpret_cast<DWORD_PTR>(m_pBlocks);
        m_pBlocks = pHdr;
        ++m_nHeld;
        if (g_Wave.waveOutWrite(m_hDevice, pHdr, sizeof(WAVEHDR)) == MMSYSERR_NOERROR) return 0;
        // Refused: never the device's, so it is neither counted nor kept.
        UnlinkOutputBlock(m_pBlocks, pHdr);
        --m_nHeld;
        g_Wave.waveOutUnprepareHeader(m_hDevice, pHdr, sizeof(WAVEHDR));
        FreeOutputBlock(pHdr);
        return 0;
    }

protected:
    void RetireHeld(WaveOwed owed, const CDeadline &deadline) override {
        RetireWaveOut(m_hDevice, owed, m_pBlocks, deadline);
        m_pBlocks = nullptr;
    }

    bool TakeBack(HWAVEOUT hwo, WAVEHDR *pHdr) override {
        if (hwo != m_hDevice || !UnlinkOutputBlock(m_pBlocks, pHdr)) return false;
        // Unprepared before it stops being counted, so a close decided on
        // the count never finds the device still holding a prepared block.
        g_Wave.waveOutUnprepareHeader(hwo, pHdr, sizeof(WAVEHDR));
        --m_nHeld;
        return true;
    }

    void HandBack(HWAVEOUT hwo, WAVEHDR *pHdr, bool bDeliver) override {
        if (bDeliver && g_pfnWaveOutDone) g_pfnWaveOutDone(pHdr->lpData, static_cast<int>(pHdr->dwBufferLength));
        FreeOutputBlock(pHdr);
        const CDeadline deadline(D_dwWaveLockBoundMs);
        CLockGuard lock(Lock(), deadline);
        if (lock.Held() && hwo == m_hDevice) CloseWhenDrained(deadline);
    }

private:
    WAVEHDR *m_pBlocks = nullptr;
};

CWaveOutput g_Output;

}  // namespace

CWaveDirection<HWAVEOUT> &g_WaveOut = g_Output;

MMRESULT OpenWaveOut() { return g_Output.Open(); }

void StopWaveOut(const CDeadline &deadline) { g_Output.Stop(deadline); }


int WriteWaveOut(const char *pBytes, int nLength) { return g_Output.Write(pBytes, nLength); }
