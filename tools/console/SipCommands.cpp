// Console commands over the SIP plug-in's exports. The exports block until
// the SIP library's events show the outcome; the console shows how long a
// call blocked with its result (CConsole::CallExport).
#include "SipCommands.h"

#include <string>

#include "ExportCommands.h"
#include "ImportTrace.h"
#include "SipSimCommands.h"
#include "marenta.h"

namespace {

struct SipExports {
#define TV_SIP_SLOT(function) decltype(&function) pfn_##function;
#include "SipExportList.h"
#undef TV_SIP_SLOT
};

using NoArgument = decltype(&TV_HangUpCall);
using OneString = decltype(&TV_MakeCall);

// clang-format off
const ExportRow<SipExports, NoArgument> s_NoArgumentCommands[] = {
    {"unregister", "", "TV_UnInitialize: unregister the line", "TV_UnInitialize", &SipExports::pfn_TV_UnInitialize},
    {"installed", "", "TV_Installed: is the plug-in installed (1)", "TV_Installed", &SipExports::pfn_TV_Installed},
    {"hangup", "", "TV_HangUpCall: end the current call", "TV_HangUpCall", &SipExports::pfn_TV_HangUpCall},
    {"answer", "", "TV_OffHook: answer the ringing call", "TV_OffHook", &SipExports::pfn_TV_OffHook},
    {"pickup", "", "TV_PickUp: answer the next ringing calls at once", "TV_PickUp", &SipExports::pfn_TV_PickUp},
    {"stopplay", "", "TV_StopPlayFile: stop playing on the call", "TV_StopPlayFile", &SipExports::pfn_TV_StopPlayFile},
    {"stoprecord", "", "TV_StopRecordFile: stop recording the call", "TV_StopRecordFile",
     &SipExports::pfn_TV_StopRecordFile},
};
// clang-format on

// clang-format off
const ExportRow<SipExports, OneString> s_OneStringCommands[] = {
    {"call", "DESTINATION", "TV_MakeCall: call a number or SIP address", "TV_MakeCall", &SipExports::pfn_TV_MakeCall},
    {"play", "FILE", "TV_StartPlayFile: play a file on the connected call", "TV_StartPlayFile",
     &SipExports::pfn_TV_StartPlayFile},
    {"record", "FILE", "TV_StartRecordFile: record the connected call into a file", "TV_StartRecordFile",
     &SipExports::pfn_TV_StartRecordFile},
};
// clang-format on

void AddTableCommands(CConsole &console, const SipExports &x) {
    AddExportRows<SipExports, NoArgument>(console, x, s_NoArgumentCommands, 0,
                                          [](NoArgument pfn, const char *, const ConsoleArgs &, ExportCall &call) {
                                              call.lResult = pfn();
                                              return true;
                                          });
    AddExportRows<SipExports, OneString>(console, x, s_OneStringCommands, 1,
                                         [](OneString pfn, const char *, const ConsoleArgs &a, ExportCall &call) {
                                             call.strArgs = Quoted(a[0]);
                                             call.lResult = pfn(a[0].c_str());
                                             return true;
                                         });
}

// The password is not echoed into transcripts.
void AddRegisterCommand(CConsole &console, const SipExports &x) {
    console.Add({"register", "DOMAIN USER PASSWORD PROXY [OPTION]",
                 "TV_Initialize: start the SIP library, register user@DOMAIN through PROXY", 4, 5,
                 [&console, x](const ConsoleArgs &a) {
                     std::string strOption = a.size() > 4 ? a[4] : "";
                     return console.CallExport("TV_Initialize", [&](ExportCall &call) {
                         call.strArgs = Quoted(a[0]) + ", " + Quoted(a[1]) + ", \"***\", " + Quoted(a[3]) + ", " +
                                        Quoted(strOption);
                         call.lResult = x.pfn_TV_Initialize(a[0].c_str(), a[1].c_str(), a[2].c_str(), a[3].c_str(),
                                                            strOption.c_str());
                         return true;
                     });
                 }});
}

}  // namespace

int AttachSipConsole(CConsole &console, HMODULE hModule) {
    SipExports exports{};
    int nMissing = 0;
#define TV_SIP_SLOT(function) \
    nMissing += BindExport(hModule, #function, reinterpret_cast<void **>(&exports.pfn_##function)) ? 0 : 1;
#include "SipExportList.h"
#undef TV_SIP_SLOT
    if (nMissing) return nMissing;
    console.SetMeanings(g_SipMeanings);
    AddTableCommands(console, exports);
    AddRegisterCommand(console, exports);
    if (AddSipSimCommands(console)) CConsole::Say("far-end commands of the simulated SIP library added");
    if (TraceTones(hModule)) CConsole::Say("tones the plug-in plays are shown as '~ tone:'");
    return 0;
}
