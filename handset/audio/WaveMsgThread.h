// The wave message thread: one thread with a message queue on which every
// notification of the wave input and output devices is handled, one at a
// time (the queue serialises them). The wave device layer starts it on first
// use; the library's detach step stops it so that no thread runs our code
// after an unload. It is a worker like the link thread (support/BaseThread.h):
// the same start, stop and forced end, and it leaves through its start page,
// so that even a stop under the loader lock lets it exit by itself and the
// system frees its message queue.
#pragma once

#include <windows.h>

#include <atomic>

#include "support/ThreadEnd.h"

extern std::atomic<DWORD> g_dwWaveThreadId;
extern HANDLE g_hWaveThread;

// How long a start waits for the new thread to own its message queue.
const DWORD D_dwQueueReadyTimeout = 2000;
// How long a stop waits for the thread to end by itself.
const DWORD D_dwWaveThreadStopTimeout = 500;
// How long a start waits for the thread's lock (held across another start or
// stop), and a stop's waits together with that.
const DWORD D_dwWaveThreadLockBoundMs = D_dwWaveThreadStopTimeout + CThreadEnd::D_dwMostBeyondTimeoutMs;
const DWORD D_dwWaveThreadStopBoundMs = 2 * D_dwWaveThreadLockBoundMs;

// 0 when the thread runs afterwards (also when it ran already), -1 when it
// could not be created. Returns once the thread owns its message queue (so a
// device opened right after cannot post its open notification into the
// void), or after D_dwQueueReadyTimeout.
int StartWaveMsgThread();
// Asks the thread to end (WM_QUIT), without waiting.
void RequestWaveMsgThreadStop();
// Asks the thread to end; after 500 ms it is ended by force, exit code -1,
// while it waits for a message (or, when it does not come to that within
// CThreadEnd::D_dwSafeEndWaitMs, where it is). Every wait by deadline (the
// unload's, or D_dwWaveThreadStopBoundMs).
void StopWaveMsgThread(const CDeadline &deadline);
