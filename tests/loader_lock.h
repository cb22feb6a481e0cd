// The loader lock, taken and released by a test or a tool as the loader does
// around a library's entry point (ntdll's own functions; nothing in the
// Windows headers declares them).
#pragma once

#include <windows.h>

extern "C" {
LONG NTAPI LdrLockLoaderLock(ULONG ulFlags, ULONG *pulDisposition, ULONG_PTR *pCookie);
LONG NTAPI LdrUnlockLoaderLock(ULONG ulFlags, ULONG_PTR ulCookie);
}
