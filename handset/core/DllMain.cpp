// The library entry point of BRAVIK32.dll: starts and stops what runs (see
// PluginLifecycle.h). The two static objects (core/PluginObjects.cpp) are
// constructed before attach and destroyed after detach by the runtime.
#include <windows.h>

#include "core/PluginLifecycle.h"

// lpReserved is non-null at process exit (other threads are gone already)
// and null for FreeLibrary. The loader runs this entry point holding its
// lock, which the detach step's stops must know.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD dwReason, LPVOID lpReserved) {
    if (dwReason == DLL_PROCESS_ATTACH) PluginAttach();
    else if (dwReason == DLL_PROCESS_DETACH) PluginDetach(lpReserved != nullptr, true);
    return TRUE;
}
