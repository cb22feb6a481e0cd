// The wave message thread: see WaveMsgThread.h.
//
// Start and stop may be called from several host threads (every device open
// starts it), so both run under one lock; the thread itself only
// reads its queue. Windows creates a thread's message queue on its first
// message call, so the starter waits (bounded) on an event that the thread
// sets once PeekMessage has made the queue exist. The thread gets that event
// as a handle of its own that it takes and closes: a starter that gave up
// waiting has returned and closed its handle, and nothing of its stack may
// be used after that.
#include "audio/WaveMsgThread.h"

#include "audio/waveinout.h"
#include "support/BaseThread.h"

std::atomic<DWORD> g_dwWaveThreadId{0};
HANDLE g_hWaveThread = nullptr;

namespace {

const DWORD D_dwForcedExitCode = static_cast<DWORD>(-1);

class CWaveMsgThread : public CBaseThread {
public:
    CWaveMsgThread() : CBaseThread(D_dwWaveThreadStopTimeout, D_dwForcedExitCode) {}

    // The thread's own handle of the starter's event, for the next start.
    void HandQueueReady(HANDLE hEvent) { m_hQueueReady = hEvent; }
    HANDLE TakeQueueReady() { return m_hQueueReady.exchange(nullptr); }

    void RequestStop() override {
        CBaseThread::RequestStop();
        // The run signal does not reach a message wait.
        if (const DWORD dwThreadId = ThreadId()) PostThreadMessageA(dwThreadId, WM_QUIT, 0, 0);
    }

    DWORD Run(DWORD) override {
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
        if (HANDLE hQueueReady = TakeQueueReady()) {
            SetEvent(hQueueReady);
            CloseHandle(hQueueReady);
        }
        // A stop that came before the queue existed found nobody to post
        // its WM_QUIT to; one that comes later finds the queue.
        if (IsStopRequested(0)) return 0;
        for (;;) {
            // A stop may end the thread only while it waits for its next
            // message, never inside a notification, which holds the
            // player's or the recorder's locks (support/ThreadEnd.h).
            AllowEnd();
            const BOOL bGot = GetMessageA(&msg, nullptr, 0, 0);
            ForbidEnd();
            if (bGot <= 0) return 0;
            HandleWaveMessage(msg.message, msg.wParam, msg.lParam);
        }
    }

private:
    std::atomic<HANDLE> m_hQueueReady{nullptr};
};

// Held across a start's wait for the queue or a stop's for the thread.
CBoundedLock g_waveThreadLock{CBoundedLock::EDeadOwner::GiveUp};
CWaveMsgThread g_WaveThread;

// A handle of the thread's own to the starter's event, or null.
HANDLE HandleForThread(HANDLE hEvent) {
    HANDLE hCopy = nullptr;
    if (hEvent &&
        !DuplicateHandle(GetCurrentProcess(), hEvent, GetCurrentProcess(), &hCopy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        hCopy = nullptr;
    }
    return hCopy;
}

}  // namespace

int StartWaveMsgThread() {
    CLockGuard lock(g_waveThreadLock, CDeadline(D_dwWaveThreadLockBoundMs));
    if (!lock.Held()) return -1;
    if (g_dwWaveThreadId != 0) return 0;
    HANDLE hQueueReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_WaveThread.HandQueueReady(HandleForThread(hQueueReady));
    g_WaveThread.Start(0);
    int nResult = 0;
    if (g_WaveThread.ThreadHandle()) {
        if (hQueueReady) WaitForSingleObject(hQueueReady, D_dwQueueReadyTimeout);
        g_hWaveThread = g_WaveThread.ThreadHandle();
        g_dwWaveThreadId = g_WaveThread.ThreadId();
    } else {
        if (HANDLE hUnused = g_WaveThread.TakeQueueReady()) CloseHandle(hUnused);
        nResult = -1;
    }
    if (hQueueReady) CloseHandle(hQueueReady);
    return nResult;
}

void RequestWaveMsgThreadStop() { g_WaveThread.RequestStop(); }

void StopWaveMsgThread(const CDeadline &deadline) {
    CLockGuard lock(g_waveThreadLock, deadline.ForOneLock(), "wave thread");
    if (!lock.Held() || g_dwWaveThreadId == 0) return;
    g_WaveThread.Stop(deadline);
    g_dwWaveThreadId = 0;
    g_hWaveThread = nullptr;
}
