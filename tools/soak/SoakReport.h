// What both soak programs share: their options, the process gauges read after
// the warm-up and at the end, the tally of checks, and the table they print.
//
// Threads: the gauges are read by the soak's main thread while the host
// threads it drives are held outside the plug-in; CSoakChecks is called from
// any thread and guards itself with one critical section.
#pragma once

#include <windows.h>

#include <map>
#include <random>
#include <string>

struct SSoakOptions {
    int nCalls = 2000;
    int nWarmUpCalls = 0;        // 0: a tenth of the calls, at least one
    int nUnplugEvery = 50;       // handset: unplug and plug in again
    int nReattachEvery = 200;    // handset: detach and attach the plug-in
    int nReregisterEvery = 100;  // SIP: unregister and register again
    unsigned nRandomStart = 0;   // 0: taken from the clock (printed, to repeat a run)
    // A short shift (the test run's) reports the growth without judging it:
    // its warm-up cannot take every path that sets something up on first use.
    bool bJudgeGrowth = true;  // "--report-growth-only" clears it

    // "--calls N" and friends; false (with a message) on anything else.
    bool Parse(int argc, char **argv);
    int WarmUpCalls() const;
};

// The process's resources, as the agent desktop's support staff would watch
// them in Task Manager, plus the heap bytes in use, which see a small leak
// long before the page-granular private bytes do. Where Wine answers a
// question with a stub (handle count, private usage, GDI and USER objects)
// the same quantity is read another way: handles by probing the handle
// table, private bytes as the commit charge, and the windows of the process
// beside the window-manager counts, which Wine leaves at 0.
// kModuleHeapBytes: what the plug-in module holds, where it is counted at
// its imports (ModuleHeap.h); -1 in both readings where it is not.
// Plain: a gauge indexes SSoakGauges::an, and kGauges counts them.
enum ESoakGauge {
    kHandles,
    kThreads,
    kPrivateBytes,
    kHeapBytes,
    kModuleHeapBytes,
    kGdiObjects,
    kUserObjects,
    kWindows,
    kGauges
};

struct SSoakGauges {
    long long an[kGauges] = {};
    SSoakGauges &operator+=(const SSoakGauges &other);
    SSoakGauges operator-(const SSoakGauges &other) const;
};
SSoakGauges ReadSoakGauges();

// What each gauge may grow by between the two readings. Handles, threads
// and windows are counted exactly at a quiet moment: their tolerance is 0.
// Private bytes move in whole pages and heap segments, so theirs is a few
// of those; the heap bytes in use are exact, and theirs covers what the
// stand-ins beside the plug-in keep by design (each soak says what). A
// negative tolerance: the gauge is shown but not judged.
typedef SSoakGauges SSoakTolerance;
const long long D_llNotJudged = -1;

// A tally of named checks: how many were made and how many failed. The first
// failures are printed as they happen, with the call they belong to.
class CSoakChecks {
public:
    CSoakChecks();
    ~CSoakChecks();
    // Counts one check of the kind; prints the failure when it failed.
    bool Check(const char *szKind, bool bHolds, int nCall, const std::string &strWhat = "");
    // Counts nMore checks of the kind, all passed (a quantity check: digits).
    void Add(const char *szKind, long long nPassed, long long nFailed);
    long long Passed(const char *szKind) const { return CountOf(szKind).nPassed; }
    long long Failed(const char *szKind) const { return CountOf(szKind).nFailed; }
    long long TotalFailed() const;

private:
    struct SCount {
        long long nPassed = 0;
        long long nFailed = 0;
    };
    SCount CountOf(const char *szKind) const;
    mutable CRITICAL_SECTION m_cs;
    std::map<std::string, SCount> m_counts;
    int m_nPrinted;
};

// The soak's random choices, from a start value printed with the results.
class CSoakRandom {
public:
    explicit CSoakRandom(unsigned nStart) : m_engine(nStart) {}
    int Between(int nLow, int nHigh) {  // both included
        return std::uniform_int_distribution<int>(nLow, nHigh)(m_engine);
    }
    std::string Digits(int nLength, const char *szAlphabet);

private:
    std::mt19937 m_engine;
};

// Seconds since the first call, from the performance counter.
double SoakSeconds();
// Every 500 calls: the time so far and the heap bytes in use (read while
// the shift goes on, so only a hint of a trend).
void PrintSoakProgress(int nCall);

// The printed table of the gauges: the two readings, the growth between
// them, the part of it that came with events counted apart (nApart of
// them, e.g. detach and attach; none when 0), and the rest, which is held
// to the tolerance.
void PrintGaugeTable(int nWarmUpCall, const SSoakGauges &warm, const SSoakGauges &end, int nApart, const char *szApart,
                     const SSoakGauges &apart, const SSoakTolerance &tolerance);
bool GaugesWithin(const SSoakGauges &growth, const SSoakTolerance &tolerance);
struct SSoakCheckRow {
    const char *szKind;   // as counted by CSoakChecks
    const char *szShown;  // as printed
};
void PrintCheckRows(const CSoakChecks &checks, const SSoakCheckRow *pRows, size_t nRows);
// The last line: how many calls in how long, PASSED or FAILED; the exit code.
int PrintVerdict(const CSoakChecks &checks, int nCalls, double dSeconds);
// The folder of the soak program, with its backslash: the plug-ins' logs
// land there.
std::string SoakFolder();
// Counts the growth check of the kind, or says that it is only reported.
void JudgeGrowth(CSoakChecks &checks, const SSoakOptions &options, const char *szKind, bool bWithin, int nCall);
// A whole file's bytes; empty when it cannot be read.
std::string ReadSoakFile(const std::string &strPath);
