// The emulated desk's devices and handles: handles, reports, input reads
// (see EmulatedHid.h for what is emulated and how it is guarded). The
// SetupAPI device list is in EmulatedHidSetup.cpp, the function table in
// EmulatedHidTable.cpp.
#include "hid/EmulatedHid.h"

#include <ctype.h>
#include <string.h>

#include "hid/EmulatedHidInternal.h"

CEmulatedHid &CEmulatedHid::Instance() {
    static CEmulatedHid s_instance;
    return s_instance;
}

CEmulatedHid::CEmulatedHid()
    : m_hReading(CreateEventA(nullptr, TRUE, FALSE, nullptr)), m_nNextHandle(0), m_pfnPlugListener(nullptr) {
    InitializeCriticalSection(&m_cs);
    Reset();
}

CEmulatedHid::~CEmulatedHid() {
    Reset();
    CloseHandle(m_hReading);
    DeleteCriticalSection(&m_cs);
}

void CEmulatedHid::Reset() {
    CScopedLock lock(m_cs);
    for (auto &entry : m_handles) delete entry.second;
    m_handles.clear();
    for (auto &entry : m_sets) delete entry.second;
    m_sets.clear();
    ResetEvent(m_hReading);
    m_devices = {Keyboard(), OtherDevice(0x0C70, 0x0001, 0x0100), Handset(), BrokenDevice()};
    IndexDevices();
    m_reports.clear();
    m_commandLines.clear();
    m_strCommand.clear();
    m_bFailDeviceSet = false;
    m_dwFailReadStart = 0;
    m_nFailPendingRead = 0;
    m_nFeatureFailCountdown = -1;
    m_dwFeatureDelay = 0;
    m_dwOpenDelay = 0;
    m_nSearches = m_nOpenAttempts = m_nCancels = m_nClosedHandleUses = 0;
    m_eStack = ESimHidStack::Windows;
}

void CEmulatedHid::SetDevices(const std::vector<SimHidDevice> &devices) {
    CScopedLock lock(m_cs);
    m_devices = devices;
    IndexDevices();
}

void CEmulatedHid::UseDeskWithoutHandset() {
    SetDevices({Keyboard(), OtherDevice(0x0C70, 0x0001, 0x0100), Wine845E(1), Wine845E(2)});
}

void CEmulatedHid::UseCrowdedDesk(int nRefusing, bool bWithHandset) {
    std::vector<SimHidDevice> devices;
    for (int i = 0; i < nRefusing; ++i) devices.push_back(Keyboard(i));
    if (bWithHandset) devices.push_back(Handset());
    SetDevices(devices);
}

namespace {
// Declared before the lock, it tells the plug listener after the lock is gone.
struct CPlugNotice {
    CEmulatedHid::PFN_PLUG_LISTENER pfnListener;
    bool bPlugged;
    ~CPlugNotice() {
        if (pfnListener) pfnListener(bPlugged);
    }
};
}  // namespace

void CEmulatedHid::SetPlugListener(PFN_PLUG_LISTENER pfnListener) { m_pfnPlugListener = pfnListener; }

void CEmulatedHid::SetStack(ESimHidStack eStack) {
    CScopedLock lock(m_cs);
    m_eStack = eStack;
}

DWORD CEmulatedHid::UnpluggedError() const {
    CScopedLock lock(m_cs);
    return m_eStack == ESimHidStack::Wine ? D_dwWineUnpluggedError : D_dwUnpluggedError;
}

void CEmulatedHid::Unplug() {
    CPlugNotice notice{m_pfnPlugListener, false};
    CScopedLock lock(m_cs);
    for (SimHidDevice &device : m_devices)
        if (device.bHandset) device.bPresent = false;
    for (auto &entry : m_handles) {
        Handle &handle = *entry.second;
        if (handle.bClosed || !m_devices[handle.nDevice].bHandset) continue;
        handle.bDead = true;
        handle.input.clear();
        if (handle.pPending)
            Complete(handle, m_eStack == ESimHidStack::Wine ? D_nStatusDeletePending : D_nStatusDeviceNotConnected);
    }
}

void CEmulatedHid::Plug() {
    // A new device instance: old handles stay dead, a new open is needed.
    CPlugNotice notice{m_pfnPlugListener, true};
    CScopedLock lock(m_cs);
    for (SimHidDevice &device : m_devices)
        if (device.bHandset) device.bPresent = true;
}

