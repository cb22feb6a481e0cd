// The handset's wave input (microphone) and output (earpiece): the device
// found by its product name among the system's wave devices, opened in one
// fixed PCM format (mono, 8000 Hz, 16 bits), four input buffers circulating
// while a recording runs, output blocks queued for the player, and the
// device's notifications turned into calls of two sinks that the player and
// recorder install. See waveinout.cpp for threads and locking, WaveRetired.h
// for what happens to a device that stops answering.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include "support/BoundedLock.h"

// A sink receives (bytes, length); its result is not read.
typedef int (*PFN_WAVE_SINK)(const char *pBytes, int nLength);

const int D_nInWaveBufCount = 4;
const int D_nInWaveBufMaxSize = 10000;

// Format of both directions. Channels, rate and sample width stay as they
// start; DeviceFormat derives the block alignment and byte rate from them
// at every open, so those two are rewritten then.
extern int g_nChannels;
extern int g_nSamplesPerSec;
extern int g_nBitsPerSample;
extern int g_nBlockAlign;
extern int g_nAvgBytesPerSec;

extern int g_nInWaveBufSize;
// The open input's four headers and its buffer pool (slot i at byte
// i x D_nInWaveBufMaxSize): heap memory of its own for every open, null
// while the input is closed.
extern WAVEHDR *g_InWaveHdr;
extern char *g_InWaveBuf;

// The byte of silence in the device format, for memset: unsigned 8-bit
// samples are silent at their midpoint, signed 16-bit ones at 0.
int SilenceByte();

// Installed by the recorder and the player; never cleared.
extern PFN_WAVE_SINK g_pfnWaveInData;
extern PFN_WAVE_SINK g_pfnWaveOutDone;

// How long an open waits for its direction's close before it abandons the
// device that does not answer.
const DWORD D_dwCloseWaitTimeout = 1000;
// How long an ordinary call waits for a direction's lock or the retired
// devices' lock: both are held only across wave calls that return at once.
const DWORD D_dwWaveLockBoundMs = 5000;

// Wave API result codes, 0 on success. Both return 0 at once while their
// direction is open. While it is still closing they wait for the close, at
// most D_dwCloseWaitTimeout (not at all on the wave message thread); then
// the device is abandoned and the direction opened afresh. An input that
// takes none of its buffers, or does not start, would record nothing: it is
// abandoned and the open fails with the device's error.
MMRESULT OpenWaveIn();
MMRESULT OpenWaveOut();
// The input closes itself once its four buffers have come back. A reset
// that fails abandons it at once. Its locks are waited for until deadline
// (the unload's), or D_dwWaveLockBoundMs.
void StopWaveIn(const CDeadline &deadline);
// Returns every queued block; the output closes after the last one. A reset
// that fails abandons it at once.
void StopWaveOut(const CDeadline &deadline);
// While a stopped input is still closing, waits until closeWait for its
// close notification, which comes after the last returned buffer has been
// through the sink; when the time runs out (or on the wave message thread,
// at once) the input is abandoned. Afterwards the input is not closing. True
// when it closed by itself; false also when its lock was not had by lockWait.
bool FinishWaveInClose(const CDeadline &closeWait, const CDeadline &lockWait);
// At the library's unload, once the wave message thread has stopped: a
// direction still open (its returns never handled) is abandoned, its close
// made or handed off (WaveClose.h), what it may still hold kept.
void AbandonOpenWaveDevices(const CDeadline &deadline);
// Copies the bytes into a block of their own and queues it: 0, or -1 when
// the output is not open, is closing, or no memory is to be had.
int WriteWaveOut(const char *pBytes, int nLength);

// Runs on the wave message thread for every message of its queue.
void HandleWaveMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);
