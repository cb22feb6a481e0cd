// Benchmark of the SIP plug-in's blocking exports, against the polling wait
// they replaced (5000 polls of the state, a Sleep(1) between polls), which
// is measured in the same run on the same machine.
//
// 1. Wake-up: how long after the event that ends its wait does an export
//    return? The simulated KIRO.dll notes the performance counter just before
//    it hands each event to the plug-in; the export's return is read right
//    after the call. 200 waited calls: 100 answers ended by the connected
//    event, 100 hang-ups ended by the closed event. The polling wait is timed
//    the same way: a thread sets the state its poller watches. Median and
//    99th percentile, and their ratios to the polling wait's.
// 2. A wait that times out: wall and CPU time of the host's thread during a
//    TV_OffHook whose connected event never comes, against the polling wait
//    left to run its 5000 polls. Goal: a small fraction of its CPU time.
//
// Run from its folder: the plug-in and the simulated KIRO.dll lie in sip\.
#include <windows.h>
#include <stdio.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "KiroApi.h"
#include "KiroSim.h"
#include "marenta.h"

namespace {
const int D_nCallPairs = 100;
const int D_nPollSamples = 100;
const int D_nIdleMs = 3000;
// The replaced wait: this many polls, a 1 ms sleep after each miss.
const int D_nOldPolls = 5000;

struct SPlugin {
    PFN_TV_Initialize Initialize;
    PFN_TV_NoArgument OffHook;
    PFN_TV_NoArgument HangUpCall;
};

double TicksToMs(LONGLONG llTicks) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(llTicks) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

LONGLONG Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// CPU time (kernel and user) this thread has used, in ms.
double ThreadCpuMs() {
    FILETIME aTimes[4];
    GetThreadTimes(GetCurrentThread(), &aTimes[0], &aTimes[1], &aTimes[2], &aTimes[3]);
    ULONGLONG ullHundredNs = 0;
    for (int i = 2; i < 4; ++i)
        ullHundredNs += (static_cast<ULONGLONG>(aTimes[i].dwHighDateTime) << 32) | aTimes[i].dwLowDateTime;
    return static_cast<double>(ullHundredNs) / 10000.0;
}

double Percentile(std::vector<double> samples, double dFraction) {
    std::sort(samples.begin(), samples.end());
    size_t nIndex = static_cast<size_t>(dFraction * static_cast<double>(samples.size() - 1) + 0.5);
    return samples[nIndex];
}

HMODULE LoadPlugin() {
    char szPath[MAX_PATH];
    DWORD dwLength = GetModuleFileNameA(nullptr, szPath, sizeof szPath);
    std::string strFolder(szPath, dwLength);
    strFolder = strFolder.substr(0, strFolder.find_last_of('\\') + 1);
    // The altered search path finds KIRO.dll beside the plug-in, not beside us.
    HMODULE hPlugin = LoadLibraryExA((strFolder + "sip\\BRAVIK32.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return hPlugin ? hPlugin : LoadLibraryA("BRAVIK32.dll");
}

template <typename F>
bool Bind(HMODULE hModule, F &pfn, const char *szName) {
    pfn = reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(hModule, szName)));
    return pfn != nullptr;
}

// The replaced wait, as it was: true once nState holds a bit of nMask.
std::atomic<uint32_t> g_nState{0};
bool PollingWait(uint32_t nMask) {
    for (int nPoll = 0; nPoll < D_nOldPolls; ++nPoll) {
        if (g_nState.load() & nMask) return true;
        Sleep(1);
    }
    return false;
}

// The polling wait's wake-up: a thread sets the state a little after the
// poller began, as an event thread would, and notes when.
std::atomic<LONGLONG> g_llSetAt{0};
DWORD WINAPI SetStateSoon(void *) {
    Sleep(3);
    g_llSetAt.store(Now());
    g_nState.store(1);
    return 0;
}

std::vector<double> PollingWakeUps() {
    std::vector<double> samples;
    for (int i = 0; i < D_nPollSamples; ++i) {
        g_nState.store(0);
        HANDLE hSetter = CreateThread(nullptr, 0, &SetStateSoon, nullptr, 0, nullptr);
        PollingWait(1);
        samples.push_back(TicksToMs(Now() - g_llSetAt.load()));
        WaitForSingleObject(hSetter, INFINITE);
        CloseHandle(hSetter);
    }
    return samples;
}

// One waited export: latency from the dispatch of nCode to its return.
bool Measure(PFN_TV_NoArgument pfnExport, int nCode, const CKiroSimControls &sim, std::vector<double> &samples) {
    int nResult = pfnExport();
    LONGLONG llReturned = Now();
    if (nResult != 0) return false;
    samples.push_back(TicksToMs(llReturned - sim.DispatchTime(nCode)));
    return true;
}

void Report(const char *szWhat, const std::vector<double> &samples, const std::vector<double> &polling) {
    double dMedian = Percentile(samples, 0.5), dP99 = Percentile(samples, 0.99);
    printf("%-26s %4zu  median %7.3f ms  p99 %7.3f ms  vs polling: median %5.3f  p99 %5.3f\n", szWhat, samples.size(),
           dMedian, dP99, dMedian / Percentile(polling, 0.5), dP99 / Percentile(polling, 0.99));
}

struct SSpent {
    double dWallMs, dCpuMs;
};

template <typename F>
SSpent Spend(F wait) {
    double dCpuStart = ThreadCpuMs();
    LONGLONG llStart = Now();
    wait();
    return SSpent{TicksToMs(Now() - llStart), ThreadCpuMs() - dCpuStart};
}
}  // namespace

