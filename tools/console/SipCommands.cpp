// Console commands over the SIP plug-in's exports. The exports block until
// the SIP library's events show the outcome, so each command prints how long
// its export took besides its result.
#include "SipCommands.h"

#include "ImportTrace.h"
#include "SipSimCommands.h"
#include "marenta.h"

#include <string>

namespace {

struct SipExports {
#define TV_SIP_SLOT(function) decltype(&function) pfn_##function;
#include "SipExportList.h"
#undef TV_SIP_SLOT
};

// Calls an export and prints its result with the time it blocked.
template <typename Call>
bool Timed(const std::string &strCall, Call call) {
    DWORD dwStart = GetTickCount();
    long lResult = call();
    CConsole::Say("  %s = %ld (%lu ms)", strCall.c_str(), lResult,
                  static_cast<unsigned long>(GetTickCount() - dwStart));
    return true;
}

using NoArgument = decltype(&TV_HangUpCall);
using OneString = decltype(&TV_MakeCall);

// Commands over exports of one signature: the console word, the export's
// name and the slot of the bound export.
template <typename Slot>
struct TableCommand {
    const char *szName;
    const char *szExport;
    Slot SipExports::*pSlot;
};

const TableCommand<NoArgument> s_NoArgumentCommands[] = {
    {"unregister", "TV_UnInitialize", &SipExports::pfn_TV_UnInitialize},
    {"installed", "TV_Installed", &SipExports::pfn_TV_Installed},
    {"hangup", "TV_HangUpCall", &SipExports::pfn_TV_HangUpCall},
    {"answer", "TV_OffHook", &SipExports::pfn_TV_OffHook},
    {"pickup", "TV_PickUp", &SipExports::pfn_TV_PickUp},
    {"stopplay", "TV_StopPlayFile", &SipExports::pfn_TV_StopPlayFile},
    {"stoprecord", "TV_StopRecordFile", &SipExports::pfn_TV_StopRecordFile},
};

const TableCommand<OneString> s_OneStringCommands[] = {
    {"call", "TV_MakeCall", &SipExports::pfn_TV_MakeCall},
    {"play", "TV_StartPlayFile", &SipExports::pfn_TV_StartPlayFile},
    {"record", "TV_StartRecordFile", &SipExports::pfn_TV_StartRecordFile},
};

void AddTableCommands(CConsole &console, const SipExports &x) {
    for (const auto &command : s_NoArgumentCommands)
        console.Add({command.szName, "", 0, [x, command](const ConsoleArgs &) {
                         return Timed(std::string(command.szExport) + "()", [&] { return (x.*command.pSlot)(); });
                     }});
    for (const auto &command : s_OneStringCommands)
        console.Add({command.szName, "TEXT", 1, [x, command](const ConsoleArgs &a) {
                         return Timed(std::string(command.szExport) + "(" + Quoted(a[0]) + ")",
                                      [&] { return (x.*command.pSlot)(a[0].c_str()); });
                     }});
}

// The password is not echoed into transcripts.
void AddRegisterCommand(CConsole &console, const SipExports &x) {
    console.Add({"register", "DOMAIN USER PASSWORD PROXY [OPTION]", 4, [x](const ConsoleArgs &a) {
                     std::string strOption = a.size() > 4 ? a[4] : "";
                     return Timed("TV_Initialize(" + Quoted(a[0]) + ", " + Quoted(a[1]) + ", \"***\", " +
                                      Quoted(a[3]) + ", " + Quoted(strOption) + ")",
                                  [&] {
                                      return x.pfn_TV_Initialize(a[0].c_str(), a[1].c_str(), a[2].c_str(),
                                                                 a[3].c_str(), strOption.c_str());
                                  });
                 }});
}

}  // namespace

int AttachSipConsole(CConsole &console, HMODULE hModule) {
    SipExports exports{};
    int nMissing = 0;
#define TV_SIP_SLOT(function)                                                                      \
    exports.pfn_##function = reinterpret_cast<decltype(&function)>(                                \
        reinterpret_cast<void *>(GetProcAddress(hModule, #function)));                             \
    if (!exports.pfn_##function) {                                                                 \
        CConsole::Say("missing export: %s", #function);                                            \
        ++nMissing;                                                                                \
    }
#include "SipExportList.h"
#undef TV_SIP_SLOT
    if (nMissing) return nMissing;
    AddTableCommands(console, exports);
    AddRegisterCommand(console, exports);
    if (AddSipSimCommands(console)) CConsole::Say("far-end commands of the simulated SIP library added");
    if (TraceTones(hModule)) CConsole::Say("tones the plug-in plays are shown as '~ tone:'");
    return 0;
}
