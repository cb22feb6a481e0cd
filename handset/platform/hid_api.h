// The handset link's window on SetupAPI, the HID class driver and the device
// handle: one typedef per function and one table of pointers, filled with the
// real Windows functions. Tests and the demo host install the emulated handset
// (sim/) in its place; nothing of this table leaves the plug-in's DLL.
//
// The link thread is the only caller apart from SendCommand (HidD_SetFeature on
// host threads), so the table is replaced only while the link thread is not
// running.
#pragma once

#include <windows.h>
#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}

typedef void(WINAPI *PFN_HidD_GetHidGuid)(LPGUID pHidGuid);
typedef HDEVINFO(WINAPI *PFN_SetupDiGetClassDevsA)(const GUID *pClassGuid, PCSTR szEnumerator, HWND hParent,
                                                   DWORD dwFlags);
typedef BOOL(WINAPI *PFN_SetupDiEnumDeviceInterfaces)(HDEVINFO hSet, PSP_DEVINFO_DATA pDevice,
                                                      const GUID *pInterfaceGuid, DWORD dwIndex,
                                                      PSP_DEVICE_INTERFACE_DATA pInterface);
typedef BOOL(WINAPI *PFN_SetupDiGetDeviceInterfaceDetailA)(HDEVINFO hSet, PSP_DEVICE_INTERFACE_DATA pInterface,
                                                           PSP_DEVICE_INTERFACE_DETAIL_DATA_A pDetail,
                                                           DWORD dwDetailSize, PDWORD pdwRequiredSize,
                                                           PSP_DEVINFO_DATA pDevice);
typedef BOOL(WINAPI *PFN_SetupDiDestroyDeviceInfoList)(HDEVINFO hSet);
typedef BOOLEAN(WINAPI *PFN_HidD_GetAttributes)(HANDLE hDevice, PHIDD_ATTRIBUTES pAttributes);
typedef BOOLEAN(WINAPI *PFN_HidD_SetFeature)(HANDLE hDevice, PVOID pReport, ULONG nReportLength);
typedef HANDLE(WINAPI *PFN_CreateFileA)(LPCSTR szPath, DWORD dwAccess, DWORD dwShare, LPSECURITY_ATTRIBUTES pSecurity,
                                        DWORD dwDisposition, DWORD dwFlags, HANDLE hTemplate);
typedef BOOL(WINAPI *PFN_ReadFile)(HANDLE hFile, LPVOID pBuffer, DWORD dwToRead, LPDWORD pdwRead,
                                   LPOVERLAPPED pOverlapped);
typedef BOOL(WINAPI *PFN_GetOverlappedResult)(HANDLE hFile, LPOVERLAPPED pOverlapped, LPDWORD pdwTransferred,
                                              BOOL bWait);
typedef BOOL(WINAPI *PFN_CancelIo)(HANDLE hFile);
typedef BOOL(WINAPI *PFN_CloseHandle)(HANDLE hObject);

// Members carry the names of the functions they stand for, so that a call
// reads g_Hid.HidD_SetFeature(hDevice, pReport, 3).
struct HID_API {
    PFN_HidD_GetHidGuid HidD_GetHidGuid;
    PFN_SetupDiGetClassDevsA SetupDiGetClassDevsA;
    PFN_SetupDiEnumDeviceInterfaces SetupDiEnumDeviceInterfaces;
    PFN_SetupDiGetDeviceInterfaceDetailA SetupDiGetDeviceInterfaceDetailA;
    PFN_SetupDiDestroyDeviceInfoList SetupDiDestroyDeviceInfoList;
    PFN_HidD_GetAttributes HidD_GetAttributes;
    PFN_HidD_SetFeature HidD_SetFeature;
    // Only for the HID device handle; the link's events and threads use the
    // kernel directly.
    PFN_CreateFileA CreateFileA;
    PFN_ReadFile ReadFile;
    PFN_GetOverlappedResult GetOverlappedResult;
    PFN_CancelIo CancelIo;
    PFN_CloseHandle CloseHandle;
};

// The table in use; the real functions unless a replacement is installed.
extern HID_API g_Hid;

// Installs a replacement table (null restores the real functions). Call only
// while no link thread runs.
void InstallHidApi(const HID_API *pReplacement);
