// stress_unload: the long unload runs. Without arguments, the library's
// detach step 200 times at random moments of a search of 3000 HID devices
// and 20 times during a playback and a recording (tests/unload_cycles.h),
// with the thread and handle counts after each cycle. With --real-dll, the
// built BRAVIK32.dll beside this program is loaded, plays and records on the
// default wave devices, and is unloaded, 20 times; under Wine, run it with
// XDG_CONFIG_HOME set to build/x86_64/tools/stress_alsa so that ALSA's null
// device gives Wine a wave output and input.
//
//   stress_unload [--real-dll] [CYCLES]
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <set>
#include <string>

#include "process_threads.h"
#include "silent_prompt.h"
#include "stopwatch.h"
#include "unload_cycles.h"

namespace {

// How long the thread and handle counts may take to come back after an unload.
const DWORD D_dwSettleBoundMs = 5000;

typedef int(WINAPI *PFN_START_FILE)(int, const char *, int, int);
typedef int(WINAPI *PFN_REST)(int);

std::string BesideProgram(const char *szName) {
    char szPath[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    std::string strPath(szPath);
    return strPath.substr(0, strPath.rfind('\\') + 1) + szName;
}

// Where each thread started since THREADSBEFORE began: the module of its
// start address, or none (a start page outside every image), so that a run
// that leaves threads behind says whose they are.
void PrintThreadsLeft(const std::set<DWORD> &threadsBefore) {
    typedef LONG(NTAPI * PFN_NtQueryInformationThread)(HANDLE, int, PVOID, ULONG, PULONG);
    const int D_nThreadQuerySetWin32StartAddress = 9;
    auto pfnQuery = reinterpret_cast<PFN_NtQueryInformationThread>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
    for (DWORD dwId : ThreadsOfThisProcess()) {
        if (threadsBefore.count(dwId)) continue;
        void *pStart = nullptr;
        HANDLE hThread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, dwId);
        if (hThread && pfnQuery) pfnQuery(hThread, D_nThreadQuerySetWin32StartAddress, &pStart, sizeof pStart, nullptr);
        if (hThread) CloseHandle(hThread);
        HMODULE hModule = nullptr;
        char szModule[MAX_PATH + 1] = "no module";
        if (pStart &&
            GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                               static_cast<LPCSTR>(pStart), &hModule))
            GetModuleFileNameA(hModule, szModule, MAX_PATH);
        printf("      thread %lu left, started at %p (%s)\n", static_cast<unsigned long>(dwId), pStart, szModule);
    }
}

int RunWhiteBox(int nCycles) {
    bool bClean = true;
    const UnloadCycleOptions aRuns[] = {{nCycles, 3000, false, CStopwatch::RandomStart()},
                                        {nCycles / 10 ? nCycles / 10 : 1, 3, true, CStopwatch::RandomStart()}};
    for (const UnloadCycleOptions &options : aRuns) {
        printf("== detach %s\n", options.bDuringAudioJobs ? "during a playback and a recording"
                                                          : "at random moments of a search of 3000 devices");
        const UnloadCycleReport report = RunUnloadCycles(options);
        printf("   %s\n", Describe(report).c_str());
        bClean = bClean && report.strProblem.empty() && report.nCyclesRun == options.nCycles;
    }
    return bClean ? 0 : 1;
}

