// Console commands over the handset plug-in's exports. Each command calls one
// export (or a short, named sequence of them) and prints its result; the
// notifications the plug-in posts are printed by the console's window.
#include "HandsetCommands.h"

#include "HandsetExports.h"

#include <cstring>
#include <string>

namespace {

// Exports that take a flag: "bell on" calls CT_Bell(1).
struct FlagCommand {
    const char *szName;
    const char *szExport;
    decltype(&CT_Bell) HandsetExports::*pSlot;
};

std::string Quoted(const std::string &strText) { return "\"" + strText + "\""; }

void PrintBytes(const char *szWhat, const char *pBytes, long lCount) {
    std::string strText(pBytes, pBytes + (lCount > 0 ? lCount : 0));
    CConsole::Say("  %s: %s", szWhat, Quoted(strText).c_str());
}

void AddCallAndStatus(CConsole &console, const HandsetExports &x) {
    console.Add({"installed", "", 0, [x](const ConsoleArgs &) {
                     CConsole::Result("TV_Installed()", x.pfn_TV_Installed());
                     return true;
                 }});
    console.Add({"initialize", "", 0, [x](const ConsoleArgs &) {
                     CConsole::Result("TV_Initialize()", x.pfn_TV_Initialize());
                     return true;
                 }});
    console.Add({"offhook", "", 0, [x](const ConsoleArgs &) {
                     CConsole::Result("TV_OffHookCtrl(0)", x.pfn_TV_OffHookCtrl(0));
                     return true;
                 }});
    console.Add({"hangup", "", 0, [x](const ConsoleArgs &) {
                     CConsole::Result("TV_HangUpCtrl(0)", x.pfn_TV_HangUpCtrl(0));
                     return true;
                 }});
    console.Add({"dial", "DIGITS", 1, [x](const ConsoleArgs &a) {
                     CConsole::Result("TV_StartDial(0, " + Quoted(a[0]) + ")",
                                      x.pfn_TV_StartDial(0, a[0].c_str()));
                     return true;
                 }});
    console.Add({"flash", "", 0, [x](const ConsoleArgs &) {
                     CConsole::Result("CT_Flash()", x.pfn_CT_Flash());
                     return true;
                 }});
    console.Add({"version", "", 0, [x](const ConsoleArgs &) {
                     char szVersion[16] = {};
                     CConsole::Result("TV_GetDLLVersion(buffer)", x.pfn_TV_GetDLLVersion(szVersion));
                     CConsole::Say("  version: %s", szVersion);
                     return true;
                 }});
    console.Add({"status", "", 0, [x](const ConsoleArgs &) {
                     CConsole::Result("CT_GetStatus()", x.pfn_CT_GetStatus());
                     return true;
                 }});
}

void AddFlagCommands(CConsole &console, const HandsetExports &x) {
    static const FlagCommand s_Flags[] = {
        {"bell", "CT_Bell", &HandsetExports::pfn_CT_Bell},
        {"keyboard", "CT_Keyboard", &HandsetExports::pfn_CT_Keyboard},
        {"mic", "CT_Mic", &HandsetExports::pfn_CT_Mic},
        {"spk", "CT_Spk", &HandsetExports::pfn_CT_Spk},
        {"micmute", "_CT_MicMute@4", &HandsetExports::pfn_CT_MicMute},
        {"earmute", "_CT_EarMute@4", &HandsetExports::pfn_CT_EarMute},
        {"keylock", "_CT_KeyLock@4", &HandsetExports::pfn_CT_KeyLock},
    };
    for (const FlagCommand &flag : s_Flags) {
        console.Add({flag.szName, "on|off", 1, [x, flag](const ConsoleArgs &a) {
                         int nFlag = 0;
                         if (!ParseFlag(a[0], nFlag)) return false;
                         CConsole::Result(std::string(flag.szExport) + "(" + std::to_string(nFlag) + ")",
                                          (x.*flag.pSlot)(nFlag));
                         return true;
                     }});
    }
    console.Add({"ringon", "", 0, [x](const ConsoleArgs &) {
                     CConsole::Result("_CT_RingOn@0()", x.pfn_CT_RingOn());
                     return true;
                 }});
    console.Add({"ringoff", "", 0, [x](const ConsoleArgs &) {
                     CConsole::Result("_CT_RingOff@0()", x.pfn_CT_RingOff());
                     return true;
                 }});
}

void AddDigitCommands(CConsole &console, const HandsetExports &x) {
    console.Add({"stopdigit", "CHARACTER", 1, [x](const ConsoleArgs &a) {
                     CConsole::Result("CT_SetStopIO('" + a[0].substr(0, 1) + "')",
                                      x.pfn_CT_SetStopIO(static_cast<unsigned char>(a[0][0])));
                     return true;
                 }});
    console.Add({"dtmf", "", 0, [x](const ConsoleArgs &) {
                     char szDigits[32] = {};
                     long lCount = x.pfn_CT_GetDTMFStr(szDigits);
                     CConsole::Result("CT_GetDTMFStr(buffer)", lCount);
                     PrintBytes("digits", szDigits, lCount);
                     return true;
                 }});
    console.Add({"dtmfchar", "", 0, [x](const ConsoleArgs &) {
                     CConsole::Result("TV_GetDTMFChar(0)", x.pfn_TV_GetDTMFChar(0));
                     return true;
                 }});
    console.Add({"flushdtmf", "", 0, [x](const ConsoleArgs &) {
                     CConsole::Result("TV_FlushDTMF(0)", x.pfn_TV_FlushDTMF(0));
                     return true;
                 }});
    console.Add({"keys", "", 0, [x](const ConsoleArgs &) {
                     char szKeys[32] = {};
                     CConsole::Result("CT_GetKeys(buffer)", x.pfn_CT_GetKeys(szKeys));
                     PrintBytes("keys", szKeys, static_cast<long>(strnlen(szKeys, 30)));
                     return true;
                 }});
    console.Add({"ani", "", 0, [x](const ConsoleArgs &) {
                     char szNumber[32] = {};
                     CConsole::Result("CT_GetANI(buffer)", x.pfn_CT_GetANI(szNumber));
                     szNumber[31] = 0;
                     CConsole::Say("  caller number: %s", Quoted(szNumber).c_str());
                     return true;
                 }});
    console.Add({"senddtmf", "DIGITS", 1, [x](const ConsoleArgs &a) {
                     CConsole::Result("_CT_SendDTMF@4(" + Quoted(a[0]) + ")", x.pfn_CT_SendDTMF(a[0].c_str()));
                     return true;
                 }});
}

void AddFileCommands(CConsole &console, const HandsetExports &x) {
    console.Add({"play", "FILE", 1, [x](const ConsoleArgs &a) {
                     CConsole::Result("TV_StartPlayFile(0, " + Quoted(a[0]) + ")",
                                      x.pfn_TV_StartPlayFile(0, a[0].c_str(), 0, 0));
                     return true;
                 }});
    console.Add({"stopplay", "", 0, [x](const ConsoleArgs &) {
                     CConsole::Result("TV_StopPlayFile(0)", x.pfn_TV_StopPlayFile(0));
                     return true;
                 }});
    console.Add({"playrest", "", 0, [x](const ConsoleArgs &) {
                     CConsole::Result("TV_PlayFileRest(0)", x.pfn_TV_PlayFileRest(0));
                     return true;
                 }});
    // Polls TV_PlayFileRest as a host does, until the prompt has played out.
    console.Add({"waitplay", "[MAX_MILLISECONDS]", 0, [&console, x](const ConsoleArgs &a) {
                     DWORD dwLimit = a.empty() ? 60000 : strtoul(a[0].c_str(), nullptr, 10);
                     DWORD dwStart = GetTickCount();
                     bool bEnded = console.PumpUntil([x] { return x.pfn_TV_PlayFileRest(0) == 0; }, dwLimit);
                     CConsole::Say("  playback %s after %lu ms", bEnded ? "ended" : "still running",
                                   static_cast<unsigned long>(GetTickCount() - dwStart));
                     return bEnded;
                 }});
    console.Add({"record", "FILE", 1, [x](const ConsoleArgs &a) {
                     CConsole::Result("TV_StartRecordFile(0, " + Quoted(a[0]) + ")",
                                      x.pfn_TV_StartRecordFile(0, a[0].c_str(), 0, 0));
                     return true;
                 }});
    console.Add({"stoprecord", "", 0, [x](const ConsoleArgs &) {
                     CConsole::Result("TV_StopRecordFile(0)", x.pfn_TV_StopRecordFile(0));
                     return true;
                 }});
    console.Add({"recordrest", "", 0, [x](const ConsoleArgs &) {
                     CConsole::Result("TV_RecordFileRest(0)", x.pfn_TV_RecordFileRest(0));
                     return true;
                 }});
}

}  // namespace

int AttachHandsetConsole(CConsole &console, HMODULE hModule) {
    HandsetExports exports{};
    int nMissing = 0;
#define TV_HANDSET_SLOT(function, exportName)                                                      \
    exports.pfn_##function = reinterpret_cast<decltype(&function)>(                                \
        reinterpret_cast<void *>(GetProcAddress(hModule, exportName)));                            \
    if (!exports.pfn_##function) {                                                                 \
        CConsole::Say("missing export: %s", exportName);                                           \
        ++nMissing;                                                                                \
    }
#include "HandsetExportList.h"
#undef TV_HANDSET_SLOT
    if (nMissing) return nMissing;
    AddHandsetCommands(console, exports);
    CConsole::Result("CT_StartMonitor(window)", exports.pfn_CT_StartMonitor(console.Window()));
    return 0;
}

bool IsHandsetPlugin(HMODULE hModule) {
    return GetProcAddress(hModule, "CT_StartMonitor") != nullptr;
}

void AddHandsetCommands(CConsole &console, const HandsetExports &exports) {
    AddCallAndStatus(console, exports);
    AddFlagCommands(console, exports);
    AddDigitCommands(console, exports);
    AddFileCommands(console, exports);
}
