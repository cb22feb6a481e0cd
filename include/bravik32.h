/* BRAVIK32.dll, the Halvex USB handset plug-in: its exports and the messages
 * it posts, for developers of the host application.
 *
 * BINDING. There is no import library. Load the DLL with LoadLibraryA and
 * bind every function with GetProcAddress under its exported name. The
 * prototypes at the end of this file are declarations for documentation and
 * for binding (a C++ host may write decltype(&CT_Bell)); nothing can link
 * against them. All exports use the Windows standard calling convention
 * (WINAPI, __stdcall: the callee pops its arguments) and return a 32-bit int;
 * a pointer declared with another convention or other arguments corrupts the
 * 32-bit stack. Most names are plain; nine are exported under decorated
 * names, given below as BRAVIK32_NAME_... strings.
 *
 * The cast that binds a GetProcAddress result without a warning (GCC warns,
 * with -Wextra, about a direct cast from FARPROC to another function type;
 * a cast through void (*)(void) is exempt, and MSVC accepts it too):
 *
 *     BRAVIK32_PFN_CT_Bell pfnBell =
 *         (BRAVIK32_PFN_CT_Bell)(void (*)(void))GetProcAddress(hPlugin, "CT_Bell");
 *
 * ONE HOST FOR BOTH PLUG-INS. The SIP plug-in (marenta.h) is deployed under
 * the same file name, BRAVIK32.dll, and shares six export names with other
 * argument lists and the C calling convention: TV_Initialize, TV_Installed,
 * TV_StartPlayFile, TV_StopPlayFile, TV_StartRecordFile, TV_StopRecordFile.
 * A host that supports whichever plug-in is deployed includes both headers
 * without their prototypes and binds through the pointer types:
 *
 *     #define BRAVIK32_NO_PROTOTYPES
 *     #define MARENTA_NO_PROTOTYPES
 *     #include "bravik32.h"
 *     #include "marenta.h"
 *
 * It tells the loaded plug-in by its exports: only the handset plug-in
 * exports CT_StartMonitor (BRAVIK32_IS_HANDSET_PLUGIN), only the SIP plug-in
 * exports TV_MakeCall (MARENTA_IS_SIP_PLUGIN). The DLL's file properties say
 * the same in words (FileDescription "BRAVIK32 handset plug-in (Halvex USB
 * handset)"), with the release in FileVersion; TV_GetDLLVersion answers
 * "20060601" in every release.
 *
 * THE RELEASE AT RUN TIME. A host that logs or checks which release it
 * loaded reads the file version from the DLL's version resource; for
 * either plug-in, with version.lib (-lversion), <stdio.h> and <stdlib.h>:
 *
 *     char szPath[MAX_PATH] = "", szVersion[24] = "";
 *     DWORD dwIgnored, dwSize;
 *     VS_FIXEDFILEINFO *pInfo;
 *     UINT uLength;
 *     void *pData;
 *     GetModuleFileNameA(hPlugin, szPath, MAX_PATH);
 *     dwSize = GetFileVersionInfoSizeA(szPath, &dwIgnored);
 *     pData = malloc(dwSize);
 *     if (pData && GetFileVersionInfoA(szPath, 0, dwSize, pData) &&
 *         VerQueryValueA(pData, "\\", (void **)&pInfo, &uLength))
 *         sprintf(szVersion, "%u.%u.%u.%u", HIWORD(pInfo->dwFileVersionMS),
 *                 LOWORD(pInfo->dwFileVersionMS), HIWORD(pInfo->dwFileVersionLS),
 *                 LOWORD(pInfo->dwFileVersionLS));
 *     free(pData);
 *
 * szVersion then holds "1.0.0.0" for release 1.0.0, or "" for a build
 * without a version resource (before 1.0.0). samples\sample_host.c does
 * this.
 *
 * THREADS AND BLOCKING. Any host thread may call any export, also several at
 * once. No export waits for the handset: a command goes out if a handset is
 * open and nothing comes back as a result; without a handset, commands are
 * dropped without an error. Which exports can wait, and for how long at most
 * (normally a few milliseconds; the bounds are measured by the clock):
 *     TV_StartDial        300 ms, between going off hook and the digits
 *     TV_StartPlayFile    about 1 s, for the previous playback's audio output
 *                         to close
 *     TV_StartRecordFile  about 1 s, for the previous recording's audio input
 *                         to close; about 3 s when a recording is running,
 *                         which it stops first
 *     TV_StopRecordFile   about 2 s, until the last 320 ms still in the audio
 *                         device are in the file and its header is final
 * All other exports do not wait. The first playback or recording of a
 * process may take up to 2 s more, for starting the plug-in's audio thread.
 * An audio device that does not close within its bound is given up, and the
 * start opens the device afresh.
 * FreeLibrary of the plug-in returns within 3 s, also when every thread of
 * the plug-in is stuck at once; a running recording then keeps what reached
 * its file before the unload.
 *
 * UNPLUG. Unplugging the handset takes its audio device too. A running
 * playback may end by itself (TV_PlayFileRest turns 0) or stay reported as
 * running until TV_StopPlayFile, which returns at once; a running recording
 * lasts until TV_StopRecordFile, which answers within its bound and leaves
 * the file with what was recorded before the unplug. Each search that finds
 * no handset posts 1134. After the replug the plug-in finds the handset by
 * itself, and the next playback and recording open the audio device afresh.
 * A search that an unload stops posts no 1134.
 * Events reach the host only as the messages below, posted (never sent) to
 * the window given to CT_StartMonitor; they are handled on the thread that
 * created that window, and the plug-in never waits for them to be handled.
 *
 * RESULTS. Every export returns a 32-bit int:
 *     TV_Installed                    1
 *     TV_Initialize                   1 a handset is open now, 0 none is
 *                                     (right after loading always 0: the
 *                                     first search ends about 0.2 s later,
 *                                     and repeats every 2.2 s); it starts
 *                                     and waits for nothing
 *     TV_Disable, TV_CompressRatio, TV_ConnectChannels, TV_ConnectTo,
 *     TV_Disconnect, TV_DisconnectChannels
 *                                     0; they are only logged
 *     TV_FlushDTMF                    0
 *     TV_GetDTMFChar                  the oldest queued digit (its character
 *                                     code), -1 when none is queued
 *     TV_HangUpCtrl, TV_OffHookCtrl   0, also without a handset
 *     TV_StartDial                    0, also when it refused the number
 *     TV_GetDLLVersion                0
 *     CT_StartMonitor                 1
 *     CT_StopMonitor                  0
 *     CT_Flash, CT_Bell, CT_Keyboard, CT_Mic, CT_Spk, CT_RingOn, CT_RingOff,
 *     CT_MicMute, CT_EarMute, CT_KeyLock, CT_SendDTMF
 *                                     1, also without a handset
 *     CT_GetANI                       0
 *     CT_GetKeys                      1, however many keys it wrote
 *     CT_GetDTMFStr                   the number of digits written, 0 to 30
 *     CT_SetStopIO, CT_GetErrorDesc, CT_GetStatus
 *                                     0
 *     TV_StartPlayFile                0 playing, -1 not started
 *     TV_StopPlayFile                 1
 *     TV_PlayFileRest                 1 while a playback job exists, else 0
 *     TV_StartRecordFile              0 recording, -1 not started
 *     TV_StopRecordFile               0
 *     TV_RecordFileRest               1 while a recording job exists, else 0
 *
 * CONVENTIONS. Strings are NUL-terminated, in the system ANSI code page.
 * Flag arguments count by their low 8 bits only (256 is off). The channel
 * argument of the TV_ functions is ignored (one handset). Output buffers
 * belong to the caller and must hold at least: 30 bytes for CT_GetDTMFStr
 * and CT_GetKeys, 32 for CT_GetANI, 9 for TV_GetDLLVersion. A null buffer or
 * string is never written or read.
 */
