// Playback of a WAV file into the handset's earpiece and recording of its
// microphone into a WAV file, for the host's play and record exports. At most
// one play job and one record job exist at a time; the two are independent
// and may run together, one on the device's output, one on its input.
//
// Playback queues two opening blocks of 40960 bytes (2.56 s of sound) and then
// one refill of 10240 bytes each time the device returns a block; at the end
// of the file the job ends by itself once the blocks still queued have been
// played. Recording appends every 1280-byte input buffer to the file as it
// arrives and never ends by itself. See FilePlayback.cpp and FileRecording.cpp
// for which thread runs what and how the jobs are guarded.
#pragma once

#include <windows.h>

class WaveFile;

// The jobs: set from the start until the stop (or, for playback, the end of
// the file). A start that fails after creating its job leaves it set.
extern WaveFile *g_pPlayFile;
extern WaveFile *g_pRecordFile;

// How long the starts and the recording's stop may wait. A start waits only
// for its direction's previous device to close (D_dwCloseWaitTimeout, then
// that device is abandoned), and the first open of all for the wave message
// thread to own its queue (2 s, WaveMsgThread.h). The recording's stop waits
// for the buffers its reset returns, then abandons the input. Nothing else
// here waits: the locks are held only across calls that return at once.
const DWORD D_dwRecordStopTimeout = 2000;

// 0 started, -1 not started (also when a job of that direction exists).
int StartPlayFile(const char *pszPath);
// Always 0; never waits.
int StopPlayFile();
// 1 while a play job exists, else 0.
int IsPlayingFile();

int StartRecordFile(const char *pszPath);
// Always 0; waits at most D_dwRecordStopTimeout.
int StopRecordFile();
int IsRecordingFile();

// The device's sinks, run on the wave message thread. Always 0.
int PlayBlockDone(const char *pBytes, int nLength);
int RecordBlockReady(const char *pBytes, int nLength);
