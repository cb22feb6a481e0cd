// Recording of the handset's microphone into a WAV file, for the host's
// record exports. At most one record job exists at a time; it is independent
// of the playback (FilePlayback.h), and the two may run together, one on the
// device's input, one on its output.
//
// Recording appends every 1280-byte input buffer to the file as it arrives
// and ends by itself only when the file cannot take a buffer (a full disk).
// See FileRecording.cpp for which thread runs what and how the job is
// guarded.
#pragma once

#include <windows.h>

#include "support/BoundedLock.h"

class WaveFile;

// The job: set from the start until the stop, or until a buffer could not be
// written. A start that fails leaves none, and no file either.
extern WaveFile *g_pRecordFile;

// How long the start and the stop may wait. The start waits only for the
// input's previous device to close (D_dwCloseWaitTimeout, then that device is
// abandoned), and the first open of all for the wave message thread to own
// its queue (2 s, WaveMsgThread.h). The stop waits for the buffers its reset
// returns, then abandons the input. Nothing else here waits: the locks are
// held only across calls that return at once.
const DWORD D_dwRecordStopTimeout = 2000;

// 0 started, -1 not started (also when a record job exists).
int StartRecordFile(const char *pszPath);
// Always 0; waits at most D_dwRecordStopTimeout for the input's close, and
// for its locks by deadline (CFileJob::D_dwLockBoundMs, or the unload's).
int StopRecordFile(const CDeadline &deadline);
// 1 while a record job exists, else 0.
int IsRecordingFile();

// The input's sink, run on the wave message thread. Always 0.
int RecordBlockReady(const char *pBytes, int nLength);
