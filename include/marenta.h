/* Marenta, the SIP agent plug-in, deployed as BRAVIK32.dll: its exports, for
 * developers of the host application.
 *
 * BINDING. There is no import library. Load the DLL with LoadLibraryA and
 * bind every function with GetProcAddress under its exported name, which is
 * the function's name. The prototypes at the end of this file are
 * declarations for documentation and for binding (a C++ host may write
 * decltype(&TV_MakeCall)); nothing can link against them. All exports use
 * the C calling convention (__cdecl: the caller pops the arguments) under
 * undecorated names, take NUL-terminated ANSI strings and return 32-bit
 * integers. The cast that binds a GetProcAddress result without a warning
 * goes through void (*)(void):
 *
 *     MARENTA_PFN_TV_MakeCall pfnMakeCall =
 *         (MARENTA_PFN_TV_MakeCall)(void (*)(void))GetProcAddress(hPlugin, "TV_MakeCall");
 *
 * ONE HOST FOR BOTH PLUG-INS. The handset plug-in (bravik32.h) has the same
 * file name and shares six export names with other argument lists and
 * __stdcall: TV_Initialize, TV_Installed, TV_StartPlayFile, TV_StopPlayFile,
 * TV_StartRecordFile, TV_StopRecordFile. A host that supports whichever
 * plug-in is deployed defines BRAVIK32_NO_PROTOTYPES and
 * MARENTA_NO_PROTOTYPES, includes both headers and binds through the pointer
 * types (bravik32.h shows how). Only the SIP plug-in exports TV_MakeCall
 * (MARENTA_IS_SIP_PLUGIN), only the handset plug-in CT_StartMonitor. Its
 * file properties say "Marenta SIP agent plug-in (KIRO SIP library)" with
 * the release in FileVersion, which a host reads at run time as bravik32.h
 * shows under THE RELEASE AT RUN TIME (TV_GetDLLVersion is not exported by
 * this plug-in).
 *
 * LOADING. The plug-in imports KIRO.dll, the SIP library, at load time. The
 * Windows loader looks for KIRO.dll in the folder of the host's .exe, the
 * system folders, the current folder and PATH, not in the folder the
 * plug-in is loaded from: a host that loads the plug-in from a folder of its
 * own and keeps KIRO.dll there should load it with
 * LoadLibraryExA(szFullPath, NULL, LOAD_WITH_ALTERED_SEARCH_PATH), or the
 * load fails with error 126. The plug-in logs to "BRAVIK32.log" in the
 * current folder and plays its call-progress tones from the "res" folder
 * beside itself. Once TV_Initialize has started the SIP library, the
 * plug-in stays loaded until the process ends (the library keeps its event
 * callback): FreeLibrary leaves it in place, and loading it again finds the
 * same line and call.
 *
 * BLOCKING. The waiting exports block the calling thread until the SIP
 * library's events show the outcome: each wait ends as soon as the event
 * comes, or 5 s after it began, measured by the clock whatever the system
 * timer's resolution (TV_UnInitialize first pauses 0.5 s). TV_Initialize,
 * TV_UnInitialize, TV_HangUpCall and TV_OffHook wait. TV_MakeCall returns
 * as soon as the library has taken the call request (the call's progress
 * comes later, as the library's events); TV_PickUp, TV_Installed and the
 * four file exports return at once.
 *
 * THREADS. Several threads may call the exports at once (a hang-up while a
 * call is being made, an unregistration during a call). The plug-in does
 * not crash or deadlock, and each export still returns one of its results
 * within its bound. Each export's request to the library is checked against
 * the state and made as one step, never interleaved with another export's,
 * so a request that another has made pointless is refused (for instance the
 * second of two TV_Initialize calls returns -3, a TV_HangUpCall after the
 * call ended returns -2); a request may wait for another's to finish, at
 * most the 0.5 s of an unregistration. Waits overlap: each ends on its own
 * outcome or bound, so a wait may time out because another thread's export
 * took the state elsewhere. Afterwards the state follows the library's:
 * once the line is unregistered no call event brings it back, and
 * TV_Initialize registers again. The plug-in posts no messages: the host
 * learns outcomes only from the results, and every negative result leaves
 * an entry in the log that says why (DEPLOY-sip.txt, section 5); each entry
 * is written whole, whichever threads write at once.
 *
 * CALLS AND THE LINE. The agent has one call at a time: a call that comes
 * while it has one is declined (ended at once, never accepted or answered,
 * logged), and the agent's own call goes on untouched. The library's
 * registration renewals do not disturb a call. When the server drops the
 * registration unasked, the agent is unregistered at once if it has no
 * call; a call goes on, and the agent is unregistered when it ends. Either
 * way the next TV_Initialize registers a new line. When the server never
 * confirms an unregistration, TV_UnInitialize returns -1 after its wait,
 * and when the library refuses it, -2; either way the line is gone and the
 * next TV_Initialize works. Unregistering ends the call: TV_UnInitialize
 * during a call ends it first, as TV_HangUpCall does. Failed calls are
 * always released: a call that ends with a failure (a busy far end, a
 * cancelled call, a refused re-INVITE) is ended in the library by the
 * plug-in, and the agent is registered again. A call whose end the library
 * never reports is forgotten 5 s after the plug-in last asked to end it;
 * TV_HangUpCall before then asks the library again.
 *
 * RESULTS. -1, -2 and -3 mean different things for different exports:
 *     export              0              -1                 -2                 -3
 *     TV_Initialize       registered     library start      registration not   registration
 *                                        failed             confirmed in 5 s   request refused
 *     TV_UnInitialize     unregistered   not confirmed      request failed
 *                                        in 5 s
 *     TV_MakeCall         placed         no progress        refused
 *                                        in 5 s
 *     TV_HangUpCall       call ended     not confirmed      refused
 *                                        in 5 s
 *     TV_OffHook          connected      not connected      refused
 *                                        in 5 s
 *     TV_PickUp           always 0
 *     TV_Installed        always 1
 *     TV_StartPlayFile, TV_StopPlayFile, TV_StartRecordFile, TV_StopRecordFile
 *                         done           refused (no connected call) or failed
 */
