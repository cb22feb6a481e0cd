/* BRAVIK32.dll, the Halvex USB handset plug-in: its exports and the
 * messages it posts, for developers of the host application.
 *
 * Binding. Load the library with LoadLibraryA and bind every function with
 * GetProcAddress under its exported name. All exports use the Windows
 * standard calling convention (WINAPI, __stdcall: the callee pops its
 * arguments) and return a 32-bit int; declare your function pointers exactly
 * so, or the 32-bit stack is corrupted. Most names are plain; nine are
 * exported under decorated names, given below as BRAVIK32_NAME_... strings:
 *
 *     function            exported name
 *     CT_StopMonitor      "_CT_StopMonitor@0"
 *     CT_RingOn           "_CT_RingOn@0"
 *     CT_RingOff          "_CT_RingOff@0"
 *     CT_MicMute          "_CT_MicMute@4"
 *     CT_EarMute          "_CT_EarMute@4"
 *     CT_KeyLock          "_CT_KeyLock@4"
 *     CT_SendDTMF         "_CT_SendDTMF@4"
 *     CT_GetErrorDesc     "?CT_GetErrorDesc@@YGHPAD@Z"
 *     CT_GetStatus        "?CT_GetStatus@@YGHXZ"
 *
 * Conventions. Strings are NUL-terminated, in the system ANSI code page.
 * Flag arguments count by their low 8 bits only (256 is off). The channel
 * argument of the TV_ functions is ignored (one handset). Output buffers
 * belong to the caller and must hold at least: 30 bytes for CT_GetDTMFStr
 * and CT_GetKeys, 32 for CT_GetANI, 9 for TV_GetDLLVersion. A null buffer or
 * string is never written or read. Functions documented "result 0" have no
 * meaningful result.
 *
 * No function waits for the handset (TV_StopRecordFile waits, briefly, for
 * the audio device). Events reach the host only as the
 * messages below, posted to the window given to CT_StartMonitor; handle them
 * on that window's thread. Commands given while no handset is attached are
 * dropped without an error.
 */
#ifndef BRAVIK32_H
#define BRAVIK32_H

#include <windows.h>

/* Messages posted to the host window (wParam 0, lParam 0 unless noted). */
#define BRAVIK32_MSG_RING        (WM_USER + 100) /* 1124: the line rings */
#define BRAVIK32_MSG_STOP_DIGIT  (WM_USER + 101) /* 1125: the stop digit set with
                                                    CT_SetStopIO arrived; the digits are
                                                    queued for TV_GetDTMFChar/CT_GetDTMFStr */
#define BRAVIK32_MSG_HANG_UP     (WM_USER + 102) /* 1126: the handset hung up; the digit
                                                    queue was emptied before the post */
#define BRAVIK32_MSG_OFF_HOOK    (WM_USER + 103) /* 1127: the handset went off hook */
/* 1128 to 1132 (WM_USER + 104 to 108) are not posted by this plug-in. */
#define BRAVIK32_MSG_CALLER_ID   (WM_USER + 109) /* 1133: caller number; wParam points to
                                                    the NUL-terminated number (valid while
                                                    the message is handled: copy it),
                                                    lParam is its length. CT_GetANI returns
                                                    the last one later. */
#define BRAVIK32_MSG_NO_HANDSET  (WM_USER + 110) /* 1134: a search found no handset; the
                                                    plug-in searches again about every 2.2 s */

/* Exported names that differ from the function names. */
#define BRAVIK32_NAME_CT_StopMonitor  "_CT_StopMonitor@0"
#define BRAVIK32_NAME_CT_RingOn       "_CT_RingOn@0"
#define BRAVIK32_NAME_CT_RingOff      "_CT_RingOff@0"
#define BRAVIK32_NAME_CT_MicMute      "_CT_MicMute@4"
#define BRAVIK32_NAME_CT_EarMute      "_CT_EarMute@4"
#define BRAVIK32_NAME_CT_KeyLock      "_CT_KeyLock@4"
#define BRAVIK32_NAME_CT_SendDTMF     "_CT_SendDTMF@4"
#define BRAVIK32_NAME_CT_GetErrorDesc "?CT_GetErrorDesc@@YGHPAD@Z"
#define BRAVIK32_NAME_CT_GetStatus    "?CT_GetStatus@@YGHXZ"

/* Pointer types for GetProcAddress, one per signature. */
typedef int(WINAPI *BRAVIK32_PFN_VOID)(void);
typedef int(WINAPI *BRAVIK32_PFN_INT)(int);
typedef int(WINAPI *BRAVIK32_PFN_INT_INT)(int, int);
typedef int(WINAPI *BRAVIK32_PFN_INT_STRING)(int, const char *);
typedef int(WINAPI *BRAVIK32_PFN_STRING)(const char *);
typedef int(WINAPI *BRAVIK32_PFN_BUFFER)(char *);
typedef int(WINAPI *BRAVIK32_PFN_WINDOW)(HWND);
typedef int(WINAPI *BRAVIK32_PFN_FILE)(int, const char *, int, int);

