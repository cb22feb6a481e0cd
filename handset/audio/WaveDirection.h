// One direction of the handset's wave device: its handle, flags, the count
// of what the device holds, its lock and an event set while it is closed,
// with the steps both directions take alike. The input (WaveIn.cpp) and the
// output (WaveOut.cpp) add what their device holds and how it comes back.
// g_WaveIn and g_WaveOut are the two; waveinout.cpp has the locking rules.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <type_traits>

#include "audio/WaveMsgThread.h"
#include "audio/WaveRetired.h"
#include "support/BoundedLock.h"

WAVEFORMATEX DeviceFormat();

template <class HWAVE>
class CWaveDirection {
public:
    static constexpr bool D_bInput = std::is_same<HWAVE, HWAVEIN>::value;

    CWaveDirection() = default;
    CWaveDirection(const CWaveDirection &) = delete;
    CWaveDirection &operator=(const CWaveDirection &) = delete;
    virtual ~CWaveDirection() {
        if (m_hClosed) CloseHandle(m_hClosed);
    }

    // Runs fnUnderLock(bClosedByItself) under the direction's lock once the
    // direction is not closing. Waits until closeWait for the close
    // notification, and not at all on the wave message thread, which is the
    // one to handle it; then abandons the device, under the lock. bOpening:
    // the caller opens the direction, so what the closing device still
    // returns belongs to no job. False when the lock was not had by lockWait.
    template <class FN>
    bool WhenNotClosing(const CDeadline &closeWait, const CDeadline &lockWait, bool bOpening, FN fnUnderLock);

    // "wave input" or "wave output", for log lines.
    static const char *Name() { return D_bInput ? "wave input" : "wave output"; }
    CBoundedLock &Lock() { return m_lock; }

    // The open and the stop of waveinout.h; the open also closes retired
    // devices whose close failed before it searches for the handset.
    MMRESULT Open();
    void Stop(const CDeadline &deadline);
    // At the library's unload, by its deadline (AbandonOpenWaveDevices).
    void AbandonIfOpen(const CDeadline &deadline);
    // On the wave message thread: a notification, if it is this direction's.
    void OnMessage(UINT uMsg, HWAVE hNotified, WAVEHDR *pHdr);

    // Read by the player, the recorder and the tests; written under the
    // lock. The count is the input's buffers or the output's blocks that
    // the device has not handed back.
    HWAVE m_hDevice = nullptr;
    // The handset's device id, WAVE_MAPPER until it has been found once.
    UINT m_nDevice = WAVE_MAPPER;
    std::atomic<BYTE> m_bOpen{0};
    // Stopped and not yet closed (the input's "stopping", the output's
    // "closing"): it takes no new work and closes once drained.
    std::atomic<BYTE> m_bClosing{0};
    // The input's buffers or the output's blocks not yet handed back; raised
    // before the device gets one, so a close decided on it never comes while
    // the device still holds one.
    std::atomic<int> m_nHeld{0};

protected:
    // Under the lock; the retired devices' lock is waited for until deadline.
    void CloseWhenDrained(const CDeadline &deadline);
    // Under the lock: forget the device that does not answer (WaveRetired.h);
    // the direction is closed afterwards.
    void Abandon(const CDeadline &deadline);

    // Under the lock, the device just opened and marked open: what it needs
    // to run. A device that fails here is abandoned before the error returns.
    virtual MMRESULT Start(const CDeadline &) { return MMSYSERR_NOERROR; }
    // Under the lock, the device's close call made: it holds nothing now.
    virtual void FreeHeld() {}
    // Under the lock: what the abandoned device holds, and the notifications
    // it owes, go to the retired devices.
    virtual void RetireHeld(WaveOwed owed, const CDeadline &deadline) = 0;
    // Under the lock: the open device's buffer or block is back (false when
    // it is not the open device's).
    virtual bool TakeBack(HWAVE hNotified, WAVEHDR *pHdr) = 0;
    // Without the lock, which the sink must not hold: what was taken back
    // goes to the sink unless bDeliver is false, then back to the device or
    // to the heap.
    virtual void HandBack(HWAVE hNotified, WAVEHDR *pHdr, bool bDeliver) = 0;

private:
    // Under the lock, the direction not closing.
    MMRESULT OpenHere(const CDeadline &deadline);
    void OnOpenNotice(HWAVE hNotified);
    void OnCloseNotice(HWAVE hNotified);
    void OnReturned(HWAVE hNotified, WAVEHDR *pHdr);
    void MarkOpened();
    void MarkClosed();
    void CloseIssued();

    // Given up, never taken over, when its owner dies: a direction changed
    // halfway is left alone.
    CBoundedLock m_lock{CBoundedLock::EDeadOwner::GiveUp};
    HANDLE m_hClosed = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    // The open device's open notification has been handled; a close call
    // succeeded since the open (its notification is due); an open is waiting
    // for the close, so what the device returns belongs to no job.
    bool m_bOpenNoticed = false, m_bCloseIssued = false, m_bDropReturns = false;
};

extern CWaveDirection<HWAVEIN> &g_WaveIn;
extern CWaveDirection<HWAVEOUT> &g_WaveOut;

template <class HWAVE>
template <class FN>
bool CWaveDirection<HWAVE>::WhenNotClosing(const CDeadline &closeWait, const CDeadline &lockWait, bool bOpening,
                                           FN fnUnderLock) {
    for (;;) {
        {
            CLockGuard lock(m_lock, lockWait, Name());
            if (!lock.Held()) return false;
            const bool bClosing = m_bOpen && m_bClosing;
            if (bClosing && bOpening) m_bDropReturns = true;
            if (!bClosing || closeWait.Left() == 0 || GetCurrentThreadId() == g_dwWaveThreadId) {
                if (bClosing) Abandon(lockWait);
                fnUnderLock(!bClosing);
                return true;
            }
        }
        WaitForSingleObject(m_hClosed, closeWait.Left());
    }
}
