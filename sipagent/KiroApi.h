// The SIP user-agent library KIRO.dll as the agent plug-in uses it.
//
// The plug-in does no signalling or media itself: it imports these functions
// from KIRO.dll at load time (import library made from KIRO.def), so without
// the library it does not load. Every function returns 0 for success; any
// other value is the library's own failure code. Handles are opaque 32-bit
// values on both widths. Outcomes of requests arrive later as event records
// on the library's own threads, through the listener callback.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t KIRO_HANDLE;

// Event listener: type, record of 32-bit words, context given at registration.
// Returns a one-byte boolean.
typedef unsigned char(__cdecl *KIRO_EVENT_CALLBACK)(int nType, const uint32_t *pRecord, void *pContext);

enum KiroEventType {
  KIRO_EVENT_CALL = 0,
  KIRO_EVENT_LINE = 1,
  // Two more types whose records the plug-in has no use for (their meaning is
  // the library's own); its observers still hear of them.
  KIRO_EVENT_NOTIFY_ONLY_6 = 6,
  KIRO_EVENT_NOTIFY_ONLY_8 = 8,
};

// Positions of the words the plug-in reads in an event record.
enum KiroRecordWord {
  KIRO_WORD_HANDLE = 1,     // call or line handle
  KIRO_WORD_LINE_CODE = 2,  // line events
  KIRO_WORD_CALL_CODE = 3,  // call events
  KIRO_WORD_STATUS = 4,     // call events; only 1 lets the code act
  KIRO_RECORD_WORDS = 8,    // size of a record as the library sends it
};

enum KiroEventCode {
  KIRO_CALL_CREATED = 1000,
  KIRO_CALL_OUTGOING = 2000,
  KIRO_CALL_ALERTING = 3000,
  KIRO_CALL_CONNECTED = 4000,
  KIRO_CALL_RELEASED = 8000,
  KIRO_CALL_OFFERED = 9000,
  KIRO_CALL_RINGING = 10000,
  KIRO_CALL_CLOSED = 11000,
  KIRO_LINE_REGISTERED = 21000,
  KIRO_LINE_UNREGISTERED = 23000,
};

int __cdecl KIRO_Initialize(KIRO_HANDLE *phInstance, int nSipPort, int nMediaPort, int nMaxCalls,
                            const char *szUserAgent, const char *szOptions, int nFlags);
int __cdecl KIRO_EventListenerAdd(KIRO_HANDLE hInstance, KIRO_EVENT_CALLBACK pfnCallback, void *pContext);
int __cdecl KIRO_AddLine(KIRO_HANDLE hInstance, KIRO_HANDLE *phLine, const char *szIdentity);
int __cdecl KIRO_SetOutboundProxy(KIRO_HANDLE hInstance, const char *szProxy);
int __cdecl KIRO_LineRegister(KIRO_HANDLE hLine, const char *szDomain, const char *szUser, const char *szCredential,
                              const char *szIdentity);
int __cdecl KIRO_LineUnRegister(KIRO_HANDLE hLine);
int __cdecl KIRO_RemoveLine(KIRO_HANDLE hLine);
int __cdecl KIRO_CallCreate(KIRO_HANDLE hInstance, KIRO_HANDLE hLine, KIRO_HANDLE *phCall, const char *szDestination);
int __cdecl KIRO_CallAccept(KIRO_HANDLE hCall);
int __cdecl KIRO_CallAnswer(KIRO_HANDLE hCall);
// Takes the address of the caller's stored handle: the library clears it once
// the call object is gone.
int __cdecl KIRO_CallDestroy(KIRO_HANDLE *phCall);
int __cdecl KIRO_CallStartPlayFile(KIRO_HANDLE hCall, const char *szFile, int nFlags);
int __cdecl KIRO_CallStopPlayFile(KIRO_HANDLE hCall);
int __cdecl KIRO_CallRecordStart(KIRO_HANDLE hCall, const char *szFile);
int __cdecl KIRO_CallRecordStop(KIRO_HANDLE hCall);

#ifdef __cplusplus
}
#endif
