// The library's load and unload steps: see PluginLifecycle.h.
//
// Both run on the thread that loads or unloads the library (under the loader
// lock when called from DllMain). The link thread begins running only after
// the loader lock is released. Detach stops the link thread and the wave
// message thread before the last log line, so that no thread of ours is left
// running code that is about to be unmapped. Both are asked to stop at once
// and then waited for, so that their bounds overlap; every wait of the step,
// down to the locks the audio code takes, is cut to the step's own bound
// (support/StopBound.h), and a lock whose owner was ended where it stood is
// skipped with a log line.
#include "core/PluginLifecycle.h"

#include "audio/FilePlayback.h"
#include "audio/FileRecording.h"
#include "audio/WaveClose.h"
#include "audio/WaveMsgThread.h"
#include "audio/waveinout.h"
#include "core/Halvex.h"
#include "support/LogReporter.h"
#include "support/StopBound.h"

namespace {

void StopJobs() {
    StopPlayFile();
    StopRecordFile();
}

void StopWorkers(const CStopBound &bound) {
    g_Halvex.RequestStop();
    RequestWaveMsgThreadStop();
    g_Halvex.StopWithin(bound);
    StopWaveMsgThread(bound);
}

}  // namespace

void PluginAttach() {
    g_LogReporter.Open("halvex", "_", true);
    g_LogReporter.WriteLog("HalvexV4 BRAVIK32.dll Log Started");
    g_Halvex.Start(0);
}

void PluginDetach(bool bProcessExiting, bool bUnderLoaderLock) {
    const CStopBound bound(bUnderLoaderLock, D_dwDetachBoundMs);
    const CStopBound::Scope scope(bound);
    const bool bHandOff = !bProcessExiting && bUnderLoaderLock;
    // Under the loader lock no wave call is made here, nor on the wave
    // message thread while this step waits for it (WaveClose.h).
    HandWaveClosesOff(bHandOff);
    const CStopBound first = bound.Until(D_dwDetachFirstPartMs);
    const CStopBound second = bound.Until(D_dwDetachSecondPartMs);
    {
        const CStopBound::Scope firstScope(first);
        if (bHandOff)
            StopWorkers(first);
        else if (!bProcessExiting)
            StopJobs();
    }
    {
        const CStopBound::Scope secondScope(second);
        if (bHandOff)
            StopJobs();
        else
            StopWorkers(second);
        if (!bProcessExiting) AbandonOpenWaveDevices();
    }
    HandWaveClosesOff(false);
    g_LogReporter.WriteLog("HalvexV4 BRAVIK32.dll Log Exited");
    g_LogReporter.Close();
}