int RunRealDll(int nCycles) {
    const std::string strPrompt = BesideProgram("stress_prompt.wav");
    const std::string strRecording = BesideProgram("stress_recording.wav");
    WriteSilentPrompt(strPrompt, 32000);  // two seconds
    std::set<DWORD> threadsBefore = ThreadsOfThisProcess();
    int nThreadsBefore = static_cast<int>(threadsBefore.size());
    int nHandlesBefore = HandlesOfThisProcess();
    bool bClean = true;
    DWORD dwUnloadMaxMs = 0;
    // Cycle -1 warms up: the first playback loads the system's audio
    // libraries, which stay with their threads (winmm is pinned for the
    // closes handed off at unload); the counts after it are the baseline.
    for (int nCycle = -1; nCycle < nCycles; ++nCycle) {
        if (nCycle == 0) {
            Sleep(D_dwSettleBoundMs);
            threadsBefore = ThreadsOfThisProcess();
            nThreadsBefore = static_cast<int>(threadsBefore.size());
            nHandlesBefore = HandlesOfThisProcess();
            printf("== BRAVIK32.dll loaded, playing and recording, unloaded; before: %d threads, %d handles\n",
                   nThreadsBefore, nHandlesBefore);
        }
        HMODULE hPlugin = LoadLibraryA(BesideProgram("BRAVIK32.dll").c_str());
        if (!hPlugin) {
            printf("   cycle %d: the plug-in does not load (error %lu)\n", nCycle, GetLastError());
            return 1;
        }
        auto pfnPlay = reinterpret_cast<PFN_START_FILE>(
            reinterpret_cast<void *>(GetProcAddress(hPlugin, "TV_StartPlayFile")));
        auto pfnRecord = reinterpret_cast<PFN_START_FILE>(
            reinterpret_cast<void *>(GetProcAddress(hPlugin, "TV_StartRecordFile")));
        auto pfnPlayRest = reinterpret_cast<PFN_REST>(
            reinterpret_cast<void *>(GetProcAddress(hPlugin, "TV_PlayFileRest")));
        auto pfnRecordRest = reinterpret_cast<PFN_REST>(
            reinterpret_cast<void *>(GetProcAddress(hPlugin, "TV_RecordFileRest")));
        // Where a cycle stands, for a run that hangs.
        fprintf(stderr, "   cycle %2d: loaded", nCycle);
        const int nPlay = pfnPlay(0, strPrompt.c_str(), 0, 0);
        fprintf(stderr, ", playing");
        const int nRecord = pfnRecord(0, strRecording.c_str(), 0, 0);
        fprintf(stderr, ", recording");
        Sleep(300);  // let both run for a while: a load, not a measurement
        const int nRunning = pfnPlayRest(0) + pfnRecordRest(0);
        fprintf(stderr, ", unloading\n");
        CStopwatch sinceStart;
        FreeLibrary(hPlugin);
        const DWORD dwUnloadMs = sinceStart.ElapsedMs();
        // The devices are closed by threads that start once the unload has
        // released the loader lock, and the system's audio threads end after
        // them: the counts come back shortly after.
        int nThreadsLeft = 0, nHandlesLeft = 0;
        SettledWithin(
            [&] {
                nThreadsLeft = static_cast<int>(ThreadsOfThisProcess().size()) - nThreadsBefore;
                nHandlesLeft = HandlesOfThisProcess() - nHandlesBefore;
                return nThreadsLeft <= 0 && nHandlesLeft <= 0;
            },
            D_dwSettleBoundMs);
        if (dwUnloadMs > dwUnloadMaxMs) dwUnloadMaxMs = dwUnloadMs;
        printf("   cycle %2d: play %d, record %d, jobs running %d of 2, unload %lu ms, threads %+d, handles %+d\n",
               nCycle, nPlay, nRecord, nRunning, static_cast<unsigned long>(dwUnloadMs), nThreadsLeft, nHandlesLeft);
        if (nCycle >= 0 && nThreadsLeft > 0) PrintThreadsLeft(threadsBefore);
        if (nCycle >= 0) bClean = bClean && nPlay == 0 && nRecord == 0 && nThreadsLeft <= 0 && nHandlesLeft <= 0;
    }
    printf("   longest unload %lu ms\n", static_cast<unsigned long>(dwUnloadMaxMs));
    DeleteFileA(strPrompt.c_str());
    DeleteFileA(strRecording.c_str());
    return bClean ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    const bool bRealDll = argc > 1 && strcmp(argv[1], "--real-dll") == 0;
    const int nCycles = argc > (bRealDll ? 2 : 1) ? atoi(argv[bRealDll ? 2 : 1]) : (bRealDll ? 20 : 200);
    const int nResult = bRealDll ? RunRealDll(nCycles) : RunWhiteBox(nCycles);
    printf("%s\n", nResult == 0 ? "clean" : "NOT CLEAN");
    return nResult;
}
