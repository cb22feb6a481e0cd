// KIRO.dll over the libre SIP stack: real SIP, SDP and RTP on the wire, for
// the wire suites (the test library is never shipped).
//
// One stack thread, started by KIRO_Initialize and never stopped, owns all of
// libre: its sockets, timers and memory. A KIRO_ request from another thread
// is handed over through a loopback datagram that wakes the stack thread's
// poll loop, and waits (bounded) for its result; a request made on the stack
// thread itself, from inside the callback, runs at once. Events are queued by
// libre's handlers and delivered afterwards from a timer on the stack thread,
// never from inside a libre handler, so that the callback may destroy the
// very call it hears about.
//
// Settings come from the environment only, read once by KIRO_Initialize:
//   KIRO_SIP_ADDR     local SIP address and UDP port ("127.0.0.1:15060");
//                     default: the default source address, the port asked
//   KIRO_RTP_BASE     first RTP port; default the one asked
//   KIRO_REG_EXPIRES  registration expiry in seconds; default 600
//   KIRO_TRACE        file that gets one line per SIP message sent or
//                     received: time, "send" or "recv", first line
//
// Event records: 8 words. Call events: word 0 instance, 1 call, 2 line,
// 3 code, 4 status (always 1), 5 the SIP status code behind the event (0 if
// none: a request of ours, a timeout without answer, the far end's BYE),
// 6 direction (1 outgoing, 2 incoming). Line events: word 0 instance, 1 line,
// 2 code, 3 the SIP status code of the answer (0: none came), 4 the expiry
// the registrar granted.
//
// SIP to event mapping, calls:
//   | What happens on the wire                      | Events              |
//   |-----------------------------------------------|---------------------|
//   | KIRO_CallCreate; the INVITE leaves            | 1000, then 2000     |
//   | 180 or 183 (each new 18x code)                | 3000                |
//   | 200 to our INVITE (with or without 18x), ACK  | 4000                |
//   | 4xx, 5xx, 6xx final answer to our INVITE      | 8000 (word 5: code) |
//   | proxy's 408, or no final answer (timer B)     | 8000 (word 5: 408)  |
//   | INVITE from the far end                       | 9000                |
//   | KIRO_CallAccept: 180 sent                     | 10000               |
//   | KIRO_CallAnswer: 200 sent; ACK received       | 4000 at the ACK     |
//   | far end's BYE (answered 200)                  | 8000 (word 5: 0)    |
//   | caller's CANCEL (we answer 487)               | 8000 (word 5: 487)  |
//   | re-INVITE (hold, resume): answered 200        | none                |
//   | KIRO_CallDestroy, outgoing before the answer  | CANCEL; 11000 once  |
//   |                                               | the INVITE is over  |
//   | KIRO_CallDestroy, incoming before the answer  | 486; 11000          |
//   | KIRO_CallDestroy, talking                     | BYE; 11000 once the |
//   |                                               | BYE is answered     |
//   | KIRO_CallDestroy after 8000                   | 11000               |
// Lines:
//   | every 200 to a REGISTER, renewals included    | 21000               |
//   | a registration refused (wrong password too),  | 23000; the line     |
//   | a renewal unanswered or refused               | stays, unregistered |
//   | KIRO_LineUnRegister: REGISTER expires 0       | 23000 once answered |
//   |                                               | (or at once if the  |
//   |                                               | line was not        |
//   |                                               | registered)         |
//
// Media: PCMU and PCMA at 20 ms, the far end's first one we offer or it
// offers. KIRO_CallStartPlayFile streams an 8 kHz 16-bit mono WAV (others
// are refused); KIRO_CallRecordStart writes what the far end sends as such a
// WAV, complete at KIRO_CallRecordStop or at the call's end.
#pragma once

#include <stdint.h>

#include "KiroApi.h"

// Failure codes of the wire library.
enum KiroWireError {
  KIROWIRE_ERR_BAD_HANDLE = 201,
  KIROWIRE_ERR_WRONG_STATE = 202,
  KIROWIRE_ERR_BAD_ARGUMENT = 203,
  KIROWIRE_ERR_STACK = 204,    // libre refused the request
  KIROWIRE_ERR_TIMEOUT = 205,  // the stack thread did not take the request in time
  KIROWIRE_ERR_BAD_FILE = 206, // not an 8 kHz 16-bit mono WAV, or not writable
};

enum KiroWireDirection { KIROWIRE_OUTGOING = 1, KIROWIRE_INCOMING = 2 };

extern "C" {
// Calls and lines the library still holds (tests check that none is left).
int __cdecl KiroWire_LiveCalls(void);
int __cdecl KiroWire_LiveLines(void);
// libre's memory blocks in use (the soak sets them beside the gauges).
int __cdecl KiroWire_StackBlocks(void);
}
