// tvconsole: the operator's diagnostic host. It loads a plug-in DLL the way
// the agent desktop does (LoadLibraryA, every export bound by its exact
// name), registers a message-only window for the handset plug-in's
// notifications and runs commands from a script file or standard input.
//
//   tvconsole PLUGIN.dll [SCRIPT]
#include <windows.h>

#include <fstream>
#include <iostream>

#include "Console.h"
#include "HandsetCommands.h"
#include "SipCommands.h"
#include "WaveDeviceCommand.h"

int main(int argc, char **argv) {
    if (argc < 2) {
        std::cerr << "usage: tvconsole PLUGIN.dll [SCRIPT]\n";
        return 2;
    }
    HMODULE hPlugin = LoadLibraryA(argv[1]);
    if (!hPlugin) {
        CConsole::Say("cannot load %s (error %lu)", argv[1], GetLastError());
        return 2;
    }
    int nResult = 0;
    {
        CConsole console;
        bool bHandset = IsHandsetPlugin(hPlugin);
        int nMissing = bHandset ? AttachHandsetConsole(console, hPlugin) : AttachSipConsole(console, hPlugin);
        if (bHandset) AddWaveDeviceCommand(console, SystemWaveDevices());
        if (nMissing) {
            CConsole::Say("%d export(s) missing: not the %s plug-in this console knows", nMissing,
                          bHandset ? "handset" : "SIP");
            nResult = 2;
        } else if (argc > 2) {
            CConsole::Say("%s plug-in loaded from %s", bHandset ? "handset" : "SIP", argv[1]);
            std::ifstream script(argv[2]);
            if (!script) {
                CConsole::Say("cannot read script %s", argv[2]);
                nResult = 2;
            } else {
                nResult = console.RunScript(script, true) ? 1 : 0;
            }
        } else {
            nResult = console.RunScript(std::cin, false) ? 1 : 0;
        }
    }
    FreeLibrary(hPlugin);
    return nResult;
}
