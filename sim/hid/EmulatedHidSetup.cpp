// The emulated desk's device list as SetupAPI and HID enumeration show it
// (see EmulatedHid.h): a snapshot of the present HID interfaces per device
// set, interface records and detail records with the sizes Windows checks.
#include <stddef.h>
#include <string.h>

#include "hid/EmulatedHid.h"
#include "hid/EmulatedHidInternal.h"

namespace {

// GUID_DEVINTERFACE_HID, what HidD_GetHidGuid answers on every Windows.
const GUID D_guidHid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

SimHidDevice Device(const char *szInstance, USHORT nVendorID, USHORT nProductID, USHORT nVersion) {
    SimHidDevice device = {};
    device.strPath = std::string("\\\\?\\hid#") + szInstance + "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    device.nVendorID = nVendorID;
    device.nProductID = nProductID;
    device.nVersion = nVersion;
    device.bPresent = true;
    return device;
}

}  // namespace

SimHidDevice CEmulatedHid::Handset() {
    SimHidDevice device = Device("vid_0c70&pid_0000#7&2c1f0a3b&0&0000", 0x0C70, 0x0000, 0x0100);
    device.bHandset = true;
    return device;
}

SimHidDevice CEmulatedHid::Keyboard(int nInstance) {
    // Windows keeps keyboards and mice to itself: read-write opens fail.
    char szInstance[64];
    wsprintfA(szInstance, "vid_046d&pid_c31c&mi_00#8&%08x&0&0000", 0x1D2E3F40 + nInstance);
    SimHidDevice device = Device(szInstance, 0x046D, 0xC31C, 0x6400);
    device.dwOpenError = ERROR_ACCESS_DENIED;
    return device;
}

SimHidDevice CEmulatedHid::OtherDevice(USHORT nVendorID, USHORT nProductID, USHORT nVersion) {
    char szInstance[64];
    wsprintfA(szInstance, "vid_%04x&pid_%04x#7&%04x&0&0000", nVendorID, nProductID, nVersion);
    return Device(szInstance, nVendorID, nProductID, nVersion);
}

SimHidDevice CEmulatedHid::BrokenDevice() {
    SimHidDevice device = Device("vid_1a2c&pid_0e24#9&0f0e0d0c&0&0000", 0x1A2C, 0x0E24, 0x0110);
    device.bAttributesFail = true;
    return device;
}

SimHidDevice CEmulatedHid::Wine845E(int n) { return OtherDevice(0x845E, static_cast<USHORT>(n), 0x0000); }

void CEmulatedHid::GetHidGuid(LPGUID pGuid) { *pGuid = D_guidHid; }

void CEmulatedHid::FailDeviceSet() {
    CScopedLock lock(m_cs);
    m_bFailDeviceSet = true;
}

int CEmulatedHid::OpenSetCount() const {
    CScopedLock lock(m_cs);
    return static_cast<int>(m_sets.size());
}

HDEVINFO CEmulatedHid::GetClassDevs(const GUID *pGuid, PCSTR szEnumerator, DWORD dwFlags) {
    CScopedLock lock(m_cs);
    ++m_nSearches;
    const bool bHidInterfaces = pGuid && memcmp(pGuid, &D_guidHid, sizeof(GUID)) == 0 && !szEnumerator &&
                                (dwFlags & DIGCF_DEVICEINTERFACE);
    if (m_bFailDeviceSet || !bHidInterfaces) {
        SetLastError(m_bFailDeviceSet ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_PARAMETER);
        m_bFailDeviceSet = false;
        return INVALID_HANDLE_VALUE;
    }
    DeviceSet *pSet = new DeviceSet();
    for (size_t i = 0; i < m_devices.size(); ++i)
        if (m_devices[i].bPresent || !(dwFlags & DIGCF_PRESENT)) pSet->devices.push_back(i);
    HDEVINFO hSet = pSet;
    m_sets[hSet] = pSet;
    return hSet;
}

BOOL CEmulatedHid::EnumInterfaces(HDEVINFO hSet, const GUID *pGuid, DWORD dwIndex,
                                  PSP_DEVICE_INTERFACE_DATA pInterface) {
    CScopedLock lock(m_cs);
    auto found = m_sets.find(hSet);
    DWORD dwError = ERROR_SUCCESS;
    if (found == m_sets.end())
        dwError = ERROR_INVALID_HANDLE;
    else if (!pInterface || pInterface->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
        dwError = ERROR_INVALID_USER_BUFFER;
    else if (!pGuid || memcmp(pGuid, &D_guidHid, sizeof(GUID)) != 0 || dwIndex >= found->second->devices.size())
        dwError = ERROR_NO_MORE_ITEMS;
    if (dwError != ERROR_SUCCESS) {
        SetLastError(dwError);
        return FALSE;
    }
    pInterface->InterfaceClassGuid = D_guidHid;
    pInterface->Flags = SPINT_ACTIVE;
    pInterface->Reserved = found->second->devices[dwIndex] + 1;
    return TRUE;
}

BOOL CEmulatedHid::GetInterfaceDetail(HDEVINFO hSet, PSP_DEVICE_INTERFACE_DATA pInterface,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A pDetail, DWORD dwSize, PDWORD pdwRequired) {
    CScopedLock lock(m_cs);
    const size_t nDevice = pInterface ? pInterface->Reserved - 1 : m_devices.size();
    DWORD dwError = ERROR_SUCCESS;
    if (!m_sets.count(hSet))
        dwError = ERROR_INVALID_HANDLE;
    else if (nDevice >= m_devices.size() || m_devices[nDevice].bDetailFails)
        dwError = ERROR_INVALID_DATA;
    if (dwError != ERROR_SUCCESS) {
        SetLastError(dwError);
        return FALSE;
    }
    const std::string &strPath = m_devices[nDevice].strPath;
    const DWORD dwRequired = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) +
                                                strPath.size() + 1);
    if (pdwRequired) *pdwRequired = dwRequired;
    if (!pDetail)
        dwError = dwSize ? ERROR_INVALID_USER_BUFFER : ERROR_INSUFFICIENT_BUFFER;
    else if (pDetail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        dwError = ERROR_INVALID_USER_BUFFER;
    else if (dwSize < dwRequired)
        dwError = ERROR_INSUFFICIENT_BUFFER;
    if (dwError != ERROR_SUCCESS) {
        SetLastError(dwError);
        return FALSE;
    }
    memcpy(pDetail->DevicePath, strPath.c_str(), strPath.size() + 1);
    return TRUE;
}

BOOL CEmulatedHid::DestroySet(HDEVINFO hSet) {
    CScopedLock lock(m_cs);
    auto found = m_sets.find(hSet);
    if (found == m_sets.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete found->second;
    m_sets.erase(found);
    return TRUE;
}
