// The library's detach step, as a host that unloads the plug-in and goes on
// runs it, again and again: nothing may hang, and each cycle must leave the
// process with the threads and handles it had before.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>

#include "audio/EmulatedWave.h"
#include "core/PluginLifecycle.h"
#include "platform/wave_api.h"
#include "silent_prompt.h"
#include "stopwatch.h"
#include "unload_cycles.h"

namespace {

// Generous for a busy machine, and still far below the probe's stall.
const DWORD D_dwUnloadMarginMs = 2000;
const DWORD D_dwStallMs = 8000;
const DWORD D_dwEventBoundMs = 15000;

std::string BesideTest(const std::string &strName) {
    char szPath[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    std::string strPath(szPath);
    return strPath.substr(0, strPath.rfind('\\') + 1) + strName;
}

// The newest plug-in log beside the test, whole.
std::string NewestLog() {
    WIN32_FIND_DATAA found;
    std::string strNewest;
    HANDLE hFind = FindFirstFileA(BesideTest("halvex_*.log").c_str(), &found);
    for (BOOL bMore = hFind != INVALID_HANDLE_VALUE; bMore; bMore = FindNextFileA(hFind, &found))
        if (strNewest.empty() || strNewest < found.cFileName) strNewest = found.cFileName;
    if (hFind != INVALID_HANDLE_VALUE) FindClose(hFind);
    std::ifstream log(BesideTest(strNewest), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>());
}

// The wave message thread's unprepare, made to stall once: it runs under
// the output's lock, so the lock stays with a thread that the unload has to
// end where it stands.
std::atomic<LONG> g_lStallMs{0};
HANDLE g_hStalling = CreateEventA(nullptr, TRUE, FALSE, nullptr);
PFN_waveOutUnprepareHeader g_pfnUnprepare = nullptr;
MMRESULT WINAPI StallingUnprepare(HWAVEOUT hwo, LPWAVEHDR pHdr, UINT cbHdr) {
    if (const LONG lStallMs = g_lStallMs.exchange(0)) {
        SetEvent(g_hStalling);
        Sleep(static_cast<DWORD>(lStallMs));
    }
    return g_pfnUnprepare(hwo, pHdr, cbHdr);
}

// Another host thread that loads a library while the unload runs.
struct LoadingThread {
    HANDLE hGo;
    DWORD dwLoadMs;
    static DWORD WINAPI Proc(LPVOID lpContext) {
        LoadingThread *pThis = static_cast<LoadingThread *>(lpContext);
        WaitForSingleObject(pThis->hGo, INFINITE);
        CStopwatch sinceStart;
        HMODULE hModule = LoadLibraryA("version.dll");
        pThis->dwLoadMs = sinceStart.ElapsedMs();
        if (hModule) FreeLibrary(hModule);
        return 0;
    }
};

// Fault: an unload while the wave message thread stalled in a wave call
// under the output's lock hung the host for good: the thread was ended there
// and the detach step, holding the loader lock, then waited for that lock
// without a bound; every other thread's library load waited with it.
TEST(UnloadHangProbe, RegressionAStallUnderTheOutputLockNoLongerHangsTheHost) {
    const std::string strPrompt = BesideTest("unload_probe_prompt.wav");
    WriteSilentPrompt(strPrompt, 160000);  // ten seconds
    CEmulatedWave &wave = CEmulatedWave::Instance();
    wave.InstallTypicalDesk();
    g_pfnUnprepare = g_Wave.waveOutUnprepareHeader;
    g_Wave.waveOutUnprepareHeader = StallingUnprepare;
    ResetEvent(g_hStalling);

    HMODULE hProbe = LoadLibraryA(BesideTest("unload_probe.dll").c_str());
    ASSERT_NE(hProbe, nullptr);
    auto pfnUseTable = reinterpret_cast<void (*)(const WAVE_API *)>(
        reinterpret_cast<void *>(GetProcAddress(hProbe, "ProbeUseWaveTable")));
    auto pfnPlay = reinterpret_cast<int (*)(const char *)>(
        reinterpret_cast<void *>(GetProcAddress(hProbe, "ProbeStartPlayFile")));
    ASSERT_TRUE(pfnUseTable && pfnPlay);
    pfnUseTable(&g_Wave);
    g_lStallMs = D_dwStallMs;
    ASSERT_EQ(0, pfnPlay(strPrompt.c_str()));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(g_hStalling, D_dwEventBoundMs)) << "no block came back";

    LoadingThread loading{CreateEventA(nullptr, TRUE, FALSE, nullptr), 0};
    HANDLE hLoading = CreateThread(nullptr, 0, LoadingThread::Proc, &loading, 0, nullptr);
    ASSERT_NE(hLoading, nullptr);
    CStopwatch sinceStart;
    SetEvent(loading.hGo);
    FreeLibrary(hProbe);
    const DWORD dwUnloadMs = sinceStart.ElapsedMs();
    EXPECT_LT(dwUnloadMs, D_dwDetachBoundMs + D_dwUnloadMarginMs) << "FreeLibrary took past the detach bound";
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hLoading, D_dwEventBoundMs));
    EXPECT_LT(loading.dwLoadMs, D_dwDetachBoundMs + D_dwUnloadMarginMs) << "another thread's load waited past it";
    CloseHandle(hLoading);
    CloseHandle(loading.hGo);

    const std::string strLog = NewestLog();
    const size_t nLastLine = strLog.rfind('\n', strLog.size() >= 2 ? strLog.size() - 2 : 0);
    const std::string strLastLine = strLog.substr(nLastLine == std::string::npos ? 0 : nLastLine + 1);
    EXPECT_NE(std::string::npos, strLastLine.find("\tHalvexV4 BRAVIK32.dll Log Exited")) << strLog;

    wave.Reset();
    wave.Uninstall();
    DeleteFileA(strPrompt.c_str());
}

struct UnloadCase {
    const char *szName;
    UnloadCycleOptions options;
};

void PrintTo(const UnloadCase &unload, std::ostream *pStream) { *pStream << unload.szName; }

class UnloadCycles : public ::testing::TestWithParam<UnloadCase> {};

TEST_P(UnloadCycles, LeaveNoThreadNoHandleAndNoDeviceOpen) {
    UnloadCycleOptions options = GetParam().options;
    options.uRandomStart = CStopwatch::RandomStart();
    const UnloadCycleReport report = RunUnloadCycles(options);
    printf("  %s (random start %u)\n", Describe(report).c_str(), options.uRandomStart);
    EXPECT_EQ("", report.strProblem) << Describe(report);
    EXPECT_EQ(options.nCycles, report.nCyclesRun);
    EXPECT_EQ(0, report.nThreadsLeftMax) << Describe(report);
    EXPECT_EQ(0, report.nHandlesLeftMax) << Describe(report);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Detach, UnloadCycles,
    ::testing::Values(UnloadCase{"AtRandomMomentsOfASearchOfThousandsOfDevices", {8, 3000, false, 0}},
                      UnloadCase{"DuringAPlaybackAndARecording", {6, 3, true, 0}}),
    [](const ::testing::TestParamInfo<UnloadCase> &info) { return std::string(info.param.szName); });
// clang-format on

}  // namespace