bool CEmulatedHid::SendInput(const std::string &strChars) {
    CScopedLock lock(m_cs);
    bool bTaken = false;
    for (auto &entry : m_handles) {
        Handle &handle = *entry.second;
        if (handle.bClosed || handle.bDead || !m_devices[handle.nDevice].bHandset) continue;
        handle.input.insert(handle.input.end(), strChars.begin(), strChars.end());
        DeliverWaitingInput(handle);
        bTaken = true;
    }
    return bTaken;
}

void CEmulatedHid::FailNextReadStart(DWORD dwError) {
    CScopedLock lock(m_cs);
    m_dwFailReadStart = dwError;
}

void CEmulatedHid::FailPendingRead(LONG nStatus) {
    CScopedLock lock(m_cs);
    for (auto &entry : m_handles) {
        if (entry.second->pPending) {
            Complete(*entry.second, nStatus);
            return;
        }
    }
    m_nFailPendingRead = nStatus;  // the next read that goes pending
}

void CEmulatedHid::FailFeatureReportAfter(int nAccepted) {
    CScopedLock lock(m_cs);
    m_nFeatureFailCountdown = nAccepted;
}

void CEmulatedHid::SetFeatureDelay(DWORD dwMilliseconds) {
    CScopedLock lock(m_cs);
    m_dwFeatureDelay = dwMilliseconds;
}

void CEmulatedHid::SetOpenDelay(DWORD dwMilliseconds) {
    CScopedLock lock(m_cs);
    m_dwOpenDelay = dwMilliseconds;
}

std::vector<SimFeatureReport> CEmulatedHid::FeatureReports() const {
    CScopedLock lock(m_cs);
    return m_reports;
}

std::vector<std::string> CEmulatedHid::CommandLines() const {
    CScopedLock lock(m_cs);
    return m_commandLines;
}

void CEmulatedHid::ClearReports() {
    CScopedLock lock(m_cs);
    m_reports.clear();
    m_commandLines.clear();
    m_strCommand.clear();
}

bool CEmulatedHid::WaitUntilReading(DWORD dwMilliseconds) const {
    return WaitForSingleObject(m_hReading, dwMilliseconds) == WAIT_OBJECT_0;
}

int CEmulatedHid::OpenHandleCount() const {
    CScopedLock lock(m_cs);
    int nOpen = 0;
    for (const auto &entry : m_handles) nOpen += entry.second->bClosed ? 0 : 1;
    return nOpen;
}

int CEmulatedHid::SearchCount() const {
    CScopedLock lock(m_cs);
    return m_nSearches;
}

int CEmulatedHid::OpenAttemptCount() const {
    CScopedLock lock(m_cs);
    return m_nOpenAttempts;
}

int CEmulatedHid::CancelCount() const {
    CScopedLock lock(m_cs);
    return m_nCancels;
}

int CEmulatedHid::ClosedHandleUseCount() const {
    CScopedLock lock(m_cs);
    return m_nClosedHandleUses;
}

