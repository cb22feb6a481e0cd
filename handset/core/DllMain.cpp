// The library entry point of BRAVIK32.dll: starts and stops what runs (see
// PluginLifecycle.h). The two static objects (core/PluginObjects.cpp) are
// constructed before attach and destroyed after detach by the runtime.
#include <windows.h>

#include "core/ImageThreadDetach.h"
#include "core/PluginLifecycle.h"

// The system's audio library stays once this image has used it: Wine's ACM
// (loaded under winmm) opens its driver-cache registry keys each time winmm is
// loaded afresh and never closes them, 12 keys per load and unload of this
// image when nothing else holds winmm. Pinned from here, which already holds
// the loader lock that a pin takes.
static void PinSystemAudio() {
    HMODULE hWinmm = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, "winmm.dll", &hWinmm);
}

// lpReserved is non-null at process exit (other threads are gone already)
// and null for FreeLibrary. The loader runs this entry point holding its
// lock, which the detach step's stops must know.
extern "C" BOOL WINAPI DllMain(HINSTANCE hImage, DWORD dwReason, LPVOID lpReserved) {
    if (dwReason == DLL_PROCESS_ATTACH) {
        PluginAttach();
        // The loading thread usually outlives this image (see ImageThreadDetach.h).
        DetachThisThreadFromImage(hImage);
        PinSystemAudio();
    } else if (dwReason == DLL_PROCESS_DETACH) {
        PluginDetach(lpReserved != nullptr, true);
        if (!lpReserved) DetachThisThreadFromImage(hImage);
    }
    return TRUE;
}
