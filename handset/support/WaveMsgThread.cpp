// The wave message thread: see WaveMsgThread.h.
//
// Start and stop may be called from several host threads (every device open
// starts it), so both run under one critical section; the thread itself only
// reads its queue. Windows creates a thread's message queue on its first
// message call, so the starter waits on an event that the thread sets once
// PeekMessage has made the queue exist. The library's detach step stops it
// under the loader lock, so the loop's end parks instead of returning (see
// ThreadEnd.h).
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

const DWORD D_dwQueueReadyTimeout = 2000;
const DWORD D_dwStopTimeout = 500;

struct StartContext {
    HANDLE hQueueReady;
};
}  // namespace

DWORD WINAPI WaveMsgThreadProc(LPVOID lpParam) {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    if (lpParam) SetEvent(static_cast<StartContext *>(lpParam)->hQueueReady);
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        HandleWaveMessage(msg.message, msg.wParam, msg.lParam);
    }
    g_WaveThreadEnd.Park(0);
    return 0;
}

int StartWaveMsgThread() {
    EnterCriticalSection(&g_csWaveThread);
    int nResult = 0;
    if (g_dwWaveThreadId == 0) {
        StartContext context{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
        DWORD dwThreadId = 0;
        g_WaveThreadEnd.Rearm();
        HANDLE hThread = CreateThread(nullptr, 0, WaveMsgThreadProc,
                                      context.hQueueReady ? &context : nullptr, 0, &dwThreadId);
        if (hThread) {
            if (context.hQueueReady) WaitForSingleObject(context.hQueueReady, D_dwQueueReadyTimeout);
            g_hWaveThread = hThread;
            g_dwWaveThreadId = dwThreadId;
        } else {
            nResult = -1;
        }
        if (context.hQueueReady) CloseHandle(context.hQueueReady);
    }
    LeaveCriticalSection(&g_csWaveThread);
    return nResult;
}

void StopWaveMsgThread() {
    EnterCriticalSection(&g_csWaveThread);
    if (g_dwWaveThreadId != 0) {
        PostThreadMessageA(g_dwWaveThreadId, WM_QUIT, 0, 0);
        g_WaveThreadEnd.EndThread(g_hWaveThread, D_dwStopTimeout);
        CloseHandle(g_hWaveThread);
        g_dwWaveThreadId = 0;
        g_hWaveThread = nullptr;
    }
    LeaveCriticalSection(&g_csWaveThread);
}
