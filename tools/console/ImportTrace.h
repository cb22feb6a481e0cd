// Watching a plug-in's calls into a system DLL from the host side: the
// console redirects one entry of the plug-in's import table to a tracer that
// prints the call and forwards it. This is how the operator sees which tone
// the SIP plug-in selects without any hook inside the plug-in itself.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Replaces the import szFunction of szDll in hModule's import table with
// pfnNew; the previous target goes to *ppfnOld. False when the module does
// not import that function by name.
bool RedirectImport(HMODULE hModule, const char *szDll, const char *szFunction, void *pfnNew, void **ppfnOld);

// The DLLs the module's import table names, in its order. The module may be
// mapped without its imports resolved (DONT_RESOLVE_DLL_REFERENCES).
std::vector<std::string> ImportedDllNames(HMODULE hModule);

// Prints every PlaySoundA call the module makes ("tone: FILE flags").
bool TraceTones(HMODULE hModule);
