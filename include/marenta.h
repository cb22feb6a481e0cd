/* Marenta, the SIP agent plug-in, deployed as BRAVIK32.dll.
 *
 * Exports for host developers. All use the C calling convention under
 * undecorated names, take NUL-terminated ANSI strings and return 32-bit
 * integers. They block the calling thread until the SIP library's events show
 * the outcome, at most about 5 s per wait (TV_UnInitialize adds 0.5 s). Call
 * them from one thread at a time. The plug-in needs KIRO.dll beside it, logs
 * to "BRAVIK32.log" in the current folder and plays its call-progress tones
 * from the "res" folder beside itself.
 *
 * Note: the handset plug-in shares some of these names with other argument
 * lists and __stdcall; do not include both headers in one source file.
 */
#ifndef MARENTA_H
#define MARENTA_H

#ifdef __cplusplus
extern "C" {
#endif

/* Starts the SIP library (once per process) and registers the line
 * user@domain through outboundProxy. initOption goes to the library and may
 * be empty. Returns 0 registered, -1 library start failed, -3 registration
 * request refused or failed, -2 registration not confirmed in time. */
int __cdecl TV_Initialize(const char *domain, const char *user, const char *credential,
                          const char *outboundProxy, const char *initOption);
/* Unregisters and releases the line (the library stays started).
 * Returns 0 unregistered, -2 request failed, -1 not confirmed in time. */
int __cdecl TV_UnInitialize(void);
/* Calls destination. Returns 0 placed, -2 refused, -1 no progress in time. */
int __cdecl TV_MakeCall(const char *destination);
/* Ends the current call. Returns 0 ended, -2 refused, -1 not confirmed in time. */
int __cdecl TV_HangUpCall(void);
/* Answers the ringing call. Returns 0 connected, -2 refused, -1 not in time. */
int __cdecl TV_OffHook(void);
/* Answers the next ringing calls at once, until a call is released. Returns 0. */
int __cdecl TV_PickUp(void);
/* Returns 1. */
int __cdecl TV_Installed(void);
/* File play and record on the connected call: 0 done, -1 refused or failed. */
int __cdecl TV_StartPlayFile(const char *file);
int __cdecl TV_StopPlayFile(void);
int __cdecl TV_StartRecordFile(const char *file);
int __cdecl TV_StopRecordFile(void);

/* For hosts that bind the exports with GetProcAddress. */
typedef int(__cdecl *PFN_TV_Initialize)(const char *, const char *, const char *, const char *,
                                        const char *);
typedef int(__cdecl *PFN_TV_NoArgument)(void);
typedef int(__cdecl *PFN_TV_OneString)(const char *);

#ifdef __cplusplus
}
#endif

#endif /* MARENTA_H */