int main() {
    HMODULE hPlugin = LoadPlugin();
    HMODULE hKiro = GetModuleHandleA("KIRO.dll");
    SPlugin plugin = {};
    CKiroSimControls sim;
    if (!hPlugin || !hKiro || !sim.Bind(hKiro) || !Bind(hPlugin, plugin.Initialize, "TV_Initialize") ||
        !Bind(hPlugin, plugin.OffHook, "TV_OffHook") || !Bind(hPlugin, plugin.HangUpCall, "TV_HangUpCall")) {
        printf("cannot load sip\\BRAVIK32.dll beside the simulated KIRO.dll\n");
        return 1;
    }
    sim.Reset();
    if (plugin.Initialize("example.com", "1001", "secret", "proxy.example.com", "") != 0) {
        printf("registration failed\n");
        return 1;
    }
    std::vector<double> polling = PollingWakeUps();
    std::vector<double> answers, hangUps;
    for (int i = 0; i < D_nCallPairs; ++i) {
        sim.OfferCall(sim.LatestLine());
        if (!sim.WaitIdle(D_nIdleMs) || !Measure(plugin.OffHook, KIRO_CALL_CONNECTED, sim, answers) ||
            !Measure(plugin.HangUpCall, KIRO_CALL_CLOSED, sim, hangUps) || !sim.WaitIdle(D_nIdleMs)) {
            printf("call %d did not go through\n", i + 1);
            return 1;
        }
    }
    std::vector<double> all(answers);
    all.insert(all.end(), hangUps.begin(), hangUps.end());
    printf("== wake-up: from the ending event to the export's return\n");
    printf("%-26s %4zu  median %7.3f ms  p99 %7.3f ms\n", "polling wait (replaced)", polling.size(),
           Percentile(polling, 0.5), Percentile(polling, 0.99));
    Report("TV_OffHook (connected)", answers, polling);
    Report("TV_HangUpCall (closed)", hangUps, polling);
    Report("all waited calls", all, polling);

    printf("== a wait that times out: the host thread's time\n");
    g_nState.store(0);
    SSpent old = Spend([] { PollingWait(1); });
    sim.OfferCall(sim.LatestLine());
    sim.WaitIdle(D_nIdleMs);
    sim.SetEventDelay(KIRO_CALL_CONNECTED, KIROSIM_DROP);
    int nResult = 0;
    SSpent now = Spend([&] { nResult = plugin.OffHook(); });
    printf("polling wait (replaced)    wall %7.0f ms  CPU %7.1f ms\n", old.dWallMs, old.dCpuMs);
    printf("TV_OffHook (result %d)     wall %7.0f ms  CPU %7.1f ms\n", nResult, now.dWallMs, now.dCpuMs);
    printf("CPU ratio (clock-bounded / polling): %.4f  (goal: a small fraction)\n",
           old.dCpuMs > 0 ? now.dCpuMs / old.dCpuMs : 0.0);
    sim.Reset();
    return 0;
}
