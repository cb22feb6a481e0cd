// The heap bytes one module holds, counted at its imports: the module's
// calls of the C runtime's allocation functions are pointed at counting
// wrappers that forward them (as the host console points the SIP plug-in's
// PlaySoundA at a tracer). What else lives in the process, the simulated
// SIP library's record of every request it was asked above all, stays out
// of the count.
//
// Threads: the wrappers run on whatever thread the module allocates on; the
// count changes only by atomic operations.
#pragma once

#include <windows.h>

// Counts hModule from now on; false if it does not import the functions.
// One module per process.
bool CountModuleHeap(HMODULE hModule);
// Bytes allocated through the module's imports and not yet freed through
// them (frees of blocks it had before the counting began make it lower);
// -1 when no module is counted.
long long ModuleHeapBytes();
