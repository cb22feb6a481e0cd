// Console commands over the handset plug-in's exports.
#pragma once

#include <windows.h>

#include "Console.h"

struct HandsetExports;

// Binds every export by its exact name, adds the commands and registers the
// console's window with CT_StartMonitor. Returns the number of missing
// exports (each is printed); nothing is added when one is missing.
int AttachHandsetConsole(CConsole &console, HMODULE hModule);
// The same over exports the caller has already bound.
void AddHandsetCommands(CConsole &console, const HandsetExports &exports);
