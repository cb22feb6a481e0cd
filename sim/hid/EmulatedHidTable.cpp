// The emulated desk behind the handset link's function table: one WINAPI
// entry per table member, each handing over to the one CEmulatedHid.
#include "hid/EmulatedHid.h"

namespace {

CEmulatedHid &Desk() { return CEmulatedHid::Instance(); }

void WINAPI SimHidD_GetHidGuid(LPGUID pGuid) { Desk().GetHidGuid(pGuid); }

HDEVINFO WINAPI SimSetupDiGetClassDevsA(const GUID *pGuid, PCSTR szEnumerator, HWND, DWORD dwFlags) {
    return Desk().GetClassDevs(pGuid, szEnumerator, dwFlags);
}

BOOL WINAPI SimSetupDiEnumDeviceInterfaces(HDEVINFO hSet, PSP_DEVINFO_DATA, const GUID *pGuid, DWORD dwIndex,
                                           PSP_DEVICE_INTERFACE_DATA pInterface) {
    return Desk().EnumInterfaces(hSet, pGuid, dwIndex, pInterface);
}

BOOL WINAPI SimSetupDiGetDeviceInterfaceDetailA(HDEVINFO hSet, PSP_DEVICE_INTERFACE_DATA pInterface,
                                                PSP_DEVICE_INTERFACE_DETAIL_DATA_A pDetail, DWORD dwSize,
                                                PDWORD pdwRequired, PSP_DEVINFO_DATA) {
    return Desk().GetInterfaceDetail(hSet, pInterface, pDetail, dwSize, pdwRequired);
}

BOOL WINAPI SimSetupDiDestroyDeviceInfoList(HDEVINFO hSet) { return Desk().DestroySet(hSet); }

BOOLEAN WINAPI SimHidD_GetAttributes(HANDLE hDevice, PHIDD_ATTRIBUTES pAttributes) {
    return Desk().GetAttributes(hDevice, pAttributes);
}

BOOLEAN WINAPI SimHidD_SetFeature(HANDLE hDevice, PVOID pReport, ULONG nLength) {
    return Desk().SetFeature(hDevice, pReport, nLength);
}

HANDLE WINAPI SimCreateFileA(LPCSTR szPath, DWORD dwAccess, DWORD, LPSECURITY_ATTRIBUTES, DWORD dwDisposition,
                             DWORD dwFlags, HANDLE) {
    return Desk().Open(szPath, dwAccess, dwDisposition, dwFlags);
}

BOOL WINAPI SimReadFile(HANDLE hDevice, LPVOID pBuffer, DWORD dwToRead, LPDWORD pdwRead, LPOVERLAPPED pOverlapped) {
    return Desk().Read(hDevice, pBuffer, dwToRead, pdwRead, pOverlapped);
}

BOOL WINAPI SimGetOverlappedResult(HANDLE, LPOVERLAPPED pOverlapped, LPDWORD pdwTransferred, BOOL bWait) {
    return Desk().OverlappedResult(pOverlapped, pdwTransferred, bWait);
}

BOOL WINAPI SimCancelIo(HANDLE hDevice) { return Desk().Cancel(hDevice); }

BOOL WINAPI SimCloseHandle(HANDLE hDevice) { return Desk().Close(hDevice); }

const HID_API g_EmulatedHid = {
    SimHidD_GetHidGuid,
    SimSetupDiGetClassDevsA,
    SimSetupDiEnumDeviceInterfaces,
    SimSetupDiGetDeviceInterfaceDetailA,
    SimSetupDiDestroyDeviceInfoList,
    SimHidD_GetAttributes,
    SimHidD_SetFeature,
    SimCreateFileA,
    SimReadFile,
    SimGetOverlappedResult,
    SimCancelIo,
    SimCloseHandle,
};

}  // namespace

void CEmulatedHid::Install() { InstallHidApi(&g_EmulatedHid); }

void CEmulatedHid::Uninstall() { InstallHidApi(nullptr); }