#ifndef BRAVIK32_H
#define BRAVIK32_H

#include <windows.h>

/* Messages posted to the host window (wParam 0, lParam 0 unless noted). */
#define BRAVIK32_MSG_RING        (WM_USER + 100) /* 1124: the line rings */
#define BRAVIK32_MSG_STOP_DIGIT  (WM_USER + 101) /* 1125: the stop digit set with
                                                    CT_SetStopIO arrived; it and the digits
                                                    before it are queued for TV_GetDTMFChar
                                                    and CT_GetDTMFStr */
#define BRAVIK32_MSG_HANG_UP     (WM_USER + 102) /* 1126: the handset hung up; the digit
                                                    queue was emptied before the post */
#define BRAVIK32_MSG_OFF_HOOK    (WM_USER + 103) /* 1127: the handset went off hook */
/* 1128 to 1132 (WM_USER + 104 to 108) are not posted by this plug-in. */
#define BRAVIK32_MSG_CALLER_ID   (WM_USER + 109) /* 1133: a caller number arrived; lParam is
                                                    its length. wParam points into the
                                                    plug-in's own line buffer, which the
                                                    plug-in overwrites with the next digit
                                                    or caller-number line from the handset,
                                                    possibly before the host handles this
                                                    message (lines come at most every
                                                    0.5 s). Do not keep or read wParam
                                                    later: call CT_GetANI, which copies the
                                                    last caller number safely. */
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

