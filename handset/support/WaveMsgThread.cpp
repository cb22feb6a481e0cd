// The wave message thread: see WaveMsgThread.h.
//
// Start and stop may be called from several host threads (every device open
// starts it), so both run under one critical section; the thread itself only
// reads its queue. Windows creates a thread's message queue on its first
// message call, so the starter waits (bounded) on an event that the thread
// sets once PeekMessage has made the queue exist. The thread gets that event
// by value, as a handle of its own that it closes: a starter that gave up
// waiting has returned and closed its handle, and nothing of its stack may
// be used after that. The library's detach step stops the thread under the
// loader lock, so the loop's end parks instead of returning (see
// ThreadEnd.h); a thread that does not end within the bound is ended by
// force with exit code -1, at a safe point if one comes (ThreadEnd.h).
#include "support/WaveMsgThread.h"
#include "audio/waveinout.h"
#include "support/ThreadEnd.h"

volatile DWORD g_dwWaveThreadId = 0;
HANDLE g_hWaveThread = nullptr;

namespace {
CRITICAL_SECTION g_csWaveThread;
// Constructed before any export can run, so the first open finds it ready.
struct WaveThreadLockInit {
    WaveThreadLockInit() { InitializeCriticalSection(&g_csWaveThread); }
    ~WaveThreadLockInit() { DeleteCriticalSection(&g_csWaveThread); }
} g_WaveThreadLockInit;
CThreadEnd g_WaveThreadEnd;

const DWORD D_dwStopTimeout = 500;
const DWORD D_dwForcedExitCode = static_cast<DWORD>(-1);

// The thread's own handle of the starter's event, or null.
HANDLE HandleForThread(HANDLE hEvent) {
    HANDLE hCopy = nullptr;
    if (hEvent && !DuplicateHandle(GetCurrentProcess(), hEvent, GetCurrentProcess(), &hCopy, 0, FALSE,
                                   DUPLICATE_SAME_ACCESS)) {
        hCopy = nullptr;
    }
    return hCopy;
}
}  // namespace

DWORD WINAPI WaveMsgThreadProc(LPVOID lpParam) {
    // A stop may end the thread only while it waits for its next message,
    // never inside a notification, which holds the player's or the
    // recorder's locks (ThreadEnd.h).
    g_WaveThreadEnd.BodyBegins();
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    if (HANDLE hQueueReady = static_cast<HANDLE>(lpParam)) {
        SetEvent(hQueueReady);
        CloseHandle(hQueueReady);
    }
    for (;;) {
        g_WaveThreadEnd.AllowEnd();
        BOOL bGot = GetMessageA(&msg, nullptr, 0, 0);
        g_WaveThreadEnd.ForbidEnd();
        if (bGot <= 0) break;
        HandleWaveMessage(msg.message, msg.wParam, msg.lParam);
    }
    g_WaveThreadEnd.Park(0);
    return 0;
}

int StartWaveMsgThread() {
    EnterCriticalSection(&g_csWaveThread);
    int nResult = 0;
    if (g_dwWaveThreadId == 0) {
        HANDLE hQueueReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE hThreadsCopy = HandleForThread(hQueueReady);
        DWORD dwThreadId = 0;
        g_WaveThreadEnd.Rearm();
        HANDLE hThread = CreateThread(nullptr, 0, WaveMsgThreadProc, hThreadsCopy, 0, &dwThreadId);
        if (hThread) {
            if (hThreadsCopy) WaitForSingleObject(hQueueReady, D_dwQueueReadyTimeout);
            g_hWaveThread = hThread;
            g_dwWaveThreadId = dwThreadId;
        } else {
            if (hThreadsCopy) CloseHandle(hThreadsCopy);
            nResult = -1;
        }
        if (hQueueReady) CloseHandle(hQueueReady);
    }
    LeaveCriticalSection(&g_csWaveThread);
    return nResult;
}

void StopWaveMsgThread() {
    EnterCriticalSection(&g_csWaveThread);
    if (g_dwWaveThreadId != 0) {
        PostThreadMessageA(g_dwWaveThreadId, WM_QUIT, 0, 0);
        g_WaveThreadEnd.EndThread(g_hWaveThread, D_dwStopTimeout, D_dwForcedExitCode);
        CloseHandle(g_hWaveThread);
        g_dwWaveThreadId = 0;
        g_hWaveThread = nullptr;
    }
    LeaveCriticalSection(&g_csWaveThread);
}
