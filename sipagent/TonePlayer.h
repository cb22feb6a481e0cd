// CTonePlayer: makes the agent's call state audible on the PC's default sound
// output (dial tone, ringback, ring tone, busy tone) from WAV files in the
// folder "res" beside the module loaded as "BRAVIK32.dll".
//
// The first TV_Initialize of the process makes the one static instance,
// g_TonePlayer, an observer of the agent, once; the plug-in adds no other.
// OnAgentChanged runs on whichever thread notifies (the library's event
// thread for events, the host's thread for the library start and the file
// requests), one notification at a time and in the order of the changes: it
// plays the tone of the state the change set, which a later event may have
// replaced already. Every sound starts with SND_ASYNC or stops without
// waiting, so the event thread never blocks on a sound. A looped tone is
// stopped as soon as the agent has no call; the busy tone, played once, may
// finish.
#pragma once

#include <windows.h>

#include "AgentObserver.h"

// Room for the tone folder, "res\" and its terminating NUL included.
const int D_nToneDirSize = 255;
// Room for a tone file's full path.
const int D_nTonePathSize = 256;

class CTonePlayer : public CAgentObserver {
 public:
  // szFolder null: the folder of the module loaded as "BRAVIK32.dll", or of
  // the host executable when none is; "res\" is appended either way.
  CTonePlayer(const char *szFolder, const char *szRingTone, const char *szRingbackTone, const char *szDialTone,
              const char *szBusyTone);

  void OnAgentChanged(CSipAgent &agent) override;
  const char *ToneDir() const { return m_szToneDir; }

 private:
  void Play(const char *szFile, DWORD dwFlags);
  void Stop();

  char m_szToneDir[D_nToneDirSize];
  const char *m_szRingTone;
  const char *m_szRingbackTone;
  const char *m_szDialTone;
  const char *m_szBusyTone;
  bool m_bLooping = false;  // a looped tone was the last asked for
};

extern CTonePlayer g_TonePlayer;
