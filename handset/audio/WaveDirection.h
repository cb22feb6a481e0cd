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

#include "audio/WaveRetired.h"

WAVEFORMATEX DeviceFormat();

template <class HWAVE>
class CWaveDirection {
public:
    static constexpr bool D_bInput = std::is_same<HWAVE, HWAVEIN>::value;

    CWaveDirection() { InitializeCriticalSection(&m_cs); }
    CWaveDirection(const CWaveDirection &) = delete;
    CWaveDirection &operator=(const CWaveDirection &) = delete;
    virtual ~CWaveDirection() {
        if (m_hClosed) CloseHandle(m_hClosed);
        DeleteCriticalSection(&m_cs);
    }

    // Holds the direction's lock for its scope once the direction is not
    // closing. Waits at most dwTimeout for the close notification, and not
    // at all on the wave message thread, which is the one to handle it; then
    // abandons the device, under the lock. bOpening: the caller opens the
    // direction, so what the closing device still returns belongs to no job.
    class CWhenNotClosing {
    public:
        CWhenNotClosing(CWaveDirection &direction, DWORD dwTimeout, bool bOpening);
        CWhenNotClosing(const CWhenNotClosing &) = delete;
        CWhenNotClosing &operator=(const CWhenNotClosing &) = delete;
        ~CWhenNotClosing() { LeaveCriticalSection(&m_direction.m_cs); }
        // False when the device had to be abandoned.
        bool ClosedByItself() const { return m_bClosedByItself; }

    private:
        CWaveDirection &m_direction;
        bool m_bClosedByItself;
    };

    // "wave input" or "wave output", for log lines.
    static const char *Name() { return D_bInput ? "wave input" : "wave output"; }
    CRITICAL_SECTION &Lock() { return m_cs; }

    // The open and the stop of waveinout.h; the open also closes retired
    // devices whose close failed before it searches for the handset.
    MMRESULT Open();
    void Stop();
    // At the library's unload, within its bound (AbandonOpenWaveDevices).
    void AbandonIfOpen();
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
    // Under the lock.
    void CloseWhenDrained();
    // Under the lock: forget the device that does not answer (WaveRetired.h);
    // the direction is closed afterwards.
    void Abandon();

    // Under the lock, the device just opened and marked open: what it needs
    // to run. A device that fails here is abandoned before the error returns.
    virtual MMRESULT Start() { return MMSYSERR_NOERROR; }
    // Under the lock, the device's close call made: it holds nothing now.
    virtual void FreeHeld() {}
    // Under the lock: what the abandoned device holds, and the notifications
    // it owes, go to the retired devices.
    virtual void RetireHeld(WaveOwed owed) = 0;
    // Under the lock: the open device's buffer or block is back (false when
    // it is not the open device's).
    virtual bool TakeBack(HWAVE hNotified, WAVEHDR *pHdr) = 0;
    // Without the lock, which the sink must not hold: what was taken back
    // goes to the sink unless bDeliver is false, then back to the device or
    // to the heap.
    virtual void HandBack(HWAVE hNotified, WAVEHDR *pHdr, bool bDeliver) = 0;

private:
    void OnOpenNotice(HWAVE hNotified);
    void OnCloseNotice(HWAVE hNotified);
    void OnReturned(HWAVE hNotified, WAVEHDR *pHdr);
    void MarkOpened();
    void MarkClosed();
    void CloseIssued();

    CRITICAL_SECTION m_cs;
    HANDLE m_hClosed = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    // The open device's open notification has been handled; a close call
    // succeeded since the open (its notification is due); an open is waiting
    // for the close, so what the device returns belongs to no job.
    bool m_bOpenNoticed = false, m_bCloseIssued = false, m_bDropReturns = false;
};

extern CWaveDirection<HWAVEIN> &g_WaveIn;
extern CWaveDirection<HWAVEOUT> &g_WaveOut;
