// Console commands over the handset plug-in's exports. Each command calls one
// export and prints its result; the notifications the plug-in posts are
// printed by the console's window. Most exports fall into a few signatures,
// so their commands come from tables; the rest are written out.
#include "HandsetCommands.h"

#include <cstring>
#include <string>

#include "HandsetExports.h"

namespace {

// Commands over exports of one signature: the console word, how the call is
// shown, and the slot of the bound export.
template <typename Slot>
struct TableCommand {
    const char *szName;
    const char *szShown;
    Slot HandsetExports::*pSlot;
};
using NoArgument = decltype(&CT_Flash);
using Channel = decltype(&TV_HangUpCtrl);
using Flag = decltype(&CT_Bell);
using Buffer = decltype(&CT_GetDTMFStr);

const TableCommand<NoArgument> s_NoArgumentCommands[] = {
    {"installed", "TV_Installed()", &HandsetExports::pfn_TV_Installed},
    {"initialize", "TV_Initialize()", &HandsetExports::pfn_TV_Initialize},
    {"flash", "CT_Flash()", &HandsetExports::pfn_CT_Flash},
    {"status", "CT_GetStatus()", &HandsetExports::pfn_CT_GetStatus},
    {"ringon", "_CT_RingOn@0()", &HandsetExports::pfn_CT_RingOn},
    {"ringoff", "_CT_RingOff@0()", &HandsetExports::pfn_CT_RingOff},
};

const TableCommand<Channel> s_ChannelCommands[] = {
    {"offhook", "TV_OffHookCtrl(0)", &HandsetExports::pfn_TV_OffHookCtrl},
    {"hangup", "TV_HangUpCtrl(0)", &HandsetExports::pfn_TV_HangUpCtrl},
    {"dtmfchar", "TV_GetDTMFChar(0)", &HandsetExports::pfn_TV_GetDTMFChar},
    {"flushdtmf", "TV_FlushDTMF(0)", &HandsetExports::pfn_TV_FlushDTMF},
    {"stopplay", "TV_StopPlayFile(0)", &HandsetExports::pfn_TV_StopPlayFile},
    {"playrest", "TV_PlayFileRest(0)", &HandsetExports::pfn_TV_PlayFileRest},
    {"stoprecord", "TV_StopRecordFile(0)", &HandsetExports::pfn_TV_StopRecordFile},
    {"recordrest", "TV_RecordFileRest(0)", &HandsetExports::pfn_TV_RecordFileRest},
};

// "bell on" calls CT_Bell(1).
const TableCommand<Flag> s_FlagCommands[] = {
    {"bell", "CT_Bell", &HandsetExports::pfn_CT_Bell},
    {"keyboard", "CT_Keyboard", &HandsetExports::pfn_CT_Keyboard},
    {"mic", "CT_Mic", &HandsetExports::pfn_CT_Mic},
    {"spk", "CT_Spk", &HandsetExports::pfn_CT_Spk},
    {"micmute", "_CT_MicMute@4", &HandsetExports::pfn_CT_MicMute},
    {"earmute", "_CT_EarMute@4", &HandsetExports::pfn_CT_EarMute},
    {"keylock", "_CT_KeyLock@4", &HandsetExports::pfn_CT_KeyLock},
};

// Exports that fill a host buffer: the bytes written are shown, no NUL
// expected (the digit drains write none).
const TableCommand<Buffer> s_BufferCommands[] = {
    {"dtmf", "CT_GetDTMFStr(buffer)", &HandsetExports::pfn_CT_GetDTMFStr},
    {"keys", "CT_GetKeys(buffer)", &HandsetExports::pfn_CT_GetKeys},
    {"ani", "CT_GetANI(buffer)", &HandsetExports::pfn_CT_GetANI},
    {"version", "TV_GetDLLVersion(buffer)", &HandsetExports::pfn_TV_GetDLLVersion},
};

void AddTableCommands(CConsole &console, const HandsetExports &x) {
    for (const auto &command : s_NoArgumentCommands)
        console.Add({command.szName, "", 0, [x, command](const ConsoleArgs &) {
                         CConsole::Result(command.szShown, (x.*command.pSlot)());
                         return true;
                     }});
    for (const auto &command : s_ChannelCommands)
        console.Add({command.szName, "", 0, [x, command](const ConsoleArgs &) {
                         CConsole::Result(command.szShown, (x.*command.pSlot)(0));
                         return true;
                     }});
    for (const auto &command : s_FlagCommands)
        console.Add({command.szName, "on|off", 1, [x, command](const ConsoleArgs &a) {
                         int nFlag = 0;
                         if (!ParseFlag(a[0], nFlag)) return false;
                         CConsole::Result(std::string(command.szShown) + "(" + std::to_string(nFlag) + ")",
                                          (x.*command.pSlot)(nFlag));
                         return true;
                     }});
    for (const auto &command : s_BufferCommands)
        console.Add({command.szName, "", 0, [x, command](const ConsoleArgs &) {
                         char szBuffer[33] = {};
                         CConsole::Result(command.szShown, (x.*command.pSlot)(szBuffer));
                         CConsole::Say("  %s: %s", command.szName, Quoted(std::string(szBuffer, strnlen(szBuffer, 32))).c_str());
                         return true;
                     }});
}

void AddStringCommands(CConsole &console, const HandsetExports &x) {
    console.Add({"dial", "DIGITS", 1, [x](const ConsoleArgs &a) {
                     CConsole::Result("TV_StartDial(0, " + Quoted(a[0]) + ")", x.pfn_TV_StartDial(0, a[0].c_str()));
                     return true;
                 }});
    console.Add({"senddtmf", "DIGITS", 1, [x](const ConsoleArgs &a) {
                     CConsole::Result("_CT_SendDTMF@4(" + Quoted(a[0]) + ")", x.pfn_CT_SendDTMF(a[0].c_str()));
                     return true;
                 }});
    console.Add({"stopdigit", "CHARACTER", 1, [x](const ConsoleArgs &a) {
                     CConsole::Result("CT_SetStopIO('" + a[0].substr(0, 1) + "')",
                                      x.pfn_CT_SetStopIO(static_cast<unsigned char>(a[0][0])));
                     return true;
                 }});
    console.Add({"play", "FILE", 1, [x](const ConsoleArgs &a) {
                     CConsole::Result("TV_StartPlayFile(0, " + Quoted(a[0]) + ")",
                                      x.pfn_TV_StartPlayFile(0, a[0].c_str(), 0, 0));
                     return true;
                 }});
    console.Add({"record", "FILE", 1, [x](const ConsoleArgs &a) {
                     CConsole::Result("TV_StartRecordFile(0, " + Quoted(a[0]) + ")",
                                      x.pfn_TV_StartRecordFile(0, a[0].c_str(), 0, 0));
                     return true;
                 }});
}

// Polls TV_PlayFileRest as a host does, five times a second (each poll
// writes a log line), until the prompt has played out.
void AddWaitForPlayback(CConsole &console, const HandsetExports &x) {
    console.Add({"waitplay", "[MAX_MILLISECONDS]", 0, [&console, x](const ConsoleArgs &a) {
                     const DWORD dwPollInterval = 200;
                     DWORD dwLimit = a.empty() ? 60000 : strtoul(a[0].c_str(), nullptr, 10);
                     DWORD dwStart = GetTickCount();
                     bool bEnded = x.pfn_TV_PlayFileRest(0) == 0;
                     while (!bEnded && GetTickCount() - dwStart < dwLimit) {
                         console.Pump(dwPollInterval);
                         bEnded = x.pfn_TV_PlayFileRest(0) == 0;
                     }
                     CConsole::Say("  playback %s after about %lu ms", bEnded ? "ended" : "still running",
                                   static_cast<unsigned long>((GetTickCount() - dwStart) / 100 * 100));
                     return bEnded;
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
    AddTableCommands(console, exports);
    AddStringCommands(console, exports);
    AddWaitForPlayback(console, exports);
}
