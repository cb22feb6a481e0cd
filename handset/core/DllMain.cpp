// The library entry point of BRAVIK32.dll: starts and stops what runs.
//
// Both steps run under the loader lock, on the thread that loads or unloads
// the library. Attach opens the log and starts the link thread (it begins
// running only after the loader lock is released). Detach stops the link
// thread and the wave message thread before the last log line, so that no
// thread of ours is left running code that is about to be unmapped; both
// stops are bounded and safe under the loader lock (support/ThreadEnd.h).
// The two static objects (support and core/PluginObjects.cpp) are
// constructed before attach and destroyed after detach by the runtime.
#include <windows.h>

#include "core/Halvex.h"
#include "support/LogReporter.h"
#include "support/WaveMsgThread.h"

namespace {

void OnProcessAttach() {
    g_LogReporter.Open("halvex", "_", true);
    g_LogReporter.WriteLog("HalvexV4 BRAVIK32.dll Log Started");
    g_Halvex.Start(0);
}

void OnProcessDetach() {
    g_Halvex.Stop();
    StopWaveMsgThread();
    g_LogReporter.WriteLog("HalvexV4 BRAVIK32.dll Log Exited");
    g_LogReporter.Close();
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD dwReason, LPVOID) {
    if (dwReason == DLL_PROCESS_ATTACH) OnProcessAttach();
    else if (dwReason == DLL_PROCESS_DETACH) OnProcessDetach();
    return TRUE;
}
