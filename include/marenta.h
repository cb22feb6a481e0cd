/* Marenta, the SIP agent plug-in, deployed as BRAVIK32.dll.
 *
 * Exports for host developers. All use the C calling convention under
 * undecorated names, take NUL-terminated ANSI strings and return 32-bit
 * integers. The waiting exports block the calling thread until the SIP
 * library's events show the outcome: each wait ends as soon as the event
 * comes, or 5 s after it began, measured by the clock whatever the system
 * timer's resolution (TV_UnInitialize first pauses 0.5 s). The plug-in needs
 * KIRO.dll beside it, logs to "BRAVIK32.log" in the current folder and plays
 * its call-progress tones from the "res" folder beside itself. Once
 * TV_Initialize has started the SIP library, the plug-in stays loaded until
 * the process ends (the library keeps its event callback): FreeLibrary
 * leaves it in place, and loading it again finds the same line and call.
 *
 * Several threads may call the exports at once (a hang-up while a call is
 * being made, an unregistration during a call). The plug-in does not crash
 * or deadlock, and each export still returns one of its results within its
 * bound. Each export's request to the library is checked against the state
 * and made as one step, never interleaved with another export's, so a
 * request that another has made pointless is refused (for instance the
 * second of two TV_Initialize calls returns -3, a TV_HangUpCall after the
 * call ended returns -2); a request may wait for another's to finish, at
 * most the 0.5 s of an unregistration. Waits overlap: each ends on its own
 * outcome or bound, so a wait may time out because another thread's export
 * took the state elsewhere (TV_MakeCall during an unregistration returns
 * -1). Afterwards the state follows the library's: once the line is
 * unregistered no call event brings it back, and TV_Initialize registers
 * again.
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
