// CTonePlayer: makes the agent's call state audible on the PC's default sound
// output (dial tone, ringback, ring tone, busy tone) from WAV files in the
// folder "res" beside the module loaded as "BRAVIK32.dll".
//
// It is the agent's only observer: TV_Initialize adds the one static
// instance, g_TonePlayer. OnAgentChanged runs on whichever thread notifies
// (the library's event thread for events, the host's thread for the library
// start and the file requests); it only reads the agent and the folder fixed
// at construction, and every sound starts with SND_ASYNC or stops without
// waiting, so the event thread never blocks on a sound.
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
  CTonePlayer(const char *szFolder, const char *szRingTone, const char *szRingbackTone,
              const char *szDialTone, const char *szBusyTone);

  void OnAgentChanged(CSipAgent &agent) override;
  const char *ToneDir() const { return m_szToneDir; }

 private:
  void Play(const char *szFile, DWORD dwFlags) const;
  void Stop() const;

  char m_szToneDir[D_nToneDirSize];
  const char *m_szRingTone;
  const char *m_szRingbackTone;
  const char *m_szDialTone;
  const char *m_szBusyTone;
};

extern CTonePlayer g_TonePlayer;
