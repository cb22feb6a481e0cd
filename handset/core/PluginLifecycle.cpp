// The library's load and unload steps: see PluginLifecycle.h.
//
// Both run on the thread that loads or unloads the library (under the loader
// lock when called from DllMain). The link thread begins running only after
// the loader lock is released. Detach stops the link thread and the wave
// message thread before the last log line, so that no thread of ours is left
// running code that is about to be unmapped; both stops are bounded and safe
// under the loader lock (support/ThreadEnd.h).
#include "core/PluginLifecycle.h"

#include "audio/FilePlayback.h"
#include "audio/FileRecording.h"
#include "audio/WaveClose.h"
#include "audio/waveinout.h"
#include "core/Halvex.h"
#include "support/LogReporter.h"
#include "support/TerminationGuard.h"
#include "support/WaveMsgThread.h"

void PluginAttach() {
    g_LogReporter.Open("halvex", "_", true);
    g_LogReporter.WriteLog("HalvexV4 BRAVIK32.dll Log Started");
    g_Halvex.Start(0);
}

void PluginDetach(bool bProcessExiting) {
    // Under the loader lock no wave device may be closed here, nor on the
    // wave message thread while this step waits for it (WaveClose.h).
    HandWaveClosesOff(!bProcessExiting && CallerOwnsLoaderLock());
    if (!bProcessExiting) {
        StopPlayFile();
        StopRecordFile();
    }
    g_Halvex.Stop();
    StopWaveMsgThread();
    if (!bProcessExiting) AbandonOpenWaveDevices();
    HandWaveClosesOff(false);
    g_LogReporter.WriteLog("HalvexV4 BRAVIK32.dll Log Exited");
    g_LogReporter.Close();
}
