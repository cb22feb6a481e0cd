// What an abandoned wave device may still own: the memory of its input
// buffers and output blocks, kept until the device gives them back.
//
// A direction is abandoned when its device stops answering (an unplugged
// handset, a reset or close that fails, blocks not back within the bound):
// its handle is forgotten and the next open starts afresh. The driver may
// still use the buffers and post their notifications later, so what it
// holds stays allocated here (input buffers on the process heap, one fresh
// block per open) until a late notification hands it back; once a device
// holds nothing, its failed close is tried again (also before each open of
// its direction). Late notifications are recognised by their memory, never
// by a handle value that Windows may give again to a later open. At most
// D_nMaxRetiredDevices are kept: the oldest makes way, its memory freed.
//
// Threads: host threads retire (under the direction's lock), the wave
// message thread hands in late notifications. One lock guards the list,
// innermost of the module's; the wave calls made under it return at once.
// A retirement that cannot get it by its deadline keeps what the device
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

// The notifications an abandoned device still owes: its open (not yet
// handled), its close (its close call succeeded).
struct WaveOwed {
    bool bOpenNotice;
    bool bCloseNotice;
};
// Takes over what an abandoned device holds (nOutstanding buffers of pBlock,
// or the chain of output blocks from pFirst) and awaits what it owes.
void RetireWaveIn(HWAVEIN hwi, WaveOwed owed, WaveInBlock *pBlock, int nOutstanding, const CDeadline &deadline);
void RetireWaveOut(HWAVEOUT hwo, WaveOwed owed, WAVEHDR *pFirst, const CDeadline &deadline);

// Before an open of the direction: closes the retired devices that hold
// nothing but whose close failed.
void CloseRetiredAgain(bool bInput, const CDeadline &deadline);

// Late notifications; true when they belonged to a retired device. One
// handle's notifications arrive in order, so an open that no retired device
// awaits ends the wait for any close under that handle: it was lost (a wave
// message thread ended by force).
bool TakeRetiredInputData(const WAVEHDR *pHdr);
bool TakeRetiredOutputDone(const WAVEHDR *pHdr);
bool TakeRetiredOpen(bool bInput, HANDLE hWave);
bool TakeRetiredClose(bool bInput, HANDLE hWave);

// Retired devices still kept, and devices abandoned since the load.
int RetiredWaveDevices();
int WaveDevicesAbandoned();
// Frees what every retired device held: only when no device can give
// anything back (tests, after dropping the emulated devices).
void ForgetRetiredWaveDevices();
