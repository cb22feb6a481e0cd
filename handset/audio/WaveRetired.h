// What an abandoned wave device may still own: the memory of its input
// buffers and output blocks, kept until the device gives them back.
//
// A direction is abandoned when its device stops answering (an unplugged
// handset, a reset or close that fails, blocks that never come back within
// the bound): its handle is forgotten and the next open starts afresh. A
// driver may still write into the input buffers it was given, or read the
// output blocks, and may still post their notifications later. So that no
// later recording, and no image loaded where the plug-in was, ever gets that
// memory, input buffers live on the process heap, one fresh block per open,
// and what a device was holding when it was abandoned stays allocated here.
// A late notification hands a block back: it is freed, and once the device
// holds nothing its close is tried again (a device that was merely slow is
// then closed properly); a device whose close keeps failing is tried again
// before each open of its direction, so that it does not stay allocated.
// Late notifications are recognised by the memory they carry, never read
// before it is found here, so a handle value that Windows gives again to a
// later open cannot confuse them.
//
// At most D_nMaxRetiredDevices devices are kept; the one abandoned longest
// ago makes way for a new one and its memory is freed (a device that kept
// silent through that many later losses will not speak again).
//
// Threads: host threads retire (from an open or a stop, under the
// direction's lock); the wave message thread hands in late notifications.
// One lock guards the list, innermost of the module's locks; the wave calls
// made under it (unprepare, close) return at once. A retirement waits for it
// until the deadline it is given; a device not retired then keeps what it
// holds for good, which is safe.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include "audio/waveinout.h"

// The four input buffers of one open.
struct WaveInBlock {
    WAVEHDR aHdr[D_nInWaveBufCount];
    char aBuf[D_nInWaveBufCount * D_nInWaveBufMaxSize];
};

const int D_nMaxRetiredDevices = 8;

// Zeroed, or null without memory.
WaveInBlock *NewWaveInBlock();
// pHdr is one of the block's headers (checked without reading either).
bool IsHeaderOf(const WAVEHDR *pHdr, const WaveInBlock *pBlock);
void FreeWaveInBlock(WaveInBlock *pBlock);
// An output block: its header and its data, two blocks of global memory.
// While the device holds it, its header's dwUser chains it to the next.
void FreeOutputBlock(WAVEHDR *pHdr);
// Takes pHdr out of the chain that starts at pFirst; false when it is not in it.
bool UnlinkOutputBlock(WAVEHDR *&pFirst, const WAVEHDR *pHdr);

// What an abandoned device still owes: its open notification (not yet
// handled), its close notification (its close call succeeded), and what it
// holds: nOutstanding buffers of pBlock, or the chain of output blocks from
// pFirst.
struct WaveOwed {
    bool bOpenNotice;
    bool bCloseNotice;
};
// Takes over what an abandoned device holds and awaits what it owes.
void RetireWaveIn(HWAVEIN hwi, WaveOwed owed, WaveInBlock *pBlock, int nOutstanding, const CDeadline &deadline);
void RetireWaveOut(HWAVEOUT hwo, WaveOwed owed, WAVEHDR *pFirst, const CDeadline &deadline);

// Before an open of the direction: closes the retired devices that hold
// nothing but whose close failed.
void CloseRetiredAgain(bool bInput, const CDeadline &deadline);

// Late notifications; true when they belonged to a retired device. The
// notifications of one handle arrive in order: a retired device's open and
// close notifications come before those of a later device that Windows gave
// the same handle value. So an open notification that no retired device
// awaits ends the wait for any close under that value: it was lost (a wave
// message thread ended by force).
bool TakeRetiredInputData(const WAVEHDR *pHdr);
bool TakeRetiredOutputDone(const WAVEHDR *pHdr);
bool TakeRetiredOpen(bool bInput, HANDLE hWave);
bool TakeRetiredClose(bool bInput, HANDLE hWave);

// Retired devices still kept, and devices abandoned since the load.
int RetiredWaveDevices();
int WaveDevicesAbandoned();
// Frees what every retired device held and awaits nothing more: only for
// when no device can give anything back (tests, after dropping the
// emulated devices).
void ForgetRetiredWaveDevices();
