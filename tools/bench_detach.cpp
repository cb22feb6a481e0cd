// What the library's detach step costs the host at worst: every worker of
// the plug-in stuck at once, where a stop can reach none of them. The link
// thread is inside a device open that takes 10 s, the wave message thread
// inside a wave call that takes 10 s while it holds the output's lock, and a
// playback and a recording run whose devices the stuck thread would serve.
// The detach step is timed as FreeLibrary runs it, under the loader lock,
// and as the demo host runs it, without; each case in a process of its own
// (the workers ended where they stood leave their locks behind for good).
// The goal is 3 s at most; the least possible is the 500 ms that the wave
// message thread is given to end by itself, during which the link thread's
// 100 ms run too.
//
// Usage: bench_detach            runs both cases and prints the table
//        bench_detach --case N   one case (0: under the loader lock, 1: not)
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <string>

#include "audio/EmulatedWave.h"
#include "audio/FilePlayback.h"
#include "audio/FileRecording.h"
#include "core/PluginLifecycle.h"
#include "hid/EmulatedHid.h"
#include "loader_lock.h"
#include "platform/wave_api.h"
#include "silent_prompt.h"
#include "stopwatch.h"

namespace {

const DWORD D_dwStuckMs = 10000;
const DWORD D_dwGoalMs = 3000;
const DWORD D_dwSetupBoundMs = 15000;

std::string BesideProgram(const char *szName) {
    char szPath[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    std::string strPath(szPath);
    return strPath.substr(0, strPath.rfind('\\') + 1) + szName;
}

HANDLE g_hWaveStuck = CreateEventA(nullptr, TRUE, FALSE, nullptr);
std::atomic<bool> g_bStick{true};
PFN_waveOutUnprepareHeader g_pfnUnprepare = nullptr;
MMRESULT WINAPI StuckUnprepare(HWAVEOUT hwo, LPWAVEHDR pHdr, UINT cbHdr) {
    if (g_bStick.exchange(false)) {
        SetEvent(g_hWaveStuck);
        Sleep(D_dwStuckMs);
    }
    return g_pfnUnprepare(hwo, pHdr, cbHdr);
}

// One case: the detach's milliseconds, or -1 when the workers could not be
// brought to a stand.
long RunCase(bool bUnderLoaderLock) {
    const std::string strPrompt = BesideProgram("bench_detach_prompt.wav");
    const std::string strRecording = BesideProgram("bench_detach_recording.wav");
    WriteSilentPrompt(strPrompt, 160000);
    CEmulatedHid &desk = CEmulatedHid::Instance();
    desk.Reset();
    desk.SetOpenDelay(D_dwStuckMs);
    desk.Install();
    CEmulatedWave::Instance().InstallTypicalDesk();
    g_pfnUnprepare = g_Wave.waveOutUnprepareHeader;
    g_Wave.waveOutUnprepareHeader = StuckUnprepare;

    PluginAttach();
    if (StartPlayFile(strPrompt.c_str()) != 0 || StartRecordFile(strRecording.c_str()) != 0) return -1;
    if (WaitForSingleObject(g_hWaveStuck, D_dwSetupBoundMs) != WAIT_OBJECT_0) return -1;
    const CStopwatch sinceSetup;
    while (desk.OpenAttemptCount() == 0) {
        if (sinceSetup.ElapsedMs() > D_dwSetupBoundMs) return -1;
        Sleep(1);
    }

    ULONG_PTR ulCookie = 0;
    if (bUnderLoaderLock && LdrLockLoaderLock(0, nullptr, &ulCookie) != 0) return -1;
    const CStopwatch sinceDetach;
    PluginDetach(false, bUnderLoaderLock);
    const DWORD dwDetachMs = sinceDetach.ElapsedMs();
    if (bUnderLoaderLock) LdrUnlockLoaderLock(0, ulCookie);
    DeleteFileA(strPrompt.c_str());
    DeleteFileA(strRecording.c_str());
    return static_cast<long>(dwDetachMs);
}

const char *const D_aszCases[] = {"under the loader lock (FreeLibrary)", "without the loader lock (demo host)"};

// Runs one case in a child process; its milliseconds, or -1.
long RunChild(int nCase) {
    char szExe[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, szExe, MAX_PATH);
    std::string strCommand = std::string("\"") + szExe + "\" --case " + std::to_string(nCase);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &strCommand[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    DWORD dwExit = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 4 * D_dwStuckMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &dwExit);
    } else {
        TerminateProcess(process.hProcess, static_cast<UINT>(-1));
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<long>(static_cast<int>(dwExit));
}

}  // namespace

int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc > 2 && strcmp(argv[1], "--case") == 0) {
        const long lMs = RunCase(atoi(argv[2]) == 0);
        fflush(stdout);
        // The stuck workers were ended holding the emulation's locks: no
        // clean-up of the process's objects, straight out.
        TerminateProcess(GetCurrentProcess(), static_cast<UINT>(lMs));
        return 0;
    }
    printf("detach step, link thread and wave message thread stuck %lu ms each, playback and recording running\n",
           static_cast<unsigned long>(D_dwStuckMs));
    long lWorst = 0;
    bool bAll = true;
    for (int nCase = 0; nCase < 2; ++nCase) {
        const long lMs = RunChild(nCase);
        if (lMs < 0) {
            printf("  %-40s  did not run\n", D_aszCases[nCase]);
            bAll = false;
            continue;
        }
        printf("  %-40s  %6ld ms\n", D_aszCases[nCase], lMs);
        if (lMs > lWorst) lWorst = lMs;
    }
    printf("  worst case %ld ms; goal %lu ms; bound %lu ms; least possible 500 ms (the wave thread's own stop wait)\n",
           lWorst, static_cast<unsigned long>(D_dwGoalMs), static_cast<unsigned long>(D_dwDetachBoundMs));
    return bAll && lWorst <= static_cast<long>(D_dwGoalMs) ? 0 : 1;
}
