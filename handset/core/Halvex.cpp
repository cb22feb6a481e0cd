// Halvex: construction, the device search and the command lines (see
// Halvex.h for threads and guards). The search runs on the link thread only;
// SendCommand runs on host threads.
#include "core/Halvex.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "platform/hid_api.h"
#include "support/LogReporter.h"

namespace {

const char D_cReportID = 6;
const int D_nReportSize = 3;

// The detail record of one device interface (its device path), or null. The
// first call only learns the size and is expected to fail with
// ERROR_INSUFFICIENT_BUFFER; the caller frees the record.
PSP_DEVICE_INTERFACE_DETAIL_DATA_A GetInterfaceDetail(HDEVINFO hSet, PSP_DEVICE_INTERFACE_DATA pInterface) {
    DWORD dwSize = 0;
    if (g_Hid.SetupDiGetDeviceInterfaceDetailA(hSet, pInterface, nullptr, 0, &dwSize, nullptr) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
        dwSize <= offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath))
        return nullptr;
    // Room for the record's own size even if the path is shorter than its
    // one-character placeholder.
    auto *pDetail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(calloc(
        1, dwSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) ? sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) : dwSize));
    if (!pDetail) return nullptr;
    pDetail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!g_Hid.SetupDiGetDeviceInterfaceDetailA(hSet, pInterface, pDetail, dwSize, nullptr, nullptr)) {
        free(pDetail);
        return nullptr;
    }
    return pDetail;
}

// Lays out "AT", the letter, the payload and CR LF at the odd offsets of a
// buffer of report IDs, so that the report for character i is the 3 bytes at
// offset 2i: 6, the character, 6. Returns the frame length.
int BuildFrame(char (&cmdChar)[64], char cLetter, int nLength, const char *pPayload) {
    memset(cmdChar, D_cReportID, sizeof cmdChar);
    if (cLetter != 'B' || !pPayload) nLength = 0;
    if (nLength > Halvex::D_nMaxDialDigits) nLength = Halvex::D_nMaxDialDigits;
    cmdChar[1] = 'A';
    cmdChar[3] = 'T';
    cmdChar[5] = cLetter;
    for (int i = 0; i < nLength; ++i) cmdChar[7 + 2 * i] = pPayload[i];
    cmdChar[7 + 2 * nLength] = '\r';
    cmdChar[9 + 2 * nLength] = '\n';
    return 2 * nLength + 10;
}

}  // namespace

Halvex::Halvex()
    : m_szANI(), m_cStopIO(0), m_hNotifyWnd(nullptr), m_hDevice(INVALID_HANDLE_VALUE), m_decoder(),
      m_dwLinePauseMs(D_dwLinePauseMs), m_abReport(), m_ovRead() {}

Halvex::~Halvex() {
    // The link thread has been stopped by now; a handle it left open (it was
    // ended by force) is closed here.
    CloseDevice();
}

bool Halvex::IsOpen() const { return m_hDevice.load() != INVALID_HANDLE_VALUE; }

int Halvex::SetNotifyWindow(HWND hWnd) {
    m_hNotifyWnd = hWnd;
    return 0;
}

void Halvex::CopyANI(char *szOut) const {
    CLockGuard lock(m_aniLock, CDeadline(D_dwANILockBoundMs));
    if (!lock.Held()) {
        szOut[0] = '\0';
        return;
    }
    memcpy(szOut, m_szANI, strlen(m_szANI) + 1);
}

