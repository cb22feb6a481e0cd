// The library's load and unload steps, apart from the entry point so that a
// host linking the plug-in's library directly (the demo host) runs the very
// same steps.
#pragma once

#include <windows.h>

// The detach step's bound: the sum of its waits in the worst case, every
// worker stuck at once (tools/bench_detach measures it). It has three
// parts: the first ends D_dwDetachFirstPartMs after its start, the second
// D_dwDetachSecondPartMs after it, and the last log line and the log's close
// have the rest.
const DWORD D_dwDetachBoundMs = 3000;
const DWORD D_dwDetachFirstPartMs = 1500;
const DWORD D_dwDetachSecondPartMs = 2500;

// Opens the log, writes "Log Started" and starts the link thread.
void PluginAttach();
// Stops the link thread and the wave message thread, writes "Log Exited" and
// closes the log, within D_dwDetachBoundMs. bUnderLoaderLock: the caller
// holds the loader lock (the entry point always does). When the library is
// unloaded while the process goes on, a running playback or recording is
// stopped: without the loader lock first (the first part), while the wave
// message thread still runs, so the recording's last buffers reach the file,
// and the workers after it; under the loader lock the workers first and the
// jobs after them, with no wave call at all (Windows forbids the wave API
// there, and a driver may need the lock): each device still open is reset
// and closed by a thread of its own once the lock is free
// (audio/WaveClose.h), and a recording keeps what reached its file before.
// At process exit the wave message thread is already gone and there is
// nobody left to hand anything over.
void PluginDetach(bool bProcessExiting, bool bUnderLoaderLock);
