// Console commands over the handset plug-in's exports. Each command calls one
// export and prints its result with its meaning; the notifications the
// plug-in posts are printed by the console's window. Most exports fall into a
// few signatures, so their commands come from tables (ExportCommands.h); the
// rest are written out.
#include "HandsetCommands.h"

#include <cstring>
#include <memory>
#include <string>

#include "ExportCommands.h"
#include "HandsetExports.h"
#include "stopwatch.h"

namespace {

using NoArgument = decltype(&CT_Flash);
using Channel = decltype(&TV_HangUpCtrl);
using Flag = decltype(&CT_Bell);
using Buffer = decltype(&CT_GetDTMFStr);
using File = decltype(&TV_StartPlayFile);
using Row0 = ExportRow<HandsetExports, NoArgument>;
using RowC = ExportRow<HandsetExports, Channel>;
using RowF = ExportRow<HandsetExports, Flag>;
using RowB = ExportRow<HandsetExports, Buffer>;
using RowW = ExportRow<HandsetExports, File>;

// clang-format off
const Row0 s_NoArgumentCommands[] = {
    {"installed", "", "TV_Installed: is the plug-in installed (1)", "TV_Installed", &HandsetExports::pfn_TV_Installed},
    {"initialize", "", "TV_Initialize: 1 when a handset is open now", "TV_Initialize",
     &HandsetExports::pfn_TV_Initialize},
    {"flash", "", "CT_Flash: flash the line", "CT_Flash", &HandsetExports::pfn_CT_Flash},
    {"status", "", "CT_GetStatus (always 0)", "?CT_GetStatus@@YGHXZ", &HandsetExports::pfn_CT_GetStatus},
    {"ringon", "", "_CT_RingOn@0: bell on", "_CT_RingOn@0", &HandsetExports::pfn_CT_RingOn},
    {"ringoff", "", "_CT_RingOff@0: bell off", "_CT_RingOff@0", &HandsetExports::pfn_CT_RingOff},
    {"stopmonitor", "", "_CT_StopMonitor@0 (the window stays registered)", "_CT_StopMonitor@0",
     &HandsetExports::pfn_CT_StopMonitor},
};
// clang-format on

// clang-format off
const RowC s_ChannelCommands[] = {
    {"offhook", "", "TV_OffHookCtrl: take the line off hook", "TV_OffHookCtrl", &HandsetExports::pfn_TV_OffHookCtrl},
    {"hangup", "", "TV_HangUpCtrl: hang up", "TV_HangUpCtrl", &HandsetExports::pfn_TV_HangUpCtrl},
    {"dtmfchar", "", "TV_GetDTMFChar: take the oldest queued digit", "TV_GetDTMFChar",
     &HandsetExports::pfn_TV_GetDTMFChar},
    {"flushdtmf", "", "TV_FlushDTMF: empty the digit queue", "TV_FlushDTMF", &HandsetExports::pfn_TV_FlushDTMF},
    {"stopplay", "", "TV_StopPlayFile: stop the playback", "TV_StopPlayFile", &HandsetExports::pfn_TV_StopPlayFile},
    {"playrest", "", "TV_PlayFileRest: 1 while a playback job exists", "TV_PlayFileRest",
     &HandsetExports::pfn_TV_PlayFileRest},
    {"stoprecord", "", "TV_StopRecordFile: stop the recording, complete its file", "TV_StopRecordFile",
     &HandsetExports::pfn_TV_StopRecordFile},
    {"recordrest", "", "TV_RecordFileRest: 1 while a recording job exists", "TV_RecordFileRest",
     &HandsetExports::pfn_TV_RecordFileRest},
};
// clang-format on

// clang-format off
const RowF s_FlagCommands[] = {
    {"bell", "on|off", "CT_Bell: switch the bell", "CT_Bell", &HandsetExports::pfn_CT_Bell},
    {"keyboard", "on|off", "CT_Keyboard: switch the keyboard", "CT_Keyboard", &HandsetExports::pfn_CT_Keyboard},
    {"mic", "on|off", "CT_Mic: switch the microphone", "CT_Mic", &HandsetExports::pfn_CT_Mic},
    {"spk", "on|off", "CT_Spk: switch the speaker", "CT_Spk", &HandsetExports::pfn_CT_Spk},
    {"micmute", "on|off", "_CT_MicMute@4: as mic", "_CT_MicMute@4", &HandsetExports::pfn_CT_MicMute},
    {"earmute", "on|off", "_CT_EarMute@4: as spk", "_CT_EarMute@4", &HandsetExports::pfn_CT_EarMute},
    {"keylock", "on|off", "_CT_KeyLock@4: as keyboard", "_CT_KeyLock@4", &HandsetExports::pfn_CT_KeyLock},
};
// clang-format on

// Exports that fill a host buffer without a NUL: the buffer starts zeroed,
// and what was written is shown.
// clang-format off
const RowB s_BufferCommands[] = {
    {"dtmf", "", "CT_GetDTMFStr: take up to 30 queued digits", "CT_GetDTMFStr", &HandsetExports::pfn_CT_GetDTMFStr},
    {"keys", "", "CT_GetKeys (no handset event queues keys: writes nothing)", "CT_GetKeys",
     &HandsetExports::pfn_CT_GetKeys},
    {"ani", "", "CT_GetANI: the last caller number", "CT_GetANI", &HandsetExports::pfn_CT_GetANI},
    {"version", "", "TV_GetDLLVersion: the interface version string", "TV_GetDLLVersion",
     &HandsetExports::pfn_TV_GetDLLVersion},
    {"errordesc", "", "CT_GetErrorDesc (writes nothing)", "?CT_GetErrorDesc@@YGHPAD@Z",
     &HandsetExports::pfn_CT_GetErrorDesc},
};
// clang-format on

// clang-format off
const RowW s_FileCommands[] = {
    {"play", "FILE", "TV_StartPlayFile: play a WAV file into the earpiece", "TV_StartPlayFile",
     &HandsetExports::pfn_TV_StartPlayFile},
    {"record", "FILE", "TV_StartRecordFile: record the microphone into a WAV file", "TV_StartRecordFile",
     &HandsetExports::pfn_TV_StartRecordFile},
};
// clang-format on

// A failed start leaves no playback, so TV_PlayFileRest answers 0 as after
// a whole prompt: the console remembers the failure so that waitplay fails
// and says why instead of passing.
struct PlayState {
    bool bStartFailed = false;
};

void AddTableCommands(CConsole &console, const HandsetExports &x, std::shared_ptr<PlayState> pPlay) {
    AddExportRows<HandsetExports, NoArgument>(console, x, s_NoArgumentCommands, 0,
                                              [](NoArgument pfn, const char *, const ConsoleArgs &, ExportCall &call) {
                                                  call.lResult = pfn();
                                                  return true;
                                              });
    AddExportRows<HandsetExports, Channel>(
        console, x, s_ChannelCommands, 0,
        [pPlay](Channel pfn, const char *szName, const ConsoleArgs &, ExportCall &call) {
            call.strArgs = "0";
            call.lResult = pfn(0);
            if (strcmp(szName, "stopplay") == 0) pPlay->bStartFailed = false;
            if (strcmp(szName, "dtmfchar") == 0 && call.lResult >= 0)
                call.strDetail = "digit: '" + std::string(1, static_cast<char>(call.lResult)) + "'";
            return true;
        });
    AddExportRows<HandsetExports, Flag>(console, x, s_FlagCommands, 1,
                                        [](Flag pfn, const char *szName, const ConsoleArgs &a, ExportCall &call) {
                                            int nFlag = 0;
                                            if (!ParseFlag(a[0], nFlag))
                                                return CConsole::BadArgument(szName, a[0], "is not on, off, 1 or 0");
                                            call.strArgs = std::to_string(nFlag);
                                            call.lResult = pfn(nFlag);
                                            return true;
                                        });
    AddExportRows<HandsetExports, Buffer>(
        console, x, s_BufferCommands, 0, [](Buffer pfn, const char *szName, const ConsoleArgs &, ExportCall &call) {
            char szBuffer[64] = {};
            call.strArgs = "buffer";
            call.lResult = pfn(szBuffer);
            call.strDetail = std::string(szName) + ": " + Quoted(std::string(szBuffer, strnlen(szBuffer, 63)));
            return true;
        });
    AddExportRows<HandsetExports, File>(console, x, s_FileCommands, 1,
                                        [pPlay](File pfn, const char *szName, const ConsoleArgs &a, ExportCall &call) {
                                            call.strArgs = "0, " + Quoted(a[0]);
                                            call.lResult = pfn(0, a[0].c_str(), 0, 0);
                                            if (strcmp(szName, "play") == 0) pPlay->bStartFailed = call.lResult != 0;
                                            return true;
                                        });
}

void AddStringCommands(CConsole &console, const HandsetExports &x) {
    console.Add({"dial", "DIGITS", "TV_StartDial: off hook, 300 ms, then the digits (26 at most)", 1, 1,
                 [&console, x](const ConsoleArgs &a) {
                     return console.CallExport("TV_StartDial", [&](ExportCall &call) {
                         call.strArgs = "0, " + Quoted(a[0]);
                         call.lResult = x.pfn_TV_StartDial(0, a[0].c_str());
                         if (a[0].size() > 26)
                             call.strDetail = "more than 26 digits: the plug-in refuses them all and sends nothing";
                         return true;
                     });
                 }});
    console.Add({"senddtmf", "DIGITS", "_CT_SendDTMF@4 (logged only)", 1, 1, [&console, x](const ConsoleArgs &a) {
                     return console.CallExport("_CT_SendDTMF@4", [&](ExportCall &call) {
                         call.strArgs = Quoted(a[0]);
                         call.lResult = x.pfn_CT_SendDTMF(a[0].c_str());
                         return true;
                     });
                 }});
    console.Add({"stopdigit", "CHARACTER", "CT_SetStopIO: the digit that posts 1125", 1, 1,
                 [&console, x](const ConsoleArgs &a) {
                     if (a[0].size() != 1) return CConsole::BadArgument("stopdigit", a[0], "is not one character");
                     return console.CallExport("CT_SetStopIO", [&](ExportCall &call) {
                         call.strArgs = "'" + a[0] + "'";
                         call.lResult = x.pfn_CT_SetStopIO(static_cast<unsigned char>(a[0][0]));
                         return true;
                     });
                 }});
}

// Polls TV_PlayFileRest as a host does, five times a second (each poll
// writes a log line), until the prompt has played out.
void AddWaitForPlayback(CConsole &console, const HandsetExports &x, std::shared_ptr<PlayState> pPlay) {
    console.Add({"waitplay", "[MAX_MILLISECONDS]", "wait until the playback has ended (60000 ms at most)", 0, 1,
                 [&console, x, pPlay](const ConsoleArgs &a) {
                     const DWORD dwPollInterval = 200;
                     unsigned long ulLimit = 60000;
                     if (!a.empty() && !ParseNumber(a[0], 3600000, ulLimit))
                         return CConsole::BadArgument("waitplay", a[0], "is not a number of milliseconds");
                     if (pPlay->bStartFailed) {
                         CConsole::Say(
                             "  the last playback did not start (TV_StartPlayFile returned -1): nothing "
                             "to wait for; stopplay clears it");
                         return false;
                     }
                     const CStopwatch sinceStart;
                     bool bEnded = x.pfn_TV_PlayFileRest(0) == 0;
                     while (!bEnded && sinceStart.ElapsedMs() < ulLimit && !console.QuitRequested()) {
                         console.Pump(dwPollInterval);
                         bEnded = x.pfn_TV_PlayFileRest(0) == 0;
                     }
                     CConsole::Say("  playback %s after about %lu ms", bEnded ? "ended" : "still running",
                                   static_cast<unsigned long>(sinceStart.ElapsedMs() / 100 * 100));
                     return bEnded;
                 }});
}

}  // namespace

int AttachHandsetConsole(CConsole &console, HMODULE hModule) {
    HandsetExports exports{};
    int nMissing = 0;
#define TV_HANDSET_SLOT(function, exportName) \
    nMissing += BindExport(hModule, exportName, reinterpret_cast<void **>(&exports.pfn_##function)) ? 0 : 1;
#include "HandsetExportList.h"
#undef TV_HANDSET_SLOT
    if (nMissing) return nMissing;
    AddHandsetCommands(console, exports);
    return 0;
}

void AddHandsetCommands(CConsole &console, const HandsetExports &exports) {
    auto pPlay = std::make_shared<PlayState>();
    console.SetMeanings(g_HandsetMeanings);
    AddTableCommands(console, exports, pPlay);
    AddStringCommands(console, exports);
    AddWaitForPlayback(console, exports, pPlay);
    console.CallExport("CT_StartMonitor", [&](ExportCall &call) {
        call.strArgs = "window";
        call.lResult = exports.pfn_CT_StartMonitor(console.Window());
        return true;
    });
}
