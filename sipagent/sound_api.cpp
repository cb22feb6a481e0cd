// The real winmm sound call behind the tone player's table (see sound_api.h).
#include "sound_api.h"

namespace {
// Called through the import table at each call, not bound once at load, so
// that an operator's tool watching the plug-in's winmm imports (the host
// console does) sees every tone.
BOOL WINAPI ImportedPlaySound(LPCSTR pszSound, HMODULE hModule, DWORD fdwSound) {
  return ::PlaySoundA(pszSound, hModule, fdwSound);
}

const SOUND_API g_RealSound = {ImportedPlaySound};

// PlaySoundA with SND_ASYNC leaves a thread of winmm's playing after the call
// returns. When the host unloads the plug-in, often winmm's only user, winmm
// would be unmapped under that thread and the host would fault. Pinning winmm
// at load keeps it for the life of the process. (The loader lock is held
// here, but it is ours already: static construction runs in DllMain.)
SOUND_API PinnedRealSound() {
  HMODULE hWinmm = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCSTR>(reinterpret_cast<void *>(&::PlaySoundA)), &hWinmm);
  return g_RealSound;
}
}  // namespace

SOUND_API g_Sound = PinnedRealSound();

void InstallSoundApi(const SOUND_API *pReplacement) { g_Sound = pReplacement ? *pReplacement : g_RealSound; }
