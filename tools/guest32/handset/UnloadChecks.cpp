// Unloads of the shipped plug-in in the middle of its work: while a file
// plays into the earpiece, and while it searches for an unplugged handset.
// After each, no thread and no handle of the process is more than before
// the load (Wine's own one-time objects were made by the session before),
// and Wine's side of the loopback is closed in the kernel.
#include <cstdio>
#include <map>
#include <set>

#include "RealHandset.h"
#include "process_threads.h"

namespace {

struct SSnapshot {
    std::set<DWORD> threads;
    std::map<ULONG_PTR, PVOID> handles;
};

SSnapshot Take() {
    SSnapshot s;
    s.threads = ThreadsOfThisProcess();
    HandleListOfThisProcess(s.handles);
    return s;
}

// Waits (bounded) for the threads started since `before` to end.
void CompareWith(const char *pszWhat, const SSnapshot &before, DWORD dwUnloadMs) {
    const CStopwatch sinceStart;
    SSnapshot after = Take();
    auto newThreads = [&]() {
        int n = 0;
        for (DWORD id : after.threads) n += !before.threads.count(id);
        return n;
    };
    while (newThreads() > 0 && sinceStart.ElapsedMs() < 10000) {
        PumpFor(50);
        after = Take();
    }
    int nNewHandles = 0;
    for (const auto &entry : after.handles) nNewHandles += !before.handles.count(entry.first);
    Figure("unload %s: FreeLibrary %lu ms; threads %u before the load, %u after; handles %u before, %u after "
           "(%d not there before)",
           pszWhat, static_cast<unsigned long>(dwUnloadMs), static_cast<unsigned>(before.threads.size()),
           static_cast<unsigned>(after.threads.size()), static_cast<unsigned>(before.handles.size()),
           static_cast<unsigned>(after.handles.size()), nNewHandles);
    Check(newThreads() == 0 && nNewHandles == 0, "unload %s leaves no thread (%d) and no handle (%d)", pszWhat,
          newThreads(), nNewHandles);
}

bool AwaitWineSide(bool bOpen, DWORD dwMs) {
    const CStopwatch sinceStart;
    std::vector<std::string> reply;
    while (sinceStart.ElapsedMs() < dwMs) {
        if (Device("alsa", reply) && !reply.empty() && (reply[0] == "closed") != bOpen) return true;
        PumpFor(50);
    }
    return false;
}

DWORD TimedUnload(HMODULE hModule) {
    const CStopwatch sinceStart;
    FreeLibrary(hModule);
    return sinceStart.ElapsedMs();
}

void UnloadWhilePlaying(const char *pszPath) {
    const SSnapshot before = Take();
    SPlugin plugin;
    if (!LoadPlugin(pszPath, plugin) || AwaitHandsetOpen(plugin, 20000) < 0) {
        Check(false, "unload while playing: the plug-in loads and finds the handset");
        return;
    }
    // play.wav is the 3-s file of the playback check: the unload comes while
    // its first block plays.
    const int nStarted = plugin.pfnStartPlay(0, "play.wav", 0, 0);
    const bool bPlaying = nStarted == 0 && AwaitWineSide(true, 5000);
    Check(bPlaying, "unload while playing: the playback runs on the kernel's device");
    const DWORD dwUnloadMs = TimedUnload(plugin.hModule);
    CompareWith("while playing", before, dwUnloadMs);
    Check(AwaitWineSide(false, 5000), "unload while playing: the device is closed on the kernel side");
}

void UnloadWhileSearching(const char *pszPath) {
    Device("unplug");
    const SSnapshot before = Take();
    SPlugin plugin;
    TakeJournal();
    const bool bLoaded = LoadPlugin(pszPath, plugin);
    const bool bSearching = bLoaded && AwaitMessage(BRAVIK32_MSG_NO_HANDSET, 20000);
    Check(bSearching, "unload while searching: the plug-in searches (1134 came)");
    if (bLoaded) CompareWith("while searching", before, TimedUnload(plugin.hModule));
    Device("plug");
}

}  // namespace

void CheckUnloads(const char *pszPath) {
    UnloadWhilePlaying(pszPath);
    UnloadWhileSearching(pszPath);
}