#ifdef __cplusplus
extern "C" {
#endif

/* Host telephony-device interface. */
int WINAPI TV_Installed(void);                    /* 1 */
int WINAPI TV_Initialize(void);                   /* 1 if a handset is open now, else 0;
                                                     starts nothing (right after loading: 0) */
int WINAPI TV_Disable(void);                      /* result 0; stops nothing */
int WINAPI TV_CompressRatio(int nIgnored);        /* result 0 */
int WINAPI TV_ConnectChannels(int nFirst, int nSecond); /* result 0; logged only */
int WINAPI TV_ConnectTo(int nFirst, int nSecond);       /* result 0; logged only */
int WINAPI TV_Disconnect(int nChannel);                 /* result 0; logged only */
int WINAPI TV_DisconnectChannels(int nFirst, int nSecond); /* result 0; logged only */
int WINAPI TV_FlushDTMF(int nChannel);            /* result 0; empties the digit queue */
int WINAPI TV_GetDTMFChar(int nChannel);          /* oldest queued digit, -1 when none */
int WINAPI TV_HangUpCtrl(int nChannel);           /* result 0; hangs up */
int WINAPI TV_OffHookCtrl(int nChannel);          /* result 0; goes off hook */
int WINAPI TV_StartDial(int nChannel, const char *szDigits);
/* 0. Goes off hook, waits 300 ms (blocking the caller), then dials at most 26
   digits. A longer string (or none) is refused: nothing at all is sent. */
int WINAPI TV_GetDLLVersion(char *szVersion);     /* 0; writes "20060601" and its NUL */

/* Handset control. */
int WINAPI CT_StartMonitor(HWND hWnd);            /* 1; messages go to hWnd from now on */
int WINAPI CT_StopMonitor(void);                  /* 0; the window stays registered */
int WINAPI CT_Flash(void);                        /* 1 */
int WINAPI CT_Bell(int nFlag);                    /* 1; bell on/off */
int WINAPI CT_Keyboard(int nFlag);                /* 1; keyboard on/off */
int WINAPI CT_Mic(int nFlag);                     /* 1; microphone on/off */
int WINAPI CT_Spk(int nFlag);                     /* 1; speaker on/off */
int WINAPI CT_RingOn(void);                       /* 1; as CT_Bell(1) */
int WINAPI CT_RingOff(void);                      /* 1; as CT_Bell(0) */
int WINAPI CT_MicMute(int nFlag);                 /* 1; as CT_Mic(nFlag) */
int WINAPI CT_EarMute(int nFlag);                 /* 1; as CT_Spk(nFlag) */
int WINAPI CT_KeyLock(int nFlag);                 /* 1; as CT_Keyboard(nFlag) */
int WINAPI CT_SendDTMF(const char *szDigits);     /* 1; logged only, nothing is sent */
int WINAPI CT_GetANI(char *szNumber);             /* 0; the last caller number (at most
                                                     31 characters and its NUL, "" if none) */
int WINAPI CT_GetKeys(char *pKeys);               /* 1; moves up to 30 queued keys, no NUL */
int WINAPI CT_GetDTMFStr(char *pDigits);          /* digits moved (0 to 30), no NUL; more
                                                     stay queued for the next call */
int WINAPI CT_SetStopIO(int nDigit);              /* 0; the digit (low 8 bits) that
                                                     triggers BRAVIK32_MSG_STOP_DIGIT */
int WINAPI CT_GetErrorDesc(char *szDescription);  /* 0; the buffer is not written */
int WINAPI CT_GetStatus(void);                    /* 0 */

/* File playback into the earpiece and recording of the microphone, through
 * the handset's USB audio device. Files are WAV: a prompt's samples are
 * played as 8000 Hz 16-bit mono whatever its header says; a recording is
 * written as 8000 Hz 16-bit mono PCM, its header current after every 80 ms.
 * One playback and one recording at a time; they may run together. The two
 * ...Rest functions report a running flag (1 or 0), not a time or a size:
 * poll TV_PlayFileRest until it returns 0 to learn that a prompt has been
 * played to its end (no message is posted). A start that fails may leave
 * its job reported as running: call the matching stop before starting again.
 * nIgnored1 and nIgnored2 are not used. */
int WINAPI TV_StartPlayFile(int nChannel, const char *szFile, int nIgnored1, int nIgnored2);
/* 0 playing, -1 not (also while a playback runs); tells the handset first */
int WINAPI TV_StopPlayFile(int nChannel);         /* 1; cuts the playback at once */
int WINAPI TV_PlayFileRest(int nChannel);         /* 1 while a playback job exists, else 0 */
int WINAPI TV_StartRecordFile(int nChannel, const char *szFile, int nIgnored1, int nIgnored2);
/* 0 recording, -1 not (empty name, file or device cannot be opened); a
   running recording is stopped and closed first, as by TV_StopRecordFile */
int WINAPI TV_StopRecordFile(int nChannel);
/* 0; returns once the last 320 ms still in the device are in the file and
   its header is final (normally milliseconds, at most about 2 s) */
int WINAPI TV_RecordFileRest(int nChannel);       /* 1 while a recording job exists, else 0 */

#ifdef __cplusplus
}
#endif

#endif /* BRAVIK32_H */
