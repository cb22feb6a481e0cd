// Commands that play the far end of a call through the simulated SIP
// library's controls. They exist only when the KIRO.dll beside the plug-in is
// the simulated one; against the vendor's library the console has none.
#pragma once

#include "Console.h"

// True when the loaded KIRO.dll offers the controls (the commands were added).
bool AddSipSimCommands(CConsole &console);
