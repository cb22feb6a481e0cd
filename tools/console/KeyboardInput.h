// Keyboard mode of the console: commands typed at the keyboard or piped into
// standard input, with the handset plug-in's notifications printed the
// moment they arrive, not at the next Enter.
//
// The console thread waits for its input and its message queue together
// (MsgWaitForMultipleObjects). A console input handle can be waited on
// directly: the console is put in raw mode and the line is edited here
// (Backspace, Esc), so that a notification printed while a line is being
// typed leaves the prompt and the typed text intact below it. A pipe or a
// file cannot be waited on: a reader thread of its own reads it and signals
// an event for every complete line (under Wine with redirected input, and
// for `type script | tvconsole`).
#pragma once

#include <string>

#include "Console.h"

// Runs the commands read from standard input until it ends, quit or exit is
// given, or Ctrl+C is pressed. strPrompt names the loaded plug-in.
void RunKeyboard(CConsole &console, const std::string &strPrompt);
