// tvdemo_handset: the console linked with the handset plug-in's library and
// the emulated handset (its HID side and its USB audio device), so that a
// scripted agent session runs end to end on a machine with no handset.
//
// The plug-in's code is the same as in BRAVIK32.dll; only its two platform
// tables point at the emulation, and this program performs the library's
// load and unload steps itself. Besides the console's commands, the script
// can act as the handset ("handset ring", "handset digits 123#", ...) and
// show what went out on the wire ("wire").
//
//   tvdemo_handset SCRIPT
#include <windows.h>

#include <memory>

#include "Console.h"
#include "HandsetCommands.h"
#include "HandsetExports.h"
#include "ScriptText.h"
#include "WaveDeviceCommand.h"
#include "audio/EmulatedWave.h"
#include "core/PluginLifecycle.h"
#include "hid/EmulatedHid.h"

namespace {

HandsetExports LinkedHandsetExports() {
    HandsetExports exports{};
#define TV_HANDSET_SLOT(function, exportName) exports.pfn_##function = &function;
#include "HandsetExportList.h"
#undef TV_HANDSET_SLOT
    return exports;
}

// The event lines the handset sends, by the console's word for them.
std::string EventLine(const ConsoleArgs &a) {
    const std::string &strEvent = a[0];
    std::string strData = a.size() > 1 ? a[1] : "";
    if (strEvent == "ring") return "ATR\r\n";
    if (strEvent == "offhook") return "ATZ\r\n";
    if (strEvent == "hangup") return "ATH\r\n";
    if (strEvent == "ping") return "ATX\r\n";
    if (strEvent == "digits") return "ATN" + strData + "\r\n";
    if (strEvent == "caller") return "ATCI:" + strData + "\r\n";
    return "";
}

void AddHandsetSideCommands(CConsole &console) {
    CEmulatedHid &hid = CEmulatedHid::Instance();
    console.Add({"handset", "ring|offhook|hangup|ping|digits D|caller N|unplug|plug",
                 "the emulated handset sends an event line, or is unplugged or plugged in", 1, 2,
                 [&hid, &console](const ConsoleArgs &a) {
                     if (a[0] == "unplug" || a[0] == "plug") {
                         a[0] == "unplug" ? hid.Unplug() : hid.Plug();
                         CConsole::Say("  handset %sged", a[0].c_str());
                         return true;
                     }
                     std::string strLine = EventLine(a);
                     if (strLine.empty())
                         return CConsole::BadArgument("handset", a[0], "is not an event of the handset");
                     std::string strShown = strLine.substr(0, strLine.size() - 2);
                     bool bTaken = hid.SendInput(strLine);
                     CConsole::Say("  handset sends %s<CR><LF>%s", strShown.c_str(),
                                   bTaken ? "" : " (nobody listening)");
                     // The link decodes one line and then rests 500 ms.
                     console.Pump(600);
                     return bTaken;
                 }});
    console.Add({"connect", "", "wait until the plug-in has found and opened the emulated handset", 0, 0,
                 [&hid, &console](const ConsoleArgs &) {
                     bool bConnected = console.PumpUntil([&hid] { return hid.WaitUntilReading(0); }, 5000);
                     CConsole::Say("  handset %s", bConnected ? "found and opened by the plug-in" : "NOT found");
                     return bConnected;
                 }});
    auto pShown = std::make_shared<size_t>(0);
    console.Add({"wire", "", "show the command lines sent to the handset since the last wire", 0, 0,
                 [&hid, pShown](const ConsoleArgs &) {
                     std::vector<std::string> vLines = hid.CommandLines();
                     for (size_t i = *pShown; i < vLines.size(); ++i) {
                         std::string strLine = vLines[i];
                         while (!strLine.empty() && (strLine.back() == '\n' || strLine.back() == '\r'))
                             strLine.pop_back();
                         CConsole::Say("  wire: %s<CR><LF> (%u feature reports)", strLine.c_str(),
                                       static_cast<unsigned>(strLine.size() + 2));
                     }
                     *pShown = vLines.size();
                     return true;
                 }});
}

void InstallEmulatedHandset() {
    CEmulatedHid &hid = CEmulatedHid::Instance();
    hid.Reset();
    hid.Install();
    CEmulatedWave::Instance().InstallTypicalDesk();
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        CConsole::Say("usage: tvdemo_handset SCRIPT");
        return 2;
    }
    std::vector<std::string> vScript;
    std::string strNote, strError;
    if (!ReadScriptFile(argv[1], vScript, strNote, strError)) {
        CConsole::Say("script %s %s", argv[1], strError.c_str());
        return 2;
    }
    InstallEmulatedHandset();
    PluginAttach();
    int nFailed = 0;
    {
        CConsole console;
        AddHandsetCommands(console, LinkedHandsetExports());
        AddHandsetSideCommands(console);
        AddWaveDeviceCommand(console, g_Wave);
        nFailed = console.RunScript(vScript);
    }
    PluginDetach(false, false);
    CEmulatedHid::Instance().Uninstall();
    CEmulatedWave::Instance().Uninstall();
    if (nFailed) CConsole::Say("%d command(s) failed", nFailed);
    return nFailed ? 1 : 0;
}
