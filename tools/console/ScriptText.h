// Script text for the console: the plug-ins take their strings (file names,
// numbers) in the system ANSI code page, so every script line is turned into
// that code page before it runs. Notepad saves "Unicode" (UTF-16 with a
// byte-order mark) and "UTF-8" (with a mark) as well as ANSI; all three are
// read. Text without a mark is taken as ANSI, as the console has always done.
#pragma once

#include <string>
#include <vector>

// Splits script bytes into ANSI lines (CR LF or LF). strNote tells how the
// text was read when it was converted. False with strError (naming the line
// where one is to blame) when the text cannot be read as a script.
bool DecodeScript(const std::string &strBytes, std::vector<std::string> &vLines, std::string &strNote,
                  std::string &strError);
// Reads and decodes a script file.
bool ReadScriptFile(const char *szPath, std::vector<std::string> &vLines, std::string &strNote, std::string &strError);
// One UTF-8 line into the ANSI code page; false when it is not UTF-8 or
// holds a character the code page lacks.
bool Utf8ToAnsi(const std::string &strUtf8, std::string &strAnsi);
