// Load/use/unload cycles of the shipped handset plug-in that hold at any
// speed: each cycle waits for the link thread's first "no handset" notice
// (1134), which proves the thread runs our code and sits in its pause, and
// only then unloads. The thread must then end by itself (exit code 1) and
// FreeLibrary return; a hang there is caught by the guest's time limit. The
// suite's own cycles unload at fixed delays (0, 50, 300 ms), which under
// software emulation fall before the thread has started.
#include <cstdio>

#include "StackProbe.h"
#include "bravik32.h"
#include "process_threads.h"
#include "stopwatch.h"

namespace {

const DWORD D_dwNoticeTimeoutMs = 60000;
const DWORD D_dwThreadEndTimeoutMs = 10000;

bool AwaitNoHandsetNotice(HWND hWnd) {
    CStopwatch sinceStart;
    MSG msg;
    while (sinceStart.ElapsedMs() < D_dwNoticeTimeoutMs) {
        if (PeekMessageA(&msg, hWnd, BRAVIK32_MSG_NO_HANDSET, BRAVIK32_MSG_NO_HANDSET, PM_REMOVE)) return true;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_POSTMESSAGE);
    }
    return false;
}

// A notice an earlier load posted (the export checks' own search) would
// otherwise pass for this load's and unload it in the middle of its first
// search, where under emulation no safe point may come within the bound.
void DropEarlierNotices(HWND hWnd) {
    MSG msg;
    while (PeekMessageA(&msg, hWnd, BRAVIK32_MSG_NO_HANDSET, BRAVIK32_MSG_NO_HANDSET, PM_REMOVE)) {
    }
}

bool OneCycle(const char *pszFull, HWND hWnd, int nCycle) {
    DropEarlierNotices(hWnd);
    const std::set<DWORD> threadsBefore = ThreadsOfThisProcess();
    HMODULE hPlugin = LoadLibraryExA(pszFull, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!hPlugin) {
        printf("FAIL cycle %d: the plug-in did not load (error %lu)\n", nCycle, GetLastError());
        return false;
    }
    std::set<HANDLE> threads;
    for (DWORD dwId : ThreadsOfThisProcess())
        if (!threadsBefore.count(dwId)) threads.insert(OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, dwId));
    auto pfnStartMonitor = reinterpret_cast<BRAVIK32_PFN_WINDOW>(
        reinterpret_cast<void *>(GetProcAddress(hPlugin, "CT_StartMonitor")));
    if (pfnStartMonitor) pfnStartMonitor(hWnd);
    const bool bNoticed = AwaitNoHandsetNotice(hWnd);
    CStopwatch sinceStart;
    FreeLibrary(hPlugin);
    const DWORD dwUnloadMs = sinceStart.ElapsedMs();
    int nCleanEnds = 0;
    for (HANDLE hThread : threads) {
        DWORD dwExitCode = 0;
        if (hThread && WaitForSingleObject(hThread, D_dwThreadEndTimeoutMs) == WAIT_OBJECT_0 &&
            GetExitCodeThread(hThread, &dwExitCode) && dwExitCode == 1)
            ++nCleanEnds;
        if (hThread) CloseHandle(hThread);
    }
    const bool bPassed = bNoticed && threads.size() == 1 && nCleanEnds == 1;
    printf("%s unload cycle %d: 1134 %s, %u plug-in thread(s), %d ended by itself, unloaded in %lu ms\n",
           bPassed ? "  ok" : "FAIL", nCycle, bNoticed ? "arrived" : "did NOT arrive", (unsigned)threads.size(),
           nCleanEnds, dwUnloadMs);
    return bPassed;
}

}  // namespace

int CheckUnloadCycles(const char *pszPath, HWND hWnd, int nCycles) {
    char szFull[MAX_PATH];
    GetFullPathNameA(pszPath, MAX_PATH, szFull, nullptr);
    int nFailed = 0;
    for (int i = 1; i <= nCycles; ++i)
        if (!OneCycle(szFull, hWnd, i)) ++nFailed;
    return nFailed;
}