HANDLE Halvex::OpenDevice(DWORD dwVendorID, DWORD dwProductID, DWORD dwVersion) {
    if (IsOpen()) {
        g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "话机已打开!");
        return INVALID_HANDLE_VALUE;
    }
    GUID guidHid;
    g_Hid.HidD_GetHidGuid(&guidHid);
    HDEVINFO hSet = g_Hid.SetupDiGetClassDevsA(&guidHid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (hSet == INVALID_HANDLE_VALUE) {
        g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "获取HID设备信息失败!");
        return INVALID_HANDLE_VALUE;
    }
    const Identity wanted = {dwVendorID, dwProductID, dwVersion};
    HANDLE hFound = INVALID_HANDLE_VALUE;
    ESearchStep step = ESearchStep::NextDevice;
    for (DWORD dwIndex = 0; step == ESearchStep::NextDevice; ++dwIndex) {
        // A desk may list thousands of HID interfaces, and opening one can
        // take a while: a stop is looked for before each, so that the link
        // thread ends by itself within the stop timeout. Each step closes
        // what it opened, so a stop leaves only the set to release.
        step = IsBodyThread() && IsStopRequested(0) ? ESearchStep::Stopped
                                                    : TryInterface(hSet, guidHid, dwIndex, wanted, &hFound);
    }
    g_Hid.SetupDiDestroyDeviceInfoList(hSet);
    if (step == ESearchStep::Found) m_hDevice = hFound;
    return hFound;
}

Halvex::ESearchStep Halvex::TryInterface(PVOID hSet, const GUID &guidHid, DWORD dwIndex, const Identity &wanted,
                                         HANDLE *phFound) {
    SP_DEVICE_INTERFACE_DATA interfaceData = {};
    interfaceData.cbSize = sizeof interfaceData;
    if (!g_Hid.SetupDiEnumDeviceInterfaces(hSet, nullptr, &guidHid, dwIndex, &interfaceData)) {
        // Also the usual end of a search with no handset attached.
        g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "获取HID设备信息失败!");
        return ESearchStep::Failed;
    }
    PSP_DEVICE_INTERFACE_DETAIL_DATA_A pDetail = GetInterfaceDetail(hSet, &interfaceData);
    if (!pDetail) {
        g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "获取HID设备细节信息失败!");
        return ESearchStep::Failed;
    }
    HANDLE hDevice = g_Hid.CreateFileA(pDetail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                                       nullptr);
    free(pDetail);
    if (hDevice == INVALID_HANDLE_VALUE) {
        // Keyboards and mice refuse read-write opens; they are simply skipped.
        g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "获取HID设备句柄失败!");
        return ESearchStep::NextDevice;
    }
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof attributes;
    if (!g_Hid.HidD_GetAttributes(hDevice, &attributes)) {
        g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "获取HID设备属性失败!");
        g_Hid.CloseHandle(hDevice);
        return ESearchStep::Failed;
    }
    if (attributes.VendorID == wanted.dwVendorID && attributes.ProductID == wanted.dwProductID &&
        attributes.VersionNumber == wanted.dwVersion) {
        *phFound = hDevice;
        return ESearchStep::Found;
    }
    g_Hid.CloseHandle(hDevice);
    return ESearchStep::NextDevice;
}

void Halvex::SendCommand(char cLetter, BYTE nLength, const char *pPayload) {
    if (!IsOpen()) return;
    char cmdChar[64];
    const int nFrameLength = BuildFrame(cmdChar, cLetter, nLength, pPayload);
    CLockGuard lock(m_sendLock, CDeadline(D_dwSendLockBoundMs));
    if (!lock.Held()) {
        // The line before is stuck in the device: this one is not sent.
        g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "发送数据失败!");
        return;
    }
    // The link thread may have closed the handle since the test above; it
    // swaps handles only under m_sendLock, so this one stays open until we leave.
    HANDLE hDevice = m_hDevice;
    for (int nOffset = 0; hDevice != INVALID_HANDLE_VALUE && nOffset < nFrameLength; nOffset += 2) {
        if (!g_Hid.HidD_SetFeature(hDevice, cmdChar + nOffset, D_nReportSize)) {
            g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "发送数据失败!");
            break;
        }
    }
}

void Halvex::CloseDevice() {
    HANDLE hDevice;
    bool bSafeToClose;
    {
        CLockGuard lock(m_sendLock, CDeadline(D_dwSendLockBoundMs));
        hDevice = m_hDevice.exchange(INVALID_HANDLE_VALUE);
        // A command line stuck in the device past the bound still uses the
        // handle: it is left open rather than closed under the sender.
        bSafeToClose = lock.Held();
    }
    if (hDevice != INVALID_HANDLE_VALUE && bSafeToClose) g_Hid.CloseHandle(hDevice);
}
