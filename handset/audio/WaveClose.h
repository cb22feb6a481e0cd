// The close of a wave device, and why the library's detach step never makes
// it itself.
//
// Closing a wave device waits for the system's audio threads: under Wine,
// winmm's device thread releases the audio endpoint and waits for the
// endpoint's thread to exit, and that exit needs the loader lock. The detach
// step holds that lock while it stops the playback and the recording, so a
// close made there, or on the wave message thread while the detach step
// waits for it, would wait for ever (Windows, too, forbids the wave API in a
// library's entry point). So, while the detach step runs under the loader
// lock, closes are handed off: each device is reset and closed by a thread
// of its own, with the device's handle as its one argument, that starts on a
// page outside this library (support/EntryStub.h) which calls the wave
// table's reset and then its close, and so runs no code of this library.
// The reset is handed off with the close: a reset too waits for the system's
// audio threads, and no wave call at all is made under the loader lock.
// It cannot start before the loader lock is free again, by which time the
// library may be gone; the module that holds the close function is pinned
// first so that it stays loaded for it. The devices are opened with
// CALLBACK_THREAD, so what such a close notifies goes to a thread's queue,
// never into this library's code.
//
// A handed-off close counts as done at once for the direction: nobody will
// be left to handle its notification. Memory the device may still own is
// not freed (the callers retire it, WaveRetired.h).
//
// Why not as Wine's own winmm ends its device thread, which holds a
// reference on its module and leaves with FreeLibraryAndExitThread once no
// device is open, so that no close is ever made under the loader lock: a
// FreeLibrary during a playback or a recording would then unload nothing.
// The plug-in would stay mapped, its log open and its jobs running, until
// the device closed: minutes for a long prompt, for ever for a device that
// stops answering, and a host that unloads to load the plug-in afresh would
// find the old one still in its process. The hand-off keeps what the unload
// promises: it returns within its bound, and no code of ours runs after it.
#pragma once

#include <windows.h>
#include <mmsystem.h>

// Set by the detach step, under the loader lock, for its duration; pins the
// close functions' module when set.
void HandWaveClosesOff(bool bHandOff);
bool WaveClosesHandedOff();

// The device's close (bInput: a wave input, else an output): made here and
// its result returned, or, while closes are handed off, given with a reset
// before it to a thread of its own (MMSYSERR_NOERROR; MMSYSERR_NOMEM when no thread could be made,
// MMSYSERR_ERROR when the module could not be pinned: the device is never
// closed here then).
MMRESULT CloseWaveDevice(bool bInput, HANDLE hWave);
