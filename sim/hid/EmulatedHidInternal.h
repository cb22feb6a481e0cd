// Pieces shared by the emulated desk's source files (see EmulatedHid.h).
#pragma once

#include <windows.h>

#include <deque>
#include <vector>

#include "hid/EmulatedHid.h"
#include "support/ScopedLock.h"

// NTSTATUS values the I/O manager leaves in OVERLAPPED.Internal.
const LONG D_nStatusSuccess = 0;
const LONG D_nStatusPending = 0x00000103;
const LONG D_nStatusCancelled = static_cast<LONG>(0xC0000120);
const LONG D_nStatusDeviceNotConnected = static_cast<LONG>(0xC000009D);
const LONG D_nStatusDeletePending = static_cast<LONG>(0xC0000056);

// The handset's HID reports: feature report 6 of 3 bytes, input reports of
// 2 bytes whose first byte is the report ID.
const BYTE D_cFeatureReportID = 6;
const ULONG D_nFeatureReportLength = 3;
const BYTE D_cInputReportID = 1;
const DWORD D_nInputReportLength = 2;

struct CEmulatedHid::Handle {
    size_t nDevice = 0;
    bool bClosed = false;
    bool bDead = false;  // the device went away while this handle was open
    bool bOverlapped = false;
    LPOVERLAPPED pPending = nullptr;
    BYTE *pPendingBuffer = nullptr;
    std::deque<char> input;  // the driver's input buffer of this handle
};

// A snapshot of the present devices, taken by SetupDiGetClassDevsA.
struct CEmulatedHid::DeviceSet {
    std::vector<size_t> devices;
};
