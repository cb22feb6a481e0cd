// The HID/SetupAPI seam's fault wrappers (SeamFaults.h): put in front of the
// HID table installed now (the emulated desk, in tests), they fail the
// functions the plan names as Windows fails them: FALSE, or the invalid
// handle value from SetupDiGetClassDevsA and CreateFileA, with the plan's
// error as the thread's last error (ERROR_NOT_ENOUGH_MEMORY,
// ERROR_NO_MORE_ITEMS, ERROR_ACCESS_DENIED, ERROR_DEVICE_NOT_CONNECTED,
// ERROR_GEN_FAILURE, ...). A failing call does not reach the desk: a set or
// handle that a failing destroy or close was given stays open there, as it
// would on Windows. HidD_GetHidGuid cannot fail; its wrapper is never armed.
// Slots: TV_SEAM_SLOT(HID_API, ReadFile).
#pragma once

#include "fault/FaultPlan.h"
#include "platform/hid_api.h"

// Only while no link thread runs.
void InstallHidFaults(CFaultPlan &plan);
// Puts back the table that was in front of the wrappers.
void UninstallHidFaults();
