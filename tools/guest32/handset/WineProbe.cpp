// What Wine shows of the kernel's handset, seen without the plug-in: the HID
// interfaces with their identity and report lengths, the wave devices with
// the names the plug-in compares, and what a read and a feature report on a
// handle of the handset get when it is unplugged. These are the facts the
// emulated handset of the fast suites is held to.
#include "RealHandset.h"

#include <cstdio>
#include <cstring>

#include <mmsystem.h>
#include <setupapi.h>
// mingw-w64's HID headers declare C functions without extern "C".
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

namespace {

// Wine's ALSA driver lists the PCMs named here (handset-run.sh defines it)
// beside the sound cards, as "Out: NAME" and "In: NAME".
const char D_szHeadsetPcm[] = "Headset (C-Media USB Headphone Set  )";

void ListAlsaHeadset() {
    HKEY hKey;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Drivers\\winealsa.drv", 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &hKey, nullptr) != ERROR_SUCCESS)
        return;
    char acList[sizeof D_szHeadsetPcm + 1] = {};
    memcpy(acList, D_szHeadsetPcm, sizeof D_szHeadsetPcm);
    RegSetValueExA(hKey, "ALSAOutputDevices", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE *>(acList), sizeof acList);
    RegSetValueExA(hKey, "ALSAInputDevices", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE *>(acList), sizeof acList);
    RegCloseKey(hKey);
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Drivers", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hKey,
                        nullptr) == ERROR_SUCCESS) {
        RegSetValueExA(hKey, "Audio", 0, REG_SZ, reinterpret_cast<const BYTE *>("alsa"), 5);
        RegCloseKey(hKey);
    }
}

void PrintWaveDevices() {
    for (UINT i = 0, n = waveOutGetNumDevs(); i < n; ++i) {
        WAVEOUTCAPSA caps = {};
        waveOutGetDevCapsA(i, &caps, sizeof caps);
        Figure("wave output %u: \"%.*s\" (%u characters)", i, MAXPNAMELEN, caps.szPname,
               static_cast<unsigned>(strnlen(caps.szPname, MAXPNAMELEN)));
    }
    for (UINT i = 0, n = waveInGetNumDevs(); i < n; ++i) {
        WAVEINCAPSA caps = {};
        waveInGetDevCapsA(i, &caps, sizeof caps);
        Figure("wave input %u: \"%.*s\" (%u characters)", i, MAXPNAMELEN, caps.szPname,
               static_cast<unsigned>(strnlen(caps.szPname, MAXPNAMELEN)));
    }
}

// Every HID interface's path, one after the other.
std::vector<std::string> HidPaths() {
    std::vector<std::string> paths;
    GUID guid;
    HidD_GetHidGuid(&guid);
    HDEVINFO hSet = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (hSet == INVALID_HANDLE_VALUE) return paths;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(hSet, nullptr, &guid, i, &data); ++i) {
        DWORD dwSize = 0;
        SetupDiGetDeviceInterfaceDetailA(hSet, &data, nullptr, 0, &dwSize, nullptr);
        std::vector<char> buffer(dwSize + sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
        auto *pDetail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
        pDetail->cbSize = sizeof *pDetail;
        if (SetupDiGetDeviceInterfaceDetailA(hSet, &data, pDetail, dwSize, nullptr, nullptr))
            paths.push_back(pDetail->DevicePath);
    }
    SetupDiDestroyDeviceInfoList(hSet);
    return paths;
}

