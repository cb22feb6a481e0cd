// tvconsole: the operator's diagnostic host. It loads a plug-in DLL the way
// the agent desktop does (LoadLibraryA, every export bound by its exact
// name), registers a message-only window for the handset plug-in's
// notifications and runs commands from a script file or the keyboard.
//
//   tvconsole [--strict] PLUGIN.dll [SCRIPT]
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "Console.h"
#include "HandsetCommands.h"
#include "KeyboardInput.h"
#include "PluginLoader.h"
#include "ScriptText.h"
#include "SipCommands.h"
#include "WaveDeviceCommand.h"

namespace {

const int D_nExitPassed = 0;      // every command ran and none failed
const int D_nExitFailed = 1;      // a command failed (see the transcript)
const int D_nExitNotStarted = 2;  // no command ran: usage, script or plug-in unusable

const char D_szUsage[] =
    "usage: tvconsole [--strict] PLUGIN.dll [SCRIPT]\n"
    "  Loads the plug-in as the agent desktop does and runs the commands of SCRIPT,\n"
    "  or those typed at the keyboard (help lists them, quit ends).\n"
    "  --strict  an export's failure result fails its command (as 'strict on')\n"
    "Exit code: 0 every command ran and none failed; 1 a command failed (an unknown\n"
    "command, a bad argument, a failed check, or a failure result in strict mode);\n"
    "2 nothing ran (wrong usage, an unreadable script, a DLL that does not load or\n"
    "is not one of the two plug-ins).\n";

struct Options {
    bool bStrict = false;
    const char *szPlugin = nullptr;
    const char *szScript = nullptr;
};

bool ParseOptions(int argc, char **argv, Options &options) {
    std::vector<const char *> vPlain;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--strict") == 0)
            options.bStrict = true;
        else if (argv[i][0] == '-' || strcmp(argv[i], "/?") == 0)
            return false;
        else
            vPlain.push_back(argv[i]);
    }
    if (vPlain.empty() || vPlain.size() > 2) return false;
    options.szPlugin = vPlain[0];
    options.szScript = vPlain.size() > 1 ? vPlain[1] : nullptr;
    return true;
}

// The commands of both kinds; the number of exports missing, each named.
int AttachPlugin(CConsole &console, HMODULE hPlugin, EPluginKind eKind) {
    int nMissing = eKind == EPluginKind::HandsetPlugin ? AttachHandsetConsole(console, hPlugin)
                                                       : AttachSipConsole(console, hPlugin);
    if (eKind == EPluginKind::HandsetPlugin && !nMissing) AddWaveDeviceCommand(console, SystemWaveDevices());
    if (nMissing)
        CConsole::Say("%d export(s) missing: not the %s plug-in this console knows", nMissing,
                      eKind == EPluginKind::HandsetPlugin ? "handset" : "SIP");
    return nMissing;
}

int RunPlugin(HMODULE hPlugin, EPluginKind eKind, const Options &options, const std::vector<std::string> &vScript) {
    CConsole console;
    console.SetStrict(options.bStrict);
    if (AttachPlugin(console, hPlugin, eKind)) return D_nExitNotStarted;
    CConsole::QuitOnCtrlC();
    if (options.szScript)
        console.RunScript(vScript);
    else
        RunKeyboard(console, eKind == EPluginKind::HandsetPlugin ? "handset> " : "sip> ");
    if (console.QuitRequested() && !options.szScript) CConsole::Say("bye");
    int nFailed = console.FailedLines();
    if (nFailed && options.szScript)
        CConsole::Say("%d command(s) failed (script lines %s)", nFailed, console.FailedScriptLines().c_str());
    else if (nFailed)
        CConsole::Say("%d command(s) failed", nFailed);
    return nFailed ? D_nExitFailed : D_nExitPassed;
}

}  // namespace

int main(int argc, char **argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        fputs(D_szUsage, stderr);
        return D_nExitNotStarted;
    }
    CConsole::Say("tvconsole %s", TV_VERSION_TEXT);
    std::vector<std::string> vScript;
    if (options.szScript) {
        std::string strNote, strError;
        if (!ReadScriptFile(options.szScript, vScript, strNote, strError)) {
            CConsole::Say("script %s %s", options.szScript, strError.c_str());
            return D_nExitNotStarted;
        }
        if (!strNote.empty()) CConsole::Say("script %s %s", options.szScript, strNote.c_str());
    }
    HMODULE hPlugin = LoadPlugin(options.szPlugin);
    if (!hPlugin) return D_nExitNotStarted;
    DescribeModule(hPlugin);
    EPluginKind eKind = IdentifyPlugin(hPlugin);
    int nExit = D_nExitNotStarted;
    if (eKind == EPluginKind::NotAPlugin)
        CConsole::Say(
            "%s is neither plug-in: it exports neither CT_StartMonitor (the handset plug-in) nor "
            "TV_MakeCall (the SIP plug-in)",
            options.szPlugin);
    else
        nExit = RunPlugin(hPlugin, eKind, options, vScript);
    FreeLibrary(hPlugin);
    return nExit;
}
