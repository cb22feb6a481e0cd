// What the handset link thread costs while nothing happens: its CPU time
// over a stretch of seconds with no handset attached (it searches every
// 2.2 s) and with a silent handset (it cancels and restarts a read every
// 2 s), as a share of one core. The goal is under 0.1 %. A thread that spins
// for the same kind of stretch is measured first, as the baseline that shows
// what one busy core looks like through the same clock.
//
// Usage: bench_idle [seconds per case, default 10]
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <functional>
#include <set>
#include <string>

#include "core/Halvex.h"
#include "hid/EmulatedHid.h"
#include "process_threads.h"
#include "stopwatch.h"
#include "support/LogReporter.h"

namespace {

// The one thread that appeared since `before`, opened for its times.
HANDLE OpenNewThread(const std::set<DWORD> &before) {
    for (DWORD dwId : ThreadsOfThisProcess())
        if (!before.count(dwId)) return OpenThread(THREAD_QUERY_INFORMATION, FALSE, dwId);
    return nullptr;
}

double CpuMilliseconds(HANDLE hThread) {
    FILETIME ftCreation, ftExit, ftKernel, ftUser;
    if (!GetThreadTimes(hThread, &ftCreation, &ftExit, &ftKernel, &ftUser)) return 0;
    auto ticks = [](const FILETIME &ft) {
        return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    };
    return (ticks(ftKernel) + ticks(ftUser)) / 10000.0;
}

struct Share {
    double dCpuMs;
    DWORD dwWallMs;
    double Percent() const { return dwWallMs ? 100.0 * dCpuMs / dwWallMs : -1; }
};

// Starts a thread with `start`, measures its CPU time over dwMilliseconds,
// then ends it with `stop`.
Share MeasureShare(DWORD dwMilliseconds, const std::function<void()> &start, const std::function<void()> &stop) {
    const std::set<DWORD> before = ThreadsOfThisProcess();
    start();
    Sleep(300);  // past the thread's start-up and its first search
    HANDLE hThread = OpenNewThread(before);
    if (!hThread) {
        stop();
        return Share{0, 0};
    }
    const double dCpuStart = CpuMilliseconds(hThread);
    const CStopwatch sinceStart;
    Sleep(dwMilliseconds);
    const double dCpu = CpuMilliseconds(hThread) - dCpuStart;
    const DWORD dwWall = sinceStart.ElapsedMs();
    stop();
    CloseHandle(hThread);
    return Share{dCpu, dwWall};
}

Share SpinningBaseline(DWORD dwMilliseconds) {
    std::atomic<bool> bSpin{true};
    HANDLE hSpinner = nullptr;
    auto spin = [](LPVOID pFlag) -> DWORD {
        volatile unsigned long ulWork = 0;
        while (static_cast<std::atomic<bool> *>(pFlag)->load()) ++ulWork;
        return 0;
    };
    return MeasureShare(
        dwMilliseconds, [&] { hSpinner = CreateThread(nullptr, 0, spin, &bSpin, 0, nullptr); },
        [&] {
            bSpin = false;
            WaitForSingleObject(hSpinner, 5000);
            CloseHandle(hSpinner);
        });
}

Share LinkShare(DWORD dwMilliseconds, const std::function<void(CEmulatedHid &)> &layOut) {
    CEmulatedHid &desk = CEmulatedHid::Instance();
    desk.Reset();
    if (layOut) {
        layOut(desk);
        desk.Install();
    }
    Share share;
    {
        Halvex link;
        share = MeasureShare(
            dwMilliseconds, [&] { link.Start(0); }, [&] { link.Stop(CDeadline(CBaseThread::D_dwStopBoundMs)); });
    }
    desk.Uninstall();
    return share;
}

void RemoveBenchLogs(const std::string &strDirectory) {
    WIN32_FIND_DATAA found;
    HANDLE hFind = FindFirstFileA((strDirectory + "bench_idle_*.log").c_str(), &found);
    if (hFind == INVALID_HANDLE_VALUE) return;
    do DeleteFileA((strDirectory + found.cFileName).c_str());
    while (FindNextFileA(hFind, &found));
    FindClose(hFind);
}

std::string ExeDirectory() {
    char szPath[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    std::string strPath(szPath);
    return strPath.substr(0, strPath.find_last_of('\\') + 1);
}

// The thread clock advances in ticks of about 10 ms; a thread that used
// less than one tick is reported as below one tick.
void Report(const char *szCase, const Share &share, const Share &baseline) {
    const double dTickMs = 10.0;
    if (share.dwWallMs == 0) {
        printf("  %-40s (thread not found)\n", szCase);
        return;
    }
    const double dPercent = share.Percent();
    const double dBound = share.dCpuMs > 0 ? dPercent : 100.0 * dTickMs / share.dwWallMs;
    printf("  %-40s %7.1f ms CPU in %5.1f s = %s%.4f %% of one core, ratio to baseline %.6f %s\n", szCase, share.dCpuMs,
           share.dwWallMs / 1000.0, share.dCpuMs > 0 ? "" : "< ", dBound,
           baseline.Percent() > 0 ? dBound / baseline.Percent() : 0.0,
           dBound <= 0.1      ? "(goal met)"
           : share.dCpuMs > 0 ? "(OVER GOAL)"
                              : "(below clock resolution)");
}

}  // namespace

int main(int argc, char **argv) {
    const DWORD dwSeconds = argc > 1 ? static_cast<DWORD>(atoi(argv[1])) : 10;
    const DWORD dwMilliseconds = (dwSeconds ? dwSeconds : 1) * 1000;
    // The link logs every search; the log is part of what an idle link costs.
    const std::string strDirectory = ExeDirectory();
    RemoveBenchLogs(strDirectory);
    g_LogReporter.Open("bench_idle", "_", false);

    printf("Link thread CPU while idle over %lu s per case (goal under 0.1 %% of one core):\n",
           static_cast<unsigned long>(dwSeconds));
    const Share baseline = SpinningBaseline(1000);
    printf("  %-40s %7.1f ms CPU in %5.1f s = %.1f %% of one core (baseline)\n", "a spinning thread", baseline.dCpuMs,
           baseline.dwWallMs / 1000.0, baseline.Percent());
    Report("no handset (emulated desk)",
           LinkShare(dwMilliseconds, [](CEmulatedHid &desk) { desk.UseDeskWithoutHandset(); }), baseline);
    Report("silent handset (emulated)", LinkShare(dwMilliseconds, [](CEmulatedHid &) {}), baseline);
    Report("no handset (Wine's own HID devices)", LinkShare(dwMilliseconds, nullptr), baseline);

    g_LogReporter.Close(CDeadline(D_dwLogLockMs));
    RemoveBenchLogs(strDirectory);
    return 0;
}