HANDLE OpenHid(const std::string &strPath) {
    return CreateFileA(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

// Feature reports and reads of other lengths than the handset's: what Wine's
// HID class driver makes of them (the emulated handset answers the same).
// The feature reports carry the character 0, which no command line holds.
void ProbeLengths(const std::string &strPath) {
    HANDLE h = OpenHid(strPath);
    if (h == INVALID_HANDLE_VALUE) return;
    BYTE abFeature[4] = {6, 0, 6, 0};
    for (ULONG nLength : {2u, 4u}) {
        const BOOL bSent = HidD_SetFeature(h, abFeature, nLength);
        Figure("HidD_SetFeature of %lu bytes: %s (error %lu)", static_cast<unsigned long>(nLength),
               bSent ? "sent" : "refused", static_cast<unsigned long>(bSent ? 0 : GetLastError()));
    }
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    BYTE abInput[2];
    const BOOL bRead = ReadFile(h, abInput, 1, nullptr, &overlapped);
    const DWORD dwError = bRead ? 0 : GetLastError();
    if (!bRead && dwError == ERROR_IO_PENDING) CancelIo(h);
    WaitForSingleObject(overlapped.hEvent, dwError == ERROR_IO_PENDING ? 5000 : 0);
    Figure("ReadFile of 1 byte: %s (error %lu)", bRead ? "completed" : "refused", static_cast<unsigned long>(dwError));
    CloseHandle(overlapped.hEvent);
    CloseHandle(h);
}

void ProbeHid(const std::string &strPath, bool *pbHandset) {
    HANDLE h = OpenHid(strPath);
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof attributes;
    HIDP_CAPS caps = {};
    PHIDP_PREPARSED_DATA pData = nullptr;
    const bool bOpen = h != INVALID_HANDLE_VALUE;
    const DWORD dwOpenError = bOpen ? 0 : GetLastError();
    if (bOpen && HidD_GetAttributes(h, &attributes) && HidD_GetPreparsedData(h, &pData)) {
        HidP_GetCaps(pData, &caps);
        HidD_FreePreparsedData(pData);
    }
    if (bOpen) CloseHandle(h);
    Figure("HID %s: open error %lu, VendorID %#06x ProductID %#06x VersionNumber %#06x InputLen %u FeatureLen %u",
           strPath.c_str(), static_cast<unsigned long>(dwOpenError), attributes.VendorID, attributes.ProductID,
           attributes.VersionNumber, caps.InputReportByteLength, caps.FeatureReportByteLength);
    if (attributes.VendorID == 0x0C70 && attributes.ProductID == 0 && attributes.VersionNumber == 0x0100) {
        *pbHandset = true;
        ProbeLengths(strPath);
        Check(caps.InputReportByteLength == 2 && caps.FeatureReportByteLength == 3,
              "Wine gives the handset's report lengths: InputLen %u (2), FeatureLen %u (3)",
              caps.InputReportByteLength, caps.FeatureReportByteLength);
    }
}

}  // namespace

std::string HandsetPath() {
    for (const std::string &strPath : HidPaths()) {
        HANDLE h = OpenHid(strPath);
        HIDD_ATTRIBUTES a = {};
        a.Size = sizeof a;
        const bool bHandset = h != INVALID_HANDLE_VALUE && HidD_GetAttributes(h, &a) && a.VendorID == 0x0C70 &&
                              a.ProductID == 0 && a.VersionNumber == 0x0100;
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        if (bHandset) return strPath;
    }
    return "";
}

void ProbeWine() {
    ListAlsaHeadset();
    PrintWaveDevices();
    // Wine's HID bus adds the device once udev has told it; handsetd starts
    // this program when udev has settled, Wine may still be on its way.
    const CStopwatch sinceStart;
    while (HandsetPath().empty() && sinceStart.ElapsedMs() < 30000) Sleep(100);
    Figure("Wine listed the handset %lu ms after this program started looking",
           static_cast<unsigned long>(sinceStart.ElapsedMs()));
    bool bHandset = false;
    for (const std::string &strPath : HidPaths()) ProbeHid(strPath, &bHandset);
    Check(bHandset, "Wine lists the kernel's handset among its HID devices");
}

SUnplugProbe ProbeBeforeUnplug() {
    SUnplugProbe probe = {};
    probe.hDevice = OpenHid(HandsetPath());
    probe.overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (probe.hDevice != INVALID_HANDLE_VALUE &&
        !ReadFile(probe.hDevice, probe.abReport, sizeof probe.abReport, nullptr, &probe.overlapped))
        probe.dwStartError = GetLastError();
    return probe;
}

void ProbeAfterUnplug(SUnplugProbe &probe) {
    if (probe.hDevice == INVALID_HANDLE_VALUE) return;
    DWORD dwRead = 0;
    WaitForSingleObject(probe.overlapped.hEvent, 5000);
    const BOOL bDone = GetOverlappedResult(probe.hDevice, &probe.overlapped, &dwRead, FALSE);
    const DWORD dwPendingError = bDone ? 0 : GetLastError();
    BYTE abFeature[3] = {6, 'A', 6};
    const BOOL bFeature = HidD_SetFeature(probe.hDevice, abFeature, sizeof abFeature);
    const DWORD dwFeatureError = bFeature ? 0 : GetLastError();
    ResetEvent(probe.overlapped.hEvent);
    const BOOL bRead = ReadFile(probe.hDevice, probe.abReport, sizeof probe.abReport, nullptr, &probe.overlapped);
    const DWORD dwReadError = bRead ? 0 : GetLastError();
    if (!bRead && dwReadError == ERROR_IO_PENDING) {
        CancelIo(probe.hDevice);
        WaitForSingleObject(probe.overlapped.hEvent, 5000);
    }
    Figure("unplug seen on a handle of the handset: pending read (started with %lu) ends with error %lu; then "
           "HidD_SetFeature error %lu, a new ReadFile error %lu",
           static_cast<unsigned long>(probe.dwStartError), static_cast<unsigned long>(dwPendingError),
           static_cast<unsigned long>(dwFeatureError), static_cast<unsigned long>(dwReadError));
    CloseHandle(probe.hDevice);
    CloseHandle(probe.overlapped.hEvent);
}

int LoggedReadError() {
    char szFolder[MAX_PATH];
    GetModuleFileNameA(nullptr, szFolder, MAX_PATH);
    *strrchr(szFolder, '\\') = 0;
    WIN32_FIND_DATAA found;
    HANDLE hFind = FindFirstFileA((std::string(szFolder) + "\\halvex_*.log").c_str(), &found);
    if (hFind == INVALID_HANDLE_VALUE) return -1;
    FindClose(hFind);
    FILE *p = fopen((std::string(szFolder) + "\\" + found.cFileName).c_str(), "rb");
    int nError = -1;
    char szLine[512];
    while (p && fgets(szLine, sizeof szLine, p)) {
        const char *pszAt = strstr(szLine, "GetOverlappedResult");
        const char *pszColon = pszAt ? strstr(pszAt, ": ") : nullptr;
        if (pszColon) nError = atoi(pszColon + 2);
    }
    if (p) fclose(p);
    return nError;
}
