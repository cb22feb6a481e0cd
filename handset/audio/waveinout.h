// The handset's wave input (microphone) and output (earpiece): the device
// found by its product name among the system's wave devices, opened in one
// fixed PCM format (mono, 8000 Hz, 16 bits), four input buffers circulating
// while a recording runs, output blocks queued for the player, and the
// device's notifications turned into calls of two sinks that the player and
// recorder install. See waveinout.cpp for threads and locking.
#pragma once

#include <windows.h>
#include <mmsystem.h>

// A sink receives (bytes, length); its result is not read.
typedef int (*PFN_WAVE_SINK)(const char *pBytes, int nLength);

// The product name the handset's USB audio device reports, two trailing
// blanks included.
extern const char D_szHandsetWaveName[];

const int D_nInWaveBufCount = 4;
const int D_nInWaveBufMaxSize = 10000;

// Format of both directions; the base values never change at run time.
extern int g_nChannels;
extern int g_nSamplesPerSec;
extern int g_nBitsPerSample;
extern int g_nBlockAlign;
extern int g_nAvgBytesPerSec;

// Device ids, WAVE_MAPPER until the handset has been found once.
extern UINT g_nWaveInDevice;
extern UINT g_nWaveOutDevice;

extern HWAVEIN g_hWaveIn;
extern volatile BYTE g_bWaveInOpen;
extern volatile BYTE g_bWaveInStopping;
extern volatile int g_nWaveInPending;
extern int g_nInWaveBufSize;
extern WAVEHDR g_InWaveHdr[D_nInWaveBufCount];
extern char g_InWaveBuf[D_nInWaveBufCount * D_nInWaveBufMaxSize];

extern HWAVEOUT g_hWaveOut;
extern volatile BYTE g_bWaveOutOpen;
extern volatile BYTE g_bWaveOutClosing;
extern volatile LONG g_nWaveOutQueued;

// Installed by the recorder and the player; never cleared.
extern PFN_WAVE_SINK g_pfnWaveInData;
extern PFN_WAVE_SINK g_pfnWaveOutDone;

// Wave API result codes, 0 on success. Both return 0 at once while their
// direction is open; while it is still closing they wait (bounded) for the
// close and then open it again, or give MMSYSERR_ALLOCATED.
MMRESULT OpenWaveIn();
MMRESULT OpenWaveOut();
// The input closes itself once its four buffers have come back.
void StopWaveIn();
// Returns every queued block; the output closes after the last one.
void StopWaveOut();
// While a stopped input is still closing, waits (at most dwTimeout, and not
// at all on the wave message thread) for its close notification, which comes
// after the last returned buffer has been through the sink. True when the
// input is not closing (any more).
bool WaitWaveInClosed(DWORD dwTimeout);
// Copies the bytes into a block of their own and queues it: 0, or -1 when
// the output is not open, is closing, or no memory is to be had.
int WriteWaveOut(const char *pBytes, int nLength);

// Runs on the wave message thread for every message of its queue.
void HandleWaveMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);
