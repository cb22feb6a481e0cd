// The close of a wave device, and why the library's detach step never makes
// it itself.
//
// Closing (and resetting) a wave device waits for the system's audio
// threads, whose exit needs the loader lock (under Wine, winmm's device
// thread waits for the endpoint's thread to exit; Windows forbids the wave
// API in a library's entry point anyway). So while the detach step holds the
// loader lock, each close is handed off to a thread of its own, with the
// device's handle as its argument, that starts on a page outside this
// library (support/EntryStub.h) calling the wave table's reset and then its
// close: no code of this library runs there, and the close functions'
// module is pinned so that it outlives the unload. The devices are opened
// with CALLBACK_THREAD, so what such a close notifies goes to a thread's
// queue. A handed-off close counts as done at once; memory the device may
// still own is retired, not freed (WaveRetired.h).
//
// Why not as Wine's winmm ends its device thread (a reference on its module,
// FreeLibraryAndExitThread once no device is open): a FreeLibrary during a
// playback or a recording would then unload nothing until the device
// closed, minutes for a long prompt, for ever for a device that stops
// answering, and a host that unloads to load the plug-in afresh would find
// the old one still in its process. The hand-off keeps what the unload
// promises: it returns within its bound, and no code of ours runs after it.
#pragma once

#include <windows.h>
#include <mmsystem.h>

// Set by the detach step for its duration; pins the close functions' module.
void HandWaveClosesOff(bool bHandOff);
bool WaveClosesHandedOff();

// The device's close, made here; or, while closes are handed off, given with
// a reset to a thread of its own (MMSYSERR_NOMEM without a thread,
// MMSYSERR_ERROR when the module could not be pinned: never closed here).
MMRESULT CloseWaveDevice(bool bInput, HANDLE hWave);
