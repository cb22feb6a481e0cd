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

std::string Quoted(const std::string &strText) { return "\"" + strText + "\""; }

// Calls an export and prints its result with the time it blocked.
template <typename Call>
bool Timed(const std::string &strCall, Call call) {
    DWORD dwStart = GetTickCount();
    long lResult = call();
    CConsole::Say("  %s = %ld (%lu ms)", strCall.c_str(), lResult,
                  static_cast<unsigned long>(GetTickCount() - dwStart));
    return true;
}

void AddLineCommands(CConsole &console, const SipExports &x) {
    console.Add({"register", "DOMAIN USER PASSWORD PROXY [OPTION]", 4, [x](const ConsoleArgs &a) {
                     std::string strOption = a.size() > 4 ? a[4] : "";
                     return Timed("TV_Initialize(" + Quoted(a[0]) + ", " + Quoted(a[1]) + ", \"***\", " +
                                      Quoted(a[3]) + ", " + Quoted(strOption) + ")",
                                  [&] {
                                      return x.pfn_TV_Initialize(a[0].c_str(), a[1].c_str(), a[2].c_str(),
                                                                 a[3].c_str(), strOption.c_str());
                                  });
                 }});
    console.Add({"unregister", "", 0, [x](const ConsoleArgs &) {
                     return Timed("TV_UnInitialize()", [&] { return x.pfn_TV_UnInitialize(); });
                 }});
    console.Add({"installed", "", 0, [x](const ConsoleArgs &) {
                     return Timed("TV_Installed()", [&] { return x.pfn_TV_Installed(); });
                 }});
}

void AddCallCommands(CConsole &console, const SipExports &x) {
    console.Add({"call", "DESTINATION", 1, [x](const ConsoleArgs &a) {
                     return Timed("TV_MakeCall(" + Quoted(a[0]) + ")",
                                  [&] { return x.pfn_TV_MakeCall(a[0].c_str()); });
                 }});
    console.Add({"hangup", "", 0, [x](const ConsoleArgs &) {
                     return Timed("TV_HangUpCall()", [&] { return x.pfn_TV_HangUpCall(); });
                 }});
    console.Add({"answer", "", 0, [x](const ConsoleArgs &) {
                     return Timed("TV_OffHook()", [&] { return x.pfn_TV_OffHook(); });
                 }});
    console.Add({"pickup", "", 0, [x](const ConsoleArgs &) {
                     return Timed("TV_PickUp()", [&] { return x.pfn_TV_PickUp(); });
                 }});
}

void AddFileCommands(CConsole &console, const SipExports &x) {
    console.Add({"play", "FILE", 1, [x](const ConsoleArgs &a) {
                     return Timed("TV_StartPlayFile(" + Quoted(a[0]) + ")",
                                  [&] { return x.pfn_TV_StartPlayFile(a[0].c_str()); });
                 }});
    console.Add({"stopplay", "", 0, [x](const ConsoleArgs &) {
                     return Timed("TV_StopPlayFile()", [&] { return x.pfn_TV_StopPlayFile(); });
                 }});
    console.Add({"record", "FILE", 1, [x](const ConsoleArgs &a) {
                     return Timed("TV_StartRecordFile(" + Quoted(a[0]) + ")",
                                  [&] { return x.pfn_TV_StartRecordFile(a[0].c_str()); });
                 }});
    console.Add({"stoprecord", "", 0, [x](const ConsoleArgs &) {
                     return Timed("TV_StopRecordFile()", [&] { return x.pfn_TV_StopRecordFile(); });
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
    AddLineCommands(console, exports);
    AddCallCommands(console, exports);
    AddFileCommands(console, exports);
    if (AddSipSimCommands(console)) CConsole::Say("far-end commands of the simulated SIP library added");
    if (TraceTones(hModule)) CConsole::Say("tones the plug-in plays are shown as '~ tone:'");
    return 0;
}
