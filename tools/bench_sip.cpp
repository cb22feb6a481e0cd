// Benchmark of the SIP plug-in's blocking exports: how long after the event
// that ends its wait does an export return? The simulated KIRO.dll notes the
// performance counter just before it hands each event to the plug-in; the
// export's return is read right after the call. Over 200 waited calls (100
// answers ended by the connected event, 100 hang-ups ended by the closed
// event) it prints median and 99th percentile in milliseconds, and the ratio
// to a baseline measured in the same run: one 1 ms sleep, the step of the
// exports' state polls. Goal: median at most 2 ms.
//
// Run from its folder: the plug-in and the simulated KIRO.dll lie in sip\.
#include <windows.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "KiroApi.h"
#include "KiroSim.h"
#include "marenta.h"

namespace {
const int D_nCallPairs = 100;
const int D_nIdleMs = 3000;

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
  HMODULE hPlugin = LoadLibraryExA((strFolder + "sip\\BRAVIK32.dll").c_str(), nullptr,
                                   LOAD_WITH_ALTERED_SEARCH_PATH);
  return hPlugin ? hPlugin : LoadLibraryA("BRAVIK32.dll");
}

template <typename F>
bool Bind(HMODULE hModule, F &pfn, const char *szName) {
  pfn = reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(hModule, szName)));
  return pfn != nullptr;
}

double BaselineSleepMs() {
  std::vector<double> samples;
  for (int i = 0; i < 50; ++i) {
    LONGLONG llStart = Now();
    Sleep(1);
    samples.push_back(TicksToMs(Now() - llStart));
  }
  return Percentile(samples, 0.5);
}

// One waited export: latency from the dispatch of nCode to its return.
bool Measure(PFN_TV_NoArgument pfnExport, int nCode, const CKiroSimControls &sim,
             std::vector<double> &samples) {
  int nResult = pfnExport();
  LONGLONG llReturned = Now();
  if (nResult != 0) return false;
  samples.push_back(TicksToMs(llReturned - sim.DispatchTime(nCode)));
  return true;
}

void Report(const char *szWhat, const std::vector<double> &samples, double dBaseline) {
  double dMedian = Percentile(samples, 0.5);
  printf("%-28s %4zu calls  median %6.3f ms  p99 %6.3f ms  median/baseline %5.2f\n", szWhat,
         samples.size(), dMedian, Percentile(samples, 0.99), dMedian / dBaseline);
}
}  // namespace

int main() {
  HMODULE hPlugin = LoadPlugin();
  HMODULE hKiro = GetModuleHandleA("KIRO.dll");
  SPlugin plugin = {};
  CKiroSimControls sim;
  if (!hPlugin || !hKiro || !sim.Bind(hKiro) || !Bind(hPlugin, plugin.Initialize, "TV_Initialize") ||
      !Bind(hPlugin, plugin.OffHook, "TV_OffHook") ||
      !Bind(hPlugin, plugin.HangUpCall, "TV_HangUpCall")) {
    printf("cannot load sip\\BRAVIK32.dll beside the simulated KIRO.dll\n");
    return 1;
  }
  sim.Reset();
  if (plugin.Initialize("example.com", "1001", "secret", "proxy.example.com", "") != 0) {
    printf("registration failed\n");
    return 1;
  }
  double dBaseline = BaselineSleepMs();
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
  printf("baseline: one Sleep(1) poll step, median %.3f ms\n", dBaseline);
  Report("TV_OffHook (connected)", answers, dBaseline);
  Report("TV_HangUpCall (closed)", hangUps, dBaseline);
  Report("all waited calls", all, dBaseline);
  sim.Reset();
  return 0;
}
