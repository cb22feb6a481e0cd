// handset_real: the shipped BRAVIK32.dll against the kernel's handset.
//   handsetd -- wine handset_real.exe BRAVIK32.dll
// (handset-run.sh starts it so). Each check prints "  ok" or "FAIL" with
// what it saw, each measurement a "figure:" line; the closing line counts
// them. The sequence: what Wine shows of the handset, the search, every
// command and switch export, the scripted events, unplug and replug, play
// and record, then unloads while playing and while searching.
#include <cstdio>
#include <cstring>

#include "RealHandset.h"

namespace {

struct SCommand {
    const char *pszWhat;
    int (*pfnCall)(const SPlugin &);
    const char *apszLines[2];
};

#define CALL(type, name, ...) \
    [](const SPlugin &p) { return reinterpret_cast<type>(Export(p, name))(__VA_ARGS__); }

// Every export that sends a command line, with the lines the handset must
// get. The file exports are checked with their sound (SignalCheck.cpp).
const SCommand g_aCommands[] = {
    {"TV_HangUpCtrl(0)", CALL(BRAVIK32_PFN_TV_HangUpCtrl, "TV_HangUpCtrl", 0), {"ATH\r\n"}},
    {"TV_OffHookCtrl(0)", CALL(BRAVIK32_PFN_TV_OffHookCtrl, "TV_OffHookCtrl", 0), {"ATZ\r\n"}},
    {"CT_Flash()", CALL(BRAVIK32_PFN_CT_Flash, "CT_Flash"), {"ATF\r\n"}},
    {"CT_Bell(1)", CALL(BRAVIK32_PFN_CT_Bell, "CT_Bell", 1), {"ATO\r\n"}},
    {"CT_Bell(0)", CALL(BRAVIK32_PFN_CT_Bell, "CT_Bell", 0), {"ATC\r\n"}},
    {"CT_Keyboard(1)", CALL(BRAVIK32_PFN_CT_Keyboard, "CT_Keyboard", 1), {"ATE\r\n"}},
    {"CT_Keyboard(0)", CALL(BRAVIK32_PFN_CT_Keyboard, "CT_Keyboard", 0), {"ATG\r\n"}},
    {"CT_Mic(1)", CALL(BRAVIK32_PFN_CT_Mic, "CT_Mic", 1), {"ATL\r\n"}},
    {"CT_Mic(0)", CALL(BRAVIK32_PFN_CT_Mic, "CT_Mic", 0), {"ATK\r\n"}},
    {"CT_Spk(1)", CALL(BRAVIK32_PFN_CT_Spk, "CT_Spk", 1), {"ATJ\r\n"}},
    {"CT_Spk(0)", CALL(BRAVIK32_PFN_CT_Spk, "CT_Spk", 0), {"ATI\r\n"}},
    {"_CT_RingOn@0()", CALL(BRAVIK32_PFN_CT_RingOn, BRAVIK32_NAME_CT_RingOn), {"ATO\r\n"}},
    {"_CT_RingOff@0()", CALL(BRAVIK32_PFN_CT_RingOff, BRAVIK32_NAME_CT_RingOff), {"ATC\r\n"}},
    {"_CT_MicMute@4(1)", CALL(BRAVIK32_PFN_CT_MicMute, BRAVIK32_NAME_CT_MicMute, 1), {"ATL\r\n"}},
    {"_CT_MicMute@4(0)", CALL(BRAVIK32_PFN_CT_MicMute, BRAVIK32_NAME_CT_MicMute, 0), {"ATK\r\n"}},
    {"_CT_EarMute@4(1)", CALL(BRAVIK32_PFN_CT_EarMute, BRAVIK32_NAME_CT_EarMute, 1), {"ATJ\r\n"}},
    {"_CT_EarMute@4(0)", CALL(BRAVIK32_PFN_CT_EarMute, BRAVIK32_NAME_CT_EarMute, 0), {"ATI\r\n"}},
    {"_CT_KeyLock@4(1)", CALL(BRAVIK32_PFN_CT_KeyLock, BRAVIK32_NAME_CT_KeyLock, 1), {"ATE\r\n"}},
    {"_CT_KeyLock@4(0)", CALL(BRAVIK32_PFN_CT_KeyLock, BRAVIK32_NAME_CT_KeyLock, 0), {"ATG\r\n"}},
    {"TV_StartDial(0, \"123\")", CALL(BRAVIK32_PFN_TV_StartDial, "TV_StartDial", 0, "123"), {"ATZ\r\n", "ATB123\r\n"}},
};

std::string Joined(const std::vector<std::string> &parts, size_t nFrom = 0, size_t nTo = ~size_t(0)) {
    std::string s;
    for (size_t i = nFrom; i < parts.size() && i < nTo; ++i) s += (s.empty() ? "" : " ") + parts[i];
    return s;
}

void CheckCommand(const SPlugin &plugin, const SCommand &command) {
    std::vector<std::string> expected = ReportsOfLine(command.apszLines[0]);
    const size_t nFirstLine = expected.size();
    if (command.apszLines[1])
        for (const std::string &r : ReportsOfLine(command.apszLines[1])) expected.push_back(r);
    const int nFrom = ReportCount();
    command.pfnCall(plugin);
    std::vector<std::string> hex;
    std::vector<double> times;
    ReportsSince(nFrom, static_cast<int>(expected.size()), 5000, hex, times);
    // A report more than expected would show in the next command's check.
    Check(hex == expected, "%-24s reports %s (expected %s)", command.pszWhat, Joined(hex).c_str(),
          Joined(expected).c_str());
    if (command.apszLines[1] && hex.size() == expected.size()) {
        const double dGap = times[nFirstLine] - times[nFirstLine - 1];
        Figure("TV_StartDial: ATB123 began %.0f ms after ATZ ended", dGap * 1000);
        Check(dGap >= 0.25, "TV_StartDial waits about 300 ms between ATZ and ATB123 (%.0f ms)", dGap * 1000);
    }
}

}  // namespace

