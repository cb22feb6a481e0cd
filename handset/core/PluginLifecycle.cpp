// The library's load and unload steps: see PluginLifecycle.h.
//
// Both run on the thread that loads or unloads the library (under the loader
// lock when called from DllMain). The link thread begins running only after
// the loader lock is released. Detach stops the link thread and the wave
// message thread before the last log line, so that no thread of ours is left
// running code that is about to be unmapped. Both are asked to stop at once
// and then waited for, so that their bounds overlap. The step's deadline is
// handed down to every function that may wait, down to the locks the audio
// code takes (support/BoundedLock.h); a lock not had in time, or whose owner
// was ended where it stood, is skipped with a log line.
#include "core/PluginLifecycle.h"

#include "audio/FilePlayback.h"
#include "audio/FileRecording.h"
#include "audio/WaveClose.h"
#include "audio/WaveMsgThread.h"
#include "audio/waveinout.h"
#include "core/Halvex.h"
#include "support/LogReporter.h"
#include "support/BoundedLock.h"

namespace {

void StopJobs(const CDeadline &deadline) {
    StopPlayFile(deadline);
    StopRecordFile(deadline);
}

void StopWorkers(const CDeadline &deadline) {
    g_Halvex.RequestStop();
    RequestWaveMsgThreadStop();
    g_Halvex.Stop(deadline);
    StopWaveMsgThread(deadline);
}

}  // namespace

void PluginAttach() {
    g_LogReporter.Open("halvex", "_", true);
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "HalvexV4 BRAVIK32.dll Log Started");
    g_Halvex.Start(0);
}

void PluginDetach(bool bProcessExiting, bool bUnderLoaderLock) {
    const CDeadline deadline = CDeadline::ForUnload(bUnderLoaderLock, D_dwDetachBoundMs);
    const bool bHandOff = !bProcessExiting && bUnderLoaderLock;
    // Under the loader lock no wave call is made here, nor on the wave
    // message thread while this step waits for it (WaveClose.h).
    HandWaveClosesOff(bHandOff);
    const CDeadline first = deadline.Until(D_dwDetachFirstPartMs);
    const CDeadline second = deadline.Until(D_dwDetachSecondPartMs);
    if (bHandOff)
        StopWorkers(first);
    else if (!bProcessExiting)
        StopJobs(first);
    if (bHandOff)
        StopJobs(second);
    else
        StopWorkers(second);
    if (!bProcessExiting) AbandonOpenWaveDevices(second);
    HandWaveClosesOff(false);
    g_LogReporter.WriteLog(deadline.Within(D_dwLogLockMs), "HalvexV4 BRAVIK32.dll Log Exited");
    g_LogReporter.Close(deadline.Within(D_dwLogLockMs));
}
