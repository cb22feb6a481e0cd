// The soak programs' options, gauges, check tally and table (SoakReport.h).
#include "SoakReport.h"

#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ModuleHeap.h"
#include "process_threads.h"
#include "stopwatch.h"

namespace {

const int D_nPrintedFailures = 20;

// Every block in use in every heap of the process, walked under the heap's
// own lock.
long long HeapBytesInUse() {
    HANDLE ahHeaps[64];
    DWORD dwHeaps = GetProcessHeaps(64, ahHeaps);
    if (dwHeaps > 64) dwHeaps = 64;
    long long llInUse = 0;
    for (DWORD i = 0; i < dwHeaps; ++i) {
        if (!HeapLock(ahHeaps[i])) continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(ahHeaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) llInUse += entry.cbData;
        HeapUnlock(ahHeaps[i]);
    }
    return llInUse;
}

bool ParseCount(const char *szValue, int *pnOut) {
    char *pEnd = nullptr;
    long lValue = strtol(szValue, &pEnd, 10);
    if (!pEnd || *pEnd || lValue < 0 || lValue > 10000000) return false;
    *pnOut = static_cast<int>(lValue);
    return true;
}

const char *const D_aszGaugeNames[kGauges] = {"handles",          "threads",     "private bytes", "heap bytes in use",
                                              "  of the plug-in", "GDI objects", "USER objects",  "windows"};

// The open values of the handle table. Handles are multiples of 4 and a new
// one takes the lowest free value, so the table is dense from the bottom:
// the probe stops after a long run of free values past the last open one.
long long ProbedHandles() {
    const ULONG_PTR D_nFreeRunToStop = 4096 * 4;
    long long llOpen = 0;
    ULONG_PTR nLastOpen = 0;
    for (ULONG_PTR nValue = 4; nValue < nLastOpen + D_nFreeRunToStop; nValue += 4) {
        DWORD dwFlags;
        if (!GetHandleInformation(reinterpret_cast<HANDLE>(nValue), &dwFlags)) continue;
        ++llOpen;
        nLastOpen = nValue;
    }
    return llOpen;
}

BOOL CALLBACK CountOwnWindow(HWND hWnd, LPARAM lParam) {
    DWORD dwProcess = 0;
    GetWindowThreadProcessId(hWnd, &dwProcess);
    if (dwProcess == GetCurrentProcessId()) ++*reinterpret_cast<long long *>(lParam);
    return TRUE;
}

// Top-level and message-only windows of this process.
long long OwnWindows() {
    long long llWindows = 0;
    EnumWindows(CountOwnWindow, reinterpret_cast<LPARAM>(&llWindows));
    for (HWND hWnd = FindWindowExA(HWND_MESSAGE, nullptr, nullptr, nullptr); hWnd;
         hWnd = FindWindowExA(HWND_MESSAGE, hWnd, nullptr, nullptr))
        CountOwnWindow(hWnd, reinterpret_cast<LPARAM>(&llWindows));
    return llWindows;
}

}  // namespace

bool SSoakOptions::Parse(int argc, char **argv) {
    const struct {
        const char *szName;
        int *pnValue;
    } options[] = {{"--calls", &nCalls},
                   {"--warm-up", &nWarmUpCalls},
                   {"--unplug-every", &nUnplugEvery},
                   {"--reattach-every", &nReattachEvery},
                   {"--reregister-every", &nReregisterEvery}};
    for (int i = 1; i < argc; ++i) {
        bool bKnown = false;
        for (const auto &option : options) {
            if (strcmp(argv[i], option.szName) != 0) continue;
            bKnown = i + 1 < argc && ParseCount(argv[++i], option.pnValue);
            break;
        }
        if (!bKnown && strcmp(argv[i], "--report-growth-only") == 0) {
            bJudgeGrowth = false;
            bKnown = true;
        }
        if (!bKnown && strcmp(argv[i], "--random-start") == 0 && i + 1 < argc) {
            nRandomStart = static_cast<unsigned>(strtoul(argv[++i], nullptr, 10));
            bKnown = true;
        }
        if (!bKnown) {
            printf("unknown or incomplete option %s\n", argv[i]);
            return false;
        }
    }
    if (!nRandomStart) nRandomStart = CStopwatch::RandomStart() | 1u;
    if (nCalls < 2) {
        printf("a soak needs at least two calls: one to warm up, one to measure\n");
        return false;
    }
    return true;
}

