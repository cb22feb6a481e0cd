// Console commands over the SIP plug-in's exports.
#pragma once

#include <windows.h>

#include "Console.h"

// Binds every export by its exact name and adds the commands; returns the
// number of missing exports (each is printed). With the simulated SIP
// library beside the plug-in, the far-end commands are added too, and the
// tones the plug-in selects are printed as it plays them.
int AttachSipConsole(CConsole &console, HMODULE hModule);
