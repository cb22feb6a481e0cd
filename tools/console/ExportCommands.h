// Console commands bound to a plug-in's exports by tables, one row a command,
// for both plug-ins: most exports fall into a few signatures, and a
// signature's call is made from the command's words by one function.
#pragma once

#include <functional>
#include <string>

#include "Console.h"

// One command over one export: the console word, its arguments and what it
// does (for help), the export's name (as the transcript and the meaning
// tables know it) and the slot of the bound export in the Exports struct.
template <typename Exports, typename Pfn>
struct ExportRow {
    const char *szName;
    const char *szUsage;
    const char *szHelp;
    const char *szExport;
    Pfn Exports::*pSlot;
};

// Makes one call of a signature from the command's words: fills the call
// (arguments as shown, result, detail) and answers true, or says why a word
// is unusable and answers false. szName is the command's word.
template <typename Pfn>
using SignatureCall = std::function<bool(Pfn pfn, const char *szName, const ConsoleArgs &a, ExportCall &call)>;

template <typename Exports, typename Pfn, size_t N>
void AddExportRows(CConsole &console, const Exports &exports, const ExportRow<Exports, Pfn> (&rows)[N], size_t nArgs,
                   const SignatureCall<Pfn> &fnCall) {
    for (const auto &row : rows) {
        Pfn pfn = exports.*row.pSlot;
        console.Add(
            {row.szName, row.szUsage, row.szHelp, nArgs, nArgs, [&console, pfn, row, fnCall](const ConsoleArgs &a) {
                 return console.CallExport(row.szExport,
                                           [&](ExportCall &call) { return fnCall(pfn, row.szName, a, call); });
             }});
    }
}

// Binds each export of a list by its exact name with GetProcAddress, as a
// host does. The list macro names the slot and the export name.
inline bool BindExport(HMODULE hModule, const char *szExport, void **ppSlot) {
    *ppSlot = reinterpret_cast<void *>(GetProcAddress(hModule, szExport));
    if (!*ppSlot) CConsole::Say("missing export: %s", szExport);
    return *ppSlot != nullptr;
}
