// The tone player's window on the Windows multimedia sound call: one typedef
// and one table of pointers, filled with the real winmm PlaySoundA. Tests
// install a recorder in its place to see every call with its path and flags;
// nothing of this table leaves the plug-in's DLL.
//
// The library's event thread and the host's thread both call through the
// table, so it is replaced only while no event can arrive.
#pragma once

#include <windows.h>
#include <mmsystem.h>

typedef BOOL(WINAPI *PFN_PlaySoundA)(LPCSTR pszSound, HMODULE hModule, DWORD fdwSound);

// Members carry the names of the functions they stand for, so that a call
// reads g_Sound.PlaySoundA(szPath, nullptr, dwFlags).
struct SOUND_API {
  PFN_PlaySoundA PlaySoundA;
};

// The table in use; the real function unless a replacement is installed.
extern SOUND_API g_Sound;

// Installs a replacement table (null restores the real function).
void InstallSoundApi(const SOUND_API *pReplacement);