#ifndef MARENTA_H
#define MARENTA_H

/* True when the loaded module is the SIP plug-in (needs <windows.h>). */
#define MARENTA_IS_SIP_PLUGIN(hModule) (GetProcAddress((hModule), "TV_MakeCall") != NULL)

/* Pointer types for GetProcAddress, one per export. */
typedef int(__cdecl *MARENTA_PFN_TV_Initialize)(const char *domain, const char *user, const char *credential,
                                                const char *outboundProxy, const char *initOption);
typedef int(__cdecl *MARENTA_PFN_TV_UnInitialize)(void);
typedef int(__cdecl *MARENTA_PFN_TV_MakeCall)(const char *destination);
typedef int(__cdecl *MARENTA_PFN_TV_HangUpCall)(void);
typedef int(__cdecl *MARENTA_PFN_TV_OffHook)(void);
typedef int(__cdecl *MARENTA_PFN_TV_PickUp)(void);
typedef int(__cdecl *MARENTA_PFN_TV_Installed)(void);
typedef int(__cdecl *MARENTA_PFN_TV_StartPlayFile)(const char *file);
typedef int(__cdecl *MARENTA_PFN_TV_StopPlayFile)(void);
typedef int(__cdecl *MARENTA_PFN_TV_StartRecordFile)(const char *file);
typedef int(__cdecl *MARENTA_PFN_TV_StopRecordFile)(void);

/* The pointer types as earlier versions of this header named them; defined
 * with or without MARENTA_NO_PROTOTYPES, like the ones above. */
typedef MARENTA_PFN_TV_Initialize PFN_TV_Initialize;
typedef MARENTA_PFN_TV_HangUpCall PFN_TV_NoArgument;
typedef MARENTA_PFN_TV_MakeCall PFN_TV_OneString;

#ifndef MARENTA_NO_PROTOTYPES
/* Declarations for documentation and for binding (decltype), not for
 * linking: there is no import library. */
#ifdef __cplusplus
extern "C" {
#endif

/* Starts the SIP library (once per process) and registers the line
 * user@domain through outboundProxy. initOption goes to the library and may
 * be empty; the other four may not, and user@domain must fit in 254
 * characters. -3 also when a line is registered already. */
int __cdecl TV_Initialize(const char *domain, const char *user, const char *credential,
                          const char *outboundProxy, const char *initOption);
/* Ends the agent's call first, if there is one, as TV_HangUpCall does; then
 * unregisters and releases the line (the library stays started), also when
 * the library refuses the unregistration (-2). 0 at once, asking the
 * library nothing, when the agent is unregistered already. */
int __cdecl TV_UnInitialize(void);
/* Calls destination; refused while the line is not registered, while a
 * call is in progress or the previous call is still closing (the far end
 * hung up, the library has not closed the call yet), or with an empty
 * destination. 0 as soon as the library has taken the request: the call is
 * being placed. */
int __cdecl TV_MakeCall(const char *destination);
/* Ends the agent's call: ringing, alerting, connected or being placed (also
 * before any of its events came), or one the library was asked to end and
 * has not closed (the library is asked again); refused otherwise. Waits
 * until the library has closed it (registered again, or unregistered when
 * the server dropped the registration during the call). */
int __cdecl TV_HangUpCall(void);
/* Answers the ringing call; refused when none rings. */
int __cdecl TV_OffHook(void);
/* Answers the next ringing calls at once, until a call is released. */
int __cdecl TV_PickUp(void);
int __cdecl TV_Installed(void);
/* File play and record on the connected call. */
int __cdecl TV_StartPlayFile(const char *file);
int __cdecl TV_StopPlayFile(void);
int __cdecl TV_StartRecordFile(const char *file);
int __cdecl TV_StopRecordFile(void);

#ifdef __cplusplus
}
#endif
#endif /* MARENTA_NO_PROTOTYPES */

#endif /* MARENTA_H */