/* True when the loaded module is the handset plug-in. */
#define BRAVIK32_IS_HANDSET_PLUGIN(hModule) (GetProcAddress((hModule), "CT_StartMonitor") != NULL)

/* Pointer types for GetProcAddress, one per export. */
typedef int(WINAPI *BRAVIK32_PFN_TV_Installed)(void);
typedef int(WINAPI *BRAVIK32_PFN_TV_Initialize)(void);
typedef int(WINAPI *BRAVIK32_PFN_TV_Disable)(void);
typedef int(WINAPI *BRAVIK32_PFN_TV_CompressRatio)(int nIgnored);
typedef int(WINAPI *BRAVIK32_PFN_TV_ConnectChannels)(int nFirst, int nSecond);
typedef int(WINAPI *BRAVIK32_PFN_TV_ConnectTo)(int nFirst, int nSecond);
typedef int(WINAPI *BRAVIK32_PFN_TV_Disconnect)(int nChannel);
typedef int(WINAPI *BRAVIK32_PFN_TV_DisconnectChannels)(int nFirst, int nSecond);
typedef int(WINAPI *BRAVIK32_PFN_TV_FlushDTMF)(int nChannel);
typedef int(WINAPI *BRAVIK32_PFN_TV_GetDTMFChar)(int nChannel);
typedef int(WINAPI *BRAVIK32_PFN_TV_HangUpCtrl)(int nChannel);
typedef int(WINAPI *BRAVIK32_PFN_TV_OffHookCtrl)(int nChannel);
typedef int(WINAPI *BRAVIK32_PFN_TV_StartDial)(int nChannel, const char *szDigits);
typedef int(WINAPI *BRAVIK32_PFN_TV_GetDLLVersion)(char *szVersion);
typedef int(WINAPI *BRAVIK32_PFN_CT_StartMonitor)(HWND hWnd);
typedef int(WINAPI *BRAVIK32_PFN_CT_StopMonitor)(void);
typedef int(WINAPI *BRAVIK32_PFN_CT_Flash)(void);
typedef int(WINAPI *BRAVIK32_PFN_CT_Bell)(int nFlag);
typedef int(WINAPI *BRAVIK32_PFN_CT_Keyboard)(int nFlag);
typedef int(WINAPI *BRAVIK32_PFN_CT_Mic)(int nFlag);
typedef int(WINAPI *BRAVIK32_PFN_CT_Spk)(int nFlag);
typedef int(WINAPI *BRAVIK32_PFN_CT_RingOn)(void);
typedef int(WINAPI *BRAVIK32_PFN_CT_RingOff)(void);
typedef int(WINAPI *BRAVIK32_PFN_CT_MicMute)(int nFlag);
typedef int(WINAPI *BRAVIK32_PFN_CT_EarMute)(int nFlag);
typedef int(WINAPI *BRAVIK32_PFN_CT_KeyLock)(int nFlag);
typedef int(WINAPI *BRAVIK32_PFN_CT_SendDTMF)(const char *szDigits);
typedef int(WINAPI *BRAVIK32_PFN_CT_GetANI)(char *szNumber);
typedef int(WINAPI *BRAVIK32_PFN_CT_GetKeys)(char *pKeys);
typedef int(WINAPI *BRAVIK32_PFN_CT_GetDTMFStr)(char *pDigits);
typedef int(WINAPI *BRAVIK32_PFN_CT_SetStopIO)(int nDigit);
typedef int(WINAPI *BRAVIK32_PFN_CT_GetErrorDesc)(char *szDescription);
typedef int(WINAPI *BRAVIK32_PFN_CT_GetStatus)(void);
typedef int(WINAPI *BRAVIK32_PFN_TV_StartPlayFile)(int nChannel, const char *szFile, int nIgnored1, int nIgnored2);
typedef int(WINAPI *BRAVIK32_PFN_TV_StopPlayFile)(int nChannel);
typedef int(WINAPI *BRAVIK32_PFN_TV_PlayFileRest)(int nChannel);
typedef int(WINAPI *BRAVIK32_PFN_TV_StartRecordFile)(int nChannel, const char *szFile, int nIgnored1, int nIgnored2);
typedef int(WINAPI *BRAVIK32_PFN_TV_StopRecordFile)(int nChannel);
typedef int(WINAPI *BRAVIK32_PFN_TV_RecordFileRest)(int nChannel);

