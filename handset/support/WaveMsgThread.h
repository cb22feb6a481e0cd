// The wave message thread: one thread with a message queue on which every
// notification of the wave input and output devices is handled, one at a
// time (the queue serialises them). The wave device layer starts it on first
// use; the library's detach step stops it so that no thread runs our code
// after an unload.
#pragma once

#include <windows.h>

extern volatile DWORD g_dwWaveThreadId;
extern HANDLE g_hWaveThread;

// 0 when the thread runs afterwards (also when it ran already), -1 when it
// could not be created. Returns only once the thread owns its message queue,
// so a device opened right after cannot post its open notification into the
// void.
int StartWaveMsgThread();
void StopWaveMsgThread();
DWORD WINAPI WaveMsgThreadProc(LPVOID lpParam);