void *Export(const SPlugin &plugin, const char *pszName) {
    return reinterpret_cast<void *>(GetProcAddress(plugin.hModule, pszName));
}

bool LoadPlugin(const char *pszPath, SPlugin &plugin) {
    char szFull[MAX_PATH];
    GetFullPathNameA(pszPath, MAX_PATH, szFull, nullptr);
    plugin = {};
    plugin.hModule = LoadLibraryExA(szFull, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!plugin.hModule) return false;
    plugin.pfnInitialize = reinterpret_cast<BRAVIK32_PFN_TV_Initialize>(Export(plugin, "TV_Initialize"));
    plugin.pfnStartMonitor = reinterpret_cast<BRAVIK32_PFN_CT_StartMonitor>(Export(plugin, "CT_StartMonitor"));
    plugin.pfnStartPlay = reinterpret_cast<BRAVIK32_PFN_TV_StartPlayFile>(Export(plugin, "TV_StartPlayFile"));
    plugin.pfnStopPlay = reinterpret_cast<BRAVIK32_PFN_TV_StopPlayFile>(Export(plugin, "TV_StopPlayFile"));
    plugin.pfnPlayRest = reinterpret_cast<BRAVIK32_PFN_TV_PlayFileRest>(Export(plugin, "TV_PlayFileRest"));
    plugin.pfnStartRecord = reinterpret_cast<BRAVIK32_PFN_TV_StartRecordFile>(Export(plugin, "TV_StartRecordFile"));
    plugin.pfnStopRecord = reinterpret_cast<BRAVIK32_PFN_TV_StopRecordFile>(Export(plugin, "TV_StopRecordFile"));
    if (plugin.pfnStartMonitor) plugin.pfnStartMonitor(HostWindow());
    return plugin.pfnInitialize && plugin.pfnStartPlay && plugin.pfnStopPlay && plugin.pfnPlayRest &&
           plugin.pfnStartRecord && plugin.pfnStopRecord;
}

double AwaitHandsetOpen(const SPlugin &plugin, DWORD dwMs) {
    const double dStart = NowUnix();
    const CStopwatch sinceStart;
    while (sinceStart.ElapsedMs() < dwMs) {
        if (plugin.pfnInitialize() == 1) return NowUnix() - dStart;
        PumpFor(50);
    }
    return -1;
}

void CheckCommands(const SPlugin &plugin) {
    for (const SCommand &command : g_aCommands) CheckCommand(plugin, command);
    const int nFrom = ReportCount();
    reinterpret_cast<BRAVIK32_PFN_CT_SendDTMF>(Export(plugin, BRAVIK32_NAME_CT_SendDTMF))("123");
    reinterpret_cast<BRAVIK32_PFN_CT_SetStopIO>(Export(plugin, "CT_SetStopIO"))('#');
    std::vector<std::string> hex;
    std::vector<double> times;
    ReportsSince(nFrom, 1, 500, hex, times);
    Check(hex.empty(), "_CT_SendDTMF@4 and CT_SetStopIO send nothing (%u report(s))", static_cast<unsigned>(hex.size()));
}

int main(int argc, char **argv) {
    if (argc != 2) {
        printf("usage: handsetd -- wine handset_real.exe BRAVIK32.dll\n");
        return 2;
    }
    ProbeWine();
    SPlugin plugin;
    const double dLoad = NowUnix();
    if (!LoadPlugin(argv[1], plugin)) {
        Check(false, "%s loads and exports what a host binds", argv[1]);
        return 1;
    }
    const double dFound = AwaitHandsetOpen(plugin, 20000);
    Figure("search: TV_Initialize answered 1 %.0f ms after the load", dFound * 1000);
    const std::vector<SHostMessage> journal = TakeJournal();
    Check(dFound >= 0 && CountIn(journal, BRAVIK32_MSG_NO_HANDSET) == 0,
          "the search finds the handset (%.2f s after the load) and posts no 1134 (%d posted)", dFound,
          CountIn(journal, BRAVIK32_MSG_NO_HANDSET));
    (void)dLoad;
    if (dFound >= 0) {
        CheckCommands(plugin);
        CheckEvents(plugin);
        CheckPlayback(plugin);
        CheckRecording(plugin);
        CheckUnplugAndReplug(plugin);
    }
    const CStopwatch sinceStart;
    FreeLibrary(plugin.hModule);
    Figure("FreeLibrary after the session: %lu ms", static_cast<unsigned long>(sinceStart.ElapsedMs()));
    CheckUnloads(argv[1]);
    printf("handset_real: %d passed, %d failed\n", PassedChecks(), FailedChecks());
    return FailedChecks() ? 1 : 0;
}