int SSoakOptions::WarmUpCalls() const {
    int nWarm = nWarmUpCalls ? nWarmUpCalls : nCalls / 10;
    if (nWarm < 1) nWarm = 1;
    return nWarm < nCalls ? nWarm : nCalls - 1;
}

SSoakGauges &SSoakGauges::operator+=(const SSoakGauges &other) {
    for (int i = 0; i < kGauges; ++i) an[i] += other.an[i];
    return *this;
}

SSoakGauges SSoakGauges::operator-(const SSoakGauges &other) const {
    SSoakGauges difference;
    for (int i = 0; i < kGauges; ++i) difference.an[i] = an[i] - other.an[i];
    return difference;
}

namespace {

SSoakGauges ReadGaugesOnce() {
    SSoakGauges gauges;
    HANDLE hProcess = GetCurrentProcess();
    DWORD dwHandles = 0;
    gauges.an[kHandles] = GetProcessHandleCount(hProcess, &dwHandles) && dwHandles ? dwHandles : ProbedHandles();
    gauges.an[kThreads] = static_cast<long long>(ThreadsOfThisProcess().size());
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(hProcess, reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&memory), sizeof memory))
        gauges.an[kPrivateBytes] = static_cast<long long>(memory.PrivateUsage ? memory.PrivateUsage
                                                                              : memory.PagefileUsage);
    gauges.an[kHeapBytes] = HeapBytesInUse();
    gauges.an[kModuleHeapBytes] = ModuleHeapBytes();
    gauges.an[kGdiObjects] = GetGuiResources(hProcess, GR_GDIOBJECTS);
    gauges.an[kUserObjects] = GetGuiResources(hProcess, GR_USEROBJECTS);
    gauges.an[kWindows] = OwnWindows();
    return gauges;
}

}  // namespace

SSoakGauges ReadSoakGauges() {
    // The very first reading makes the platform set up what reading needs
    // (the window station for the window count, the snapshot machinery):
    // handles and heap that would otherwise show as growth.
    static const bool s_bPrimed = (ReadGaugesOnce(), true);
    (void)s_bPrimed;
    return ReadGaugesOnce();
}

CSoakChecks::CSoakChecks() : m_nPrinted(0) { InitializeCriticalSection(&m_cs); }

CSoakChecks::~CSoakChecks() { DeleteCriticalSection(&m_cs); }

bool CSoakChecks::Check(const char *szKind, bool bHolds, int nCall, const std::string &strWhat) {
    EnterCriticalSection(&m_cs);
    SCount &count = m_counts[szKind];
    ++(bHolds ? count.nPassed : count.nFailed);
    if (!bHolds && m_nPrinted++ < D_nPrintedFailures)
        printf("   FAILED at call %d: %s%s%s\n", nCall, szKind, strWhat.empty() ? "" : ": ", strWhat.c_str());
    LeaveCriticalSection(&m_cs);
    return bHolds;
}

void CSoakChecks::Add(const char *szKind, long long nPassed, long long nFailed) {
    EnterCriticalSection(&m_cs);
    SCount &count = m_counts[szKind];
    count.nPassed += nPassed;
    count.nFailed += nFailed;
    LeaveCriticalSection(&m_cs);
}

CSoakChecks::SCount CSoakChecks::CountOf(const char *szKind) const {
    EnterCriticalSection(&m_cs);
    auto found = m_counts.find(szKind);
    const SCount count = found == m_counts.end() ? SCount() : found->second;
    LeaveCriticalSection(&m_cs);
    return count;
}

long long CSoakChecks::TotalFailed() const {
    EnterCriticalSection(&m_cs);
    long long nFailed = 0;
    for (const auto &entry : m_counts) nFailed += entry.second.nFailed;
    LeaveCriticalSection(&m_cs);
    return nFailed;
}

