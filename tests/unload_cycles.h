// Unload cycles: the library's attach and detach steps (PluginAttach and
// PluginDetach, as DllMain runs them when a host loads and unloads the
// plug-in while its process goes on) over the emulated desk, cycle after
// cycle, each detach at a chosen moment. After each cycle the process's
// threads and handles must be back at their count before the first one.
// The short runs are tests; tools/stress_unload runs the long ones.
//
// Runs on the calling thread; the emulated desk and audio device are
// installed for the run and taken out after it. The plug-in's log goes
// beside the executable and is removed after the run.
#pragma once

#include <windows.h>

#include <string>

struct UnloadCycleOptions {
    int nCycles;
    // The desk's HID interfaces that refuse to open, the handset after them.
    int nRefusingDevices;
    // false: the detach comes at a random moment of the link's search (after
    // a random number of device opens, none to all of them). true: it comes
    // while a playback and a recording run on the connected handset.
    bool bDuringAudioJobs;
    unsigned uRandomStart;
};

struct UnloadCycleReport {
    int nCyclesRun = 0;
    int nThreadsBefore = 0;
    int nHandlesBefore = 0;
    // The most threads and handles seen above the count before, after a
    // cycle had settled (0 when every cycle was clean).
    int nThreadsLeftMax = 0;
    int nHandlesLeftMax = 0;
    // Link threads that Stop had to end by force (exit code 0, not 1).
    int nForcedEnds = 0;
    DWORD dwDetachMaxMs = 0;
    DWORD dwDetachTotalMs = 0;
    // The first thing that went wrong, with its cycle; empty when none did.
    std::string strProblem;
};

UnloadCycleReport RunUnloadCycles(const UnloadCycleOptions &options);

// One line of figures, for test failures and the long run's output.
std::string Describe(const UnloadCycleReport &report);
