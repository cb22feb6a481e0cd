// The hang probe's library: the plug-in's own attach and detach steps behind
// an entry point, as BRAVIK32.dll has them, with the wave table handed in by
// the loading test (its emulated device, which must outlive the library).
#include <windows.h>

#include "audio/FilePlayback.h"
#include "core/PluginLifecycle.h"
#include "platform/wave_api.h"

extern "C" __declspec(dllexport) void ProbeUseWaveTable(const WAVE_API *pTable) { g_Wave = *pTable; }

extern "C" __declspec(dllexport) int ProbeStartPlayFile(const char *pszPath) { return StartPlayFile(pszPath); }

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD dwReason, LPVOID lpReserved) {
    if (dwReason == DLL_PROCESS_ATTACH)
        PluginAttach();
    else if (dwReason == DLL_PROCESS_DETACH)
        PluginDetach(lpReserved != nullptr, true);
    return TRUE;
}
