// Playback of a WAV file into the handset's earpiece, for the host's play
// exports. At most one play job exists at a time; it is independent of the
// recording (FileRecording.h), and the two may run together, one on the
// device's output, one on its input.
//
// Playback queues two opening blocks of 40960 bytes (2.56 s of sound) and then
// one refill of 10240 bytes each time the device returns a block; at the end
// of the file a short silence follows the last block, and the job ends by
// itself once the blocks still queued have been played. See FilePlayback.cpp
// for which thread runs what, how the job is guarded and why the silence.
#pragma once

#include <windows.h>

#include "support/BoundedLock.h"

class WaveFile;

// The job: set from the start until the stop or the end of the file. A start
// that fails leaves none.
extern WaveFile *g_pPlayFile;

// The silence queued after the file's last block: 100 ms.
const int D_nPlayEndSilenceBytes = 1600;

// How long the start may wait: only for the output's previous device to
// close (D_dwCloseWaitTimeout, then that device is abandoned), and the first
// open of all for the wave message thread to own its queue (2 s,
// WaveMsgThread.h). Nothing else here waits: the locks are held only across
// calls that return at once.

// 0 started, -1 not started (also when a play job exists).
int StartPlayFile(const char *pszPath);
// Always 0; waits for nothing but its locks, by deadline
// (CFileJob::D_dwLockBoundMs, or the unload's).
int StopPlayFile(const CDeadline &deadline);
// 1 while a play job exists, else 0.
int IsPlayingFile();

// The output's sink, run on the wave message thread. Always 0.
int PlayBlockDone(const char *pBytes, int nLength);
