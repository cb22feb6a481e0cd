// The real SetupAPI, HID and file functions behind the handset link's table
// (see hid_api.h).
#include "platform/hid_api.h"

namespace {

const HID_API g_RealHid = {
    ::HidD_GetHidGuid,
    ::SetupDiGetClassDevsA,
    ::SetupDiEnumDeviceInterfaces,
    ::SetupDiGetDeviceInterfaceDetailA,
    ::SetupDiDestroyDeviceInfoList,
    ::HidD_GetAttributes,
    ::HidD_SetFeature,
    ::CreateFileA,
    ::ReadFile,
    ::GetOverlappedResult,
    ::CancelIo,
    ::CloseHandle,
};

}  // namespace

HID_API g_Hid = g_RealHid;

void InstallHidApi(const HID_API *pReplacement) { g_Hid = pReplacement ? *pReplacement : g_RealHid; }
