// The HID/SetupAPI seam's fault wrappers: see HidFaults.h.
#include "fault/HidFaults.h"

#include "fault/SeamFaults.h"

namespace {

// SetupAPI, HID and file functions report failure through their result
// (FALSE, or the invalid handle value for a set or a handle) and the
// thread's last error.
template <class R>
R FailedResult() {
    return R();
}
template <>
HANDLE FailedResult<HANDLE>() {
    return INVALID_HANDLE_VALUE;
}
template <>
void FailedResult<void>() {}

struct CFailWithLastError {
    template <class R>
    static R Failed(DWORD dwError) {
        SetLastError(dwError);
        return FailedResult<R>();
    }
};

using CHidFaults = CSeamFaults<HID_API, CFailWithLastError>;
#define TV_HID_FAULT(Member) TV_SEAM_FAULT(CHidFaults, HID_API, Member)

const HID_API g_HidFaultTable = {
    TV_HID_FAULT(HidD_GetHidGuid),
    TV_HID_FAULT(SetupDiGetClassDevsA),
    TV_HID_FAULT(SetupDiEnumDeviceInterfaces),
    TV_HID_FAULT(SetupDiGetDeviceInterfaceDetailA),
    TV_HID_FAULT(SetupDiDestroyDeviceInfoList),
    TV_HID_FAULT(HidD_GetAttributes),
    TV_HID_FAULT(HidD_SetFeature),
    TV_HID_FAULT(CreateFileA),
    TV_HID_FAULT(ReadFile),
    TV_HID_FAULT(GetOverlappedResult),
    TV_HID_FAULT(CancelIo),
    TV_HID_FAULT(CloseHandle),
};

}  // namespace

void InstallHidFaults(CFaultPlan &plan) {
    CHidFaults::Arm(g_Hid, &plan);
    InstallHidApi(&g_HidFaultTable);
}

void UninstallHidFaults() {
    InstallHidApi(&CHidFaults::Inner());
    CHidFaults::Arm(CHidFaults::Inner(), nullptr);
}