std::string CSoakRandom::Digits(int nLength, const char *szAlphabet) {
    const int nLast = static_cast<int>(strlen(szAlphabet)) - 1;
    std::string strDigits;
    for (int i = 0; i < nLength; ++i) strDigits += szAlphabet[Between(0, nLast)];
    return strDigits;
}

double SoakSeconds() {
    static LARGE_INTEGER s_start = [] {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return now;
    }();
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - s_start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void PrintSoakProgress(int nCall) {
    if (nCall % 500 != 0) return;
    printf("   ... %d calls, %.0f s, heap bytes in use %lld\n", nCall, SoakSeconds(), HeapBytesInUse());
    fflush(stdout);
}

void PrintGaugeTable(int nWarmUpCall, const SSoakGauges &warm, const SSoakGauges &end, int nApart, const char *szApart,
                     const SSoakGauges &apart, const SSoakTolerance &tolerance) {
    printf("   %-18s %13s %13s %11s", "gauge", "after call", "at the end", "growth");
    if (nApart) printf(" %14s %11s", (std::to_string(nApart) + " x " + szApart).c_str(), "the rest");
    printf(" %10s\n", "tolerance");
    printf("   %-18s %13d\n", "", nWarmUpCall);
    const SSoakGauges growth = end - warm - apart;
    for (int i = 0; i < kGauges; ++i) {
        if (warm.an[i] < 0 && end.an[i] < 0) continue;  // not counted in this soak
        printf("   %-18s %13lld %13lld %+11lld", D_aszGaugeNames[i], warm.an[i], end.an[i], end.an[i] - warm.an[i]);
        if (nApart) printf(" %+14lld %+11lld", apart.an[i], growth.an[i]);
        if (tolerance.an[i] < 0)
            printf(" %10s  not judged\n", "-");
        else
            printf(" %10lld  %s\n", tolerance.an[i], growth.an[i] <= tolerance.an[i] ? "ok" : "GROWN");
    }
}

bool GaugesWithin(const SSoakGauges &growth, const SSoakTolerance &tolerance) {
    for (int i = 0; i < kGauges; ++i)
        if (tolerance.an[i] >= 0 && growth.an[i] > tolerance.an[i]) return false;
    return true;
}

void PrintCheckRows(const CSoakChecks &checks, const SSoakCheckRow *pRows, size_t nRows) {
    printf("   %-56s %10s %8s\n", "check", "made", "failed");
    for (size_t i = 0; i < nRows; ++i) {
        const long long nFailed = checks.Failed(pRows[i].szKind);
        printf("   %-56s %10lld %8lld  %s\n", pRows[i].szShown, checks.Passed(pRows[i].szKind) + nFailed, nFailed,
               nFailed ? "FAILED" : "ok");
    }
}

int PrintVerdict(const CSoakChecks &checks, int nCalls, double dSeconds) {
    const long long nFailed = checks.TotalFailed();
    printf("   %d calls in %.1f s (%.0f ms a call): %s\n", nCalls, dSeconds, 1000.0 * dSeconds / nCalls,
           nFailed ? "FAILED" : "PASSED");
    return nFailed ? 1 : 0;
}

void JudgeGrowth(CSoakChecks &checks, const SSoakOptions &options, const char *szKind, bool bWithin, int nCall) {
    if (options.bJudgeGrowth)
        checks.Check(szKind, bWithin, nCall);
    else
        printf("   %s: %s, reported only (short shift)\n", szKind, bWithin ? "within tolerance" : "GROWN");
}

std::string SoakFolder() {
    char szPath[MAX_PATH];
    DWORD dwLength = GetModuleFileNameA(nullptr, szPath, sizeof szPath);
    std::string strPath(szPath, dwLength);
    return strPath.substr(0, strPath.find_last_of('\\') + 1);
}

std::string ReadSoakFile(const std::string &strPath) {
    std::string strBytes;
    if (FILE *pFile = fopen(strPath.c_str(), "rb")) {
        char acChunk[65536];
        size_t nRead;
        while ((nRead = fread(acChunk, 1, sizeof acChunk, pFile)) > 0) strBytes.append(acChunk, nRead);
        fclose(pFile);
    }
    return strBytes;
}