/* The same pointer types by signature, as earlier versions of this header
 * named them; defined with or without BRAVIK32_NO_PROTOTYPES. */
typedef int(WINAPI *BRAVIK32_PFN_VOID)(void);
typedef int(WINAPI *BRAVIK32_PFN_INT)(int);
typedef int(WINAPI *BRAVIK32_PFN_INT_INT)(int, int);
typedef int(WINAPI *BRAVIK32_PFN_INT_STRING)(int, const char *);
typedef int(WINAPI *BRAVIK32_PFN_STRING)(const char *);
typedef int(WINAPI *BRAVIK32_PFN_BUFFER)(char *);
typedef int(WINAPI *BRAVIK32_PFN_WINDOW)(HWND);
typedef int(WINAPI *BRAVIK32_PFN_FILE)(int, const char *, int, int);

#ifndef BRAVIK32_NO_PROTOTYPES
/* Declarations for documentation and for binding (decltype), not for
 * linking: there is no import library. Each comment gives the effect. */
#ifdef __cplusplus
extern "C" {
#endif

/* Host telephony-device interface. */
int WINAPI TV_Installed(void);
int WINAPI TV_Initialize(void);                   /* reports whether a handset is open */
int WINAPI TV_Disable(void);                      /* stops nothing */
int WINAPI TV_CompressRatio(int nIgnored);
int WINAPI TV_ConnectChannels(int nFirst, int nSecond);
int WINAPI TV_ConnectTo(int nFirst, int nSecond);
int WINAPI TV_Disconnect(int nChannel);
int WINAPI TV_DisconnectChannels(int nFirst, int nSecond);
int WINAPI TV_FlushDTMF(int nChannel);            /* empties the digit queue */
int WINAPI TV_GetDTMFChar(int nChannel);          /* takes the oldest queued digit */
int WINAPI TV_HangUpCtrl(int nChannel);           /* hangs up */
int WINAPI TV_OffHookCtrl(int nChannel);          /* goes off hook */
int WINAPI TV_StartDial(int nChannel, const char *szDigits);
/* Goes off hook, waits 300 ms, then dials at most 26 digits. A longer
   string (or none) is refused whole: nothing at all is sent. */
int WINAPI TV_GetDLLVersion(char *szVersion);     /* writes "20060601" and its NUL */

/* Handset control. */
int WINAPI CT_StartMonitor(HWND hWnd);            /* messages go to hWnd from now on */
int WINAPI CT_StopMonitor(void);                  /* the window stays registered */
int WINAPI CT_Flash(void);
int WINAPI CT_Bell(int nFlag);                    /* bell on/off */
int WINAPI CT_Keyboard(int nFlag);                /* keyboard on/off */
int WINAPI CT_Mic(int nFlag);                     /* microphone on/off */
int WINAPI CT_Spk(int nFlag);                     /* speaker on/off */
int WINAPI CT_RingOn(void);                       /* as CT_Bell(1) */
int WINAPI CT_RingOff(void);                      /* as CT_Bell(0) */
int WINAPI CT_MicMute(int nFlag);                 /* as CT_Mic(nFlag) */
int WINAPI CT_EarMute(int nFlag);                 /* as CT_Spk(nFlag) */
int WINAPI CT_KeyLock(int nFlag);                 /* as CT_Keyboard(nFlag) */
int WINAPI CT_SendDTMF(const char *szDigits);     /* logged only, nothing is sent */
int WINAPI CT_GetANI(char *szNumber);
/* Copies the last caller number and its NUL (at most 31 characters; "" if
   none has come): the safe way to read the number of BRAVIK32_MSG_CALLER_ID. */
int WINAPI CT_GetKeys(char *pKeys);
/* Moves up to 30 queued keys into the buffer and writes no NUL; its result
   is 1 whatever it wrote. To count the keys, zero the buffer before the call
   and count the bytes up to the first zero. No handset event of this
   plug-in queues keys, so it writes nothing: key presses reach the host as
   digits (TV_GetDTMFChar, CT_GetDTMFStr). */
int WINAPI CT_GetDTMFStr(char *pDigits);
/* Moves up to 30 queued digits into the buffer, writes no NUL and returns
   how many it wrote; more stay queued for the next call. */
int WINAPI CT_SetStopIO(int nDigit);              /* the digit (low 8 bits) that
                                                     posts BRAVIK32_MSG_STOP_DIGIT */
int WINAPI CT_GetErrorDesc(char *szDescription);  /* the buffer is not written */
int WINAPI CT_GetStatus(void);

/* File playback into the earpiece and recording of the microphone, through
 * the handset's USB audio device. Files are WAV: a prompt's samples are
 * played as 8000 Hz 16-bit mono whatever its header says; a recording is
 * written as 8000 Hz 16-bit mono PCM, its header current after every 80 ms.
 * One playback and one recording at a time; they may run together. The two
 * ...Rest functions report a running flag (1 or 0), not a time or a size:
 * poll TV_PlayFileRest until it returns 0 to learn that a prompt has been
 * played to its end (no message is posted); a prompt played to the end of
 * its file is followed by 100 ms of silence, and the 0 comes after it. A
 * start that fails (-1) has started nothing: the ...Rest function answers
 * 0, the next start needs no stop before it, and a failed recording leaves
 * no file behind. nIgnored1 and nIgnored2 are not used. */
int WINAPI TV_StartPlayFile(int nChannel, const char *szFile, int nIgnored1, int nIgnored2);
/* Tells the handset first; -1 also while a playback runs. */
int WINAPI TV_StopPlayFile(int nChannel);         /* cuts the playback at once */
int WINAPI TV_PlayFileRest(int nChannel);
int WINAPI TV_StartRecordFile(int nChannel, const char *szFile, int nIgnored1, int nIgnored2);
/* -1 for an empty name, or when the file or the device cannot be opened; a
   running recording is stopped and its file closed first, as by
   TV_StopRecordFile. */
int WINAPI TV_StopRecordFile(int nChannel);       /* completes the file */
int WINAPI TV_RecordFileRest(int nChannel);

#ifdef __cplusplus
}
#endif
#endif /* BRAVIK32_NO_PROTOTYPES */

#endif /* BRAVIK32_H */