// The handle if it is open; else sets the error Windows gives for a stale
// handle and counts the use of a closed one.
CEmulatedHid::Handle *CEmulatedHid::FindUsable(HANDLE hDevice) {
    auto found = m_handles.find(hDevice);
    if (found == m_handles.end() || found->second->bClosed) {
        if (found != m_handles.end()) ++m_nClosedHandleUses;
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return found->second;
}

HANDLE CEmulatedHid::Open(LPCSTR szPath, DWORD dwAccess, DWORD dwDisposition, DWORD dwFlags) {
    DWORD dwDelay;
    {
        CScopedLock lock(m_cs);
        ++m_nOpenAttempts;
        dwDelay = m_dwOpenDelay;
    }
    if (dwDelay) Sleep(dwDelay);  // the driver's open, outside the lock
    CScopedLock lock(m_cs);
    auto found = m_devicesByPath.find(PathKey(szPath ? szPath : ""));
    if (found == m_devicesByPath.end() || !m_devices[found->second].bPresent || dwDisposition != OPEN_EXISTING) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const SimHidDevice &device = m_devices[found->second];
    if (device.dwOpenError && (dwAccess & (GENERIC_READ | GENERIC_WRITE))) {
        SetLastError(device.dwOpenError);
        return INVALID_HANDLE_VALUE;
    }
    // Handle values are never reused, so a late use of a closed one shows.
    HANDLE hDevice = reinterpret_cast<HANDLE>(0x4D000 + 4 * ++m_nNextHandle);
    Handle *pHandle = new Handle();
    pHandle->nDevice = found->second;
    pHandle->bOverlapped = (dwFlags & FILE_FLAG_OVERLAPPED) != 0;
    m_handles[hDevice] = pHandle;
    return hDevice;
}

// Device paths compare without regard to case, as Windows compares them.
std::string CEmulatedHid::PathKey(const std::string &strPath) {
    std::string strKey(strPath);
    for (char &c : strKey) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return strKey;
}

void CEmulatedHid::IndexDevices() {
    m_devicesByPath.clear();
    // The first of two devices with the same path is the one opened.
    for (size_t i = m_devices.size(); i-- > 0;) m_devicesByPath[PathKey(m_devices[i].strPath)] = i;
}

BOOLEAN CEmulatedHid::GetAttributes(HANDLE hDevice, PHIDD_ATTRIBUTES pAttributes) {
    CScopedLock lock(m_cs);
    Handle *pHandle = FindUsable(hDevice);
    if (!pHandle) return FALSE;
    const SimHidDevice &device = m_devices[pHandle->nDevice];
    if (pHandle->bDead || device.bAttributesFail) {
        SetLastError(pHandle->bDead ? UnpluggedError() : D_dwDeviceFailure);
        return FALSE;
    }
    pAttributes->Size = sizeof *pAttributes;
    pAttributes->VendorID = device.nVendorID;
    pAttributes->ProductID = device.nProductID;
    pAttributes->VersionNumber = device.nVersion;
    return TRUE;
}

// Windows takes exactly the report's length; Wine's HID class driver also a
// longer buffer, of which the device gets the report's 3 bytes.
bool CEmulatedHid::FeatureLengthTaken(ULONG nLength) const {
    return nLength == D_nFeatureReportLength || (m_eStack == ESimHidStack::Wine && nLength > D_nFeatureReportLength);
}

BOOLEAN CEmulatedHid::SetFeature(HANDLE hDevice, PVOID pReport, ULONG nLength) {
    DWORD dwDelay;
    {
        CScopedLock lock(m_cs);
        dwDelay = m_dwFeatureDelay;
    }
    if (dwDelay) Sleep(dwDelay);  // the control transfer, outside the lock
    CScopedLock lock(m_cs);
    SimFeatureReport report = {};
    memcpy(report.abReport, pReport, nLength < 3 ? nLength : 3);
    report.nLength = nLength;
    Handle *pHandle = FindUsable(hDevice);
    report.bToClosedHandle = !pHandle && m_handles.count(hDevice);
    DWORD dwError = ERROR_SUCCESS;
    if (!pHandle)
        dwError = ERROR_INVALID_HANDLE;
    else if (pHandle->bDead)
        dwError = UnpluggedError();
    else if (!m_devices[pHandle->nDevice].bHandset)
        dwError = ERROR_INVALID_FUNCTION;  // no feature report 6 on other devices
    else if (!FeatureLengthTaken(nLength) || report.abReport[0] != D_cFeatureReportID)
        dwError = ERROR_INVALID_PARAMETER;
    else if (m_nFeatureFailCountdown == 0)
        dwError = D_dwDeviceFailure;  // the device stalled the transfer
    if (m_nFeatureFailCountdown >= 0 && (dwError == ERROR_SUCCESS || dwError == D_dwDeviceFailure))
        --m_nFeatureFailCountdown;  // counts down to the failure, then -1: off
    report.bAccepted = dwError == ERROR_SUCCESS;
    m_reports.push_back(report);
    if (!report.bAccepted) {
        SetLastError(dwError);
        return FALSE;
    }
    TakeCommandCharacter(static_cast<char>(report.abReport[1]));
    return TRUE;
}

void CEmulatedHid::TakeCommandCharacter(char cChar) {
    m_strCommand += cChar;
    if (cChar != '\n') return;
    m_commandLines.push_back(m_strCommand);
    m_strCommand.clear();
}
