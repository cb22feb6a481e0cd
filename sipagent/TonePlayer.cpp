// The tone player (threads and sharing: see TonePlayer.h).
#include "TonePlayer.h"

#include <stdio.h>
#include <string.h>

#include "SipAgent.h"
#include "sound_api.h"

CTonePlayer g_TonePlayer(nullptr, "Ringtone.wav", "Ringback.wav", "DialTones.wav", "RemoteBusy.wav");

namespace {
const DWORD D_dwLoopedTone = SND_FILENAME | SND_LOOP | SND_ASYNC;
const DWORD D_dwToneOnce = SND_FILENAME | SND_ASYNC;
static_assert(D_dwLoopedTone == 0x20009 && D_dwToneOnce == 0x20001 && SND_ALIAS == 0x10000,
              "the tone flags hosts and the platform agree on");

// Appends szText to the NUL-terminated szBuffer of nSize bytes, cutting what
// does not fit.
void AppendCut(char *szBuffer, size_t nSize, const char *szText) {
  size_t nUsed = strlen(szBuffer);
  if (nUsed + 1 < nSize) static_cast<void>(snprintf(szBuffer + nUsed, nSize - nUsed, "%s", szText));
}

// Path of the module loaded as the plug-in's file name, else of the host
// executable (a null module handle names the executable).
void ModuleFolder(char *szFolder, size_t nSize) {
  HMODULE hModule = GetModuleHandleA("BRAVIK32.dll");
  DWORD dwLength = GetModuleFileNameA(hModule, szFolder, static_cast<DWORD>(nSize));
  // Before Vista a truncated name comes back without its NUL.
  szFolder[dwLength < nSize ? dwLength : nSize - 1] = '\0';
  char *pLastSlash = strrchr(szFolder, '\\');
  if (pLastSlash) pLastSlash[1] = '\0';
}
}  // namespace

CTonePlayer::CTonePlayer(const char *szFolder, const char *szRingTone, const char *szRingbackTone,
                         const char *szDialTone, const char *szBusyTone)
    : m_szRingTone(szRingTone), m_szRingbackTone(szRingbackTone), m_szDialTone(szDialTone), m_szBusyTone(szBusyTone) {
  m_szToneDir[0] = '\0';
  if (szFolder)
    AppendCut(m_szToneDir, sizeof m_szToneDir, szFolder);
  else
    ModuleFolder(m_szToneDir, sizeof m_szToneDir);
  size_t nLength = strlen(m_szToneDir);
  if (nLength == 0 || m_szToneDir[nLength - 1] != '\\') AppendCut(m_szToneDir, sizeof m_szToneDir, "\\");
  AppendCut(m_szToneDir, sizeof m_szToneDir, "res\\");
}

void CTonePlayer::OnAgentChanged(CSipAgent &agent) {
  if (agent.ToldCallStatus() != 1) {
    Stop();
    return;
  }
  switch (agent.ToldState()) {
    case STATE_UNINITIALISED:
    case STATE_UNREGISTERED:
    case STATE_TALKING: Stop(); break;
    case STATE_CALLING: Play(m_szDialTone, D_dwLoopedTone); break;
    case STATE_ALERTING: Play(m_szRingbackTone, D_dwLoopedTone); break;
    case STATE_RINGING: Play(m_szRingTone, D_dwLoopedTone); break;
    case STATE_RELEASED: Play(m_szBusyTone, D_dwToneOnce); break;
    default:
      // No call (registered): the busy tone may finish, but a loop of a
      // call that ended without a release (ringback, say) must not go on.
      if (m_bLooping) Stop();
      break;
  }
}

void CTonePlayer::Play(const char *szFile, DWORD dwFlags) {
  char szPath[D_nTonePathSize];
  static_cast<void>(snprintf(szPath, sizeof szPath, "%s%s", m_szToneDir, szFile));  // cut: no such tone
  m_bLooping = (dwFlags & SND_LOOP) != 0;
  g_Sound.PlaySoundA(szPath, nullptr, dwFlags);
}

void CTonePlayer::Stop() {
  m_bLooping = false;
  g_Sound.PlaySoundA(nullptr, nullptr, SND_ALIAS);
}
