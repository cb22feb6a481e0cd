// The emulated HID side of a desk PC with (or without) the handset: the
// SetupAPI device list, the HID class driver's device handles, feature
// reports and overlapped input reads, as the handset link sees them through
// its function table (handset/platform/hid_api.h).
//
// It behaves as Windows and the handset do, failure modes included: devices
// that refuse a read-write open (keyboards), devices with other identities,
// a device whose attributes cannot be read, reads that complete at once when
// input is buffered and otherwise stay pending until input arrives, CancelIo
// or CloseHandle ends them with STATUS_CANCELLED, unplugging ends a pending
// read with STATUS_DEVICE_NOT_CONNECTED and makes every later call on the
// old handle fail, a replugged handset is a new device instance that needs
// a new open. Input the handset sends while nobody has it open is lost, as
// with the real HID driver, whose buffers belong to open handles.
//
// One instance; every entry point takes its lock, so the link thread, host
// threads and the test thread may call it at once. Completion sets the
// caller's OVERLAPPED event, just like the I/O manager.
#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/hid_api.h"

struct SimHidDevice {
    std::string strPath;
    USHORT nVendorID;
    USHORT nProductID;
    USHORT nVersion;
    DWORD dwOpenError;     // not 0: a read-write open fails with this error
    bool bAttributesFail;  // HidD_GetAttributes fails on it
    bool bDetailFails;     // its interface detail (the path) cannot be read
    bool bHandset;         // takes commands, sends event lines, can be unplugged
    bool bPresent;
};

// The HID stack the desk answers as. They differ in what an unplug leaves
// on a handle that was open: Windows' HID class driver ends the pending read
// and fails every later call with STATUS_DEVICE_NOT_CONNECTED (error 1167);
// Wine's ends them with STATUS_DELETE_PENDING, which GetLastError shows as
// ERROR_ACCESS_DENIED (5), as the real-stack run in the 32-bit guest saw.
// Wine also sends a feature report from a buffer longer than the report.
enum class ESimHidStack { Windows, Wine };

struct SimFeatureReport {
    BYTE abReport[3];
    ULONG nLength;
    bool bAccepted;
    bool bToClosedHandle;
};

class CEmulatedHid {
public:
    // Error numbers the emulation produces, as Windows reports them.
    static constexpr DWORD D_dwUnpluggedError = ERROR_DEVICE_NOT_CONNECTED;  // 1167
    static constexpr DWORD D_dwWineUnpluggedError = ERROR_ACCESS_DENIED;     // 5
    static constexpr DWORD D_dwDeviceFailure = ERROR_GEN_FAILURE;            // 31

    static CEmulatedHid &Instance();

    // Puts the emulation into the handset link's function table / takes it
    // out again. Only while no link thread runs.
    void Install();
    void Uninstall();
    // Forgets handles, sets, reports, failures and counters, and lays out
    // the desk: a keyboard that refuses to open, another model of the same
    // vendor, the handset and a device whose attributes fail (behind the
    // handset, so a search that finds the handset never reaches it).
    void Reset();

    static SimHidDevice Handset();
    // Refuses read-write opens; instances differ in their path.
    static SimHidDevice Keyboard(int nInstance = 0);
    // A device that opens but has other identity numbers.
    static SimHidDevice OtherDevice(USHORT nVendorID, USHORT nProductID, USHORT nVersion);
    static SimHidDevice BrokenDevice();   // attributes cannot be read
    static SimHidDevice Wine845E(int n);  // the virtual devices Wine lists
    void SetDevices(const std::vector<SimHidDevice> &devices);
    // The desk without the handset: the keyboard, the other model and
    // Wine's two virtual devices.
    void UseDeskWithoutHandset();
    // A desk of nRefusing HID interfaces that all refuse read-write opens
    // (keyboards, mice, a docking station's controls), with the handset
    // after them or not at all.
    void UseCrowdedDesk(int nRefusing, bool bWithHandset);

    // Windows until the next Reset.
    void SetStack(ESimHidStack eStack);
    // The error the calls on an unplugged handset's handle get.
    DWORD UnpluggedError() const;

    void Unplug();
    void Plug();
    // Told after every Unplug and Plug, outside the lock, so that the
    // handset's USB audio device goes and comes with it (null: nobody).
    typedef void (*PFN_PLUG_LISTENER)(bool bPlugged);
    void SetPlugListener(PFN_PLUG_LISTENER pfnListener);
    // The handset sends these characters (usually a whole event line with
    // CR LF), one 2-byte input report each. Returns false when no open
    // handle took them (they are lost).
    bool SendInput(const std::string &strChars);

    // Failure modes, each for the next occasion only.
    void FailDeviceSet();                        // SetupDiGetClassDevsA fails
    void FailNextReadStart(DWORD dwError);       // ReadFile fails at once
    void FailPendingRead(LONG nStatus);          // the pending read completes with it
    void FailFeatureReportAfter(int nAccepted);  // that many succeed, the next fails
    // Every feature report takes this long, as a USB control transfer does.
    void SetFeatureDelay(DWORD dwMilliseconds);
    // Every open takes this long, as opens of some HID devices do.
    void SetOpenDelay(DWORD dwMilliseconds);

    std::vector<SimFeatureReport> FeatureReports() const;
    // The command lines the handset received complete ("ATZ\r\n", ...).
    std::vector<std::string> CommandLines() const;
    void ClearReports();

    // Waits until a read is pending on the open handset with no input left
    // over: the link is connected and idle. False after dwMilliseconds.
    bool WaitUntilReading(DWORD dwMilliseconds) const;
    int OpenHandleCount() const;
    int OpenSetCount() const;
    int SearchCount() const;           // SetupDiGetClassDevsA calls
    int OpenAttemptCount() const;      // CreateFileA calls
    int CancelCount() const;           // reads ended by CancelIo
    int ClosedHandleUseCount() const;  // calls that named an already closed handle

    // The table entries; public only so that the seam can point at them.
    struct Handle;
    struct DeviceSet;
    void GetHidGuid(LPGUID pGuid);
    HDEVINFO GetClassDevs(const GUID *pGuid, PCSTR szEnumerator, DWORD dwFlags);
    BOOL EnumInterfaces(HDEVINFO hSet, const GUID *pGuid, DWORD dwIndex, PSP_DEVICE_INTERFACE_DATA pInterface);
    BOOL GetInterfaceDetail(HDEVINFO hSet, PSP_DEVICE_INTERFACE_DATA pInterface,
                            PSP_DEVICE_INTERFACE_DETAIL_DATA_A pDetail, DWORD dwSize, PDWORD pdwRequired);
    BOOL DestroySet(HDEVINFO hSet);
    HANDLE Open(LPCSTR szPath, DWORD dwAccess, DWORD dwDisposition, DWORD dwFlags);
    BOOLEAN GetAttributes(HANDLE hDevice, PHIDD_ATTRIBUTES pAttributes);
    BOOLEAN SetFeature(HANDLE hDevice, PVOID pReport, ULONG nLength);
    BOOL Read(HANDLE hDevice, LPVOID pBuffer, DWORD dwToRead, LPDWORD pdwRead, LPOVERLAPPED pOverlapped);
    BOOL OverlappedResult(LPOVERLAPPED pOverlapped, LPDWORD pdwTransferred, BOOL bWait);
    BOOL Cancel(HANDLE hDevice);
    BOOL Close(HANDLE hDevice);

private:
    CEmulatedHid();
    ~CEmulatedHid();
    CEmulatedHid(const CEmulatedHid &) = delete;
    CEmulatedHid &operator=(const CEmulatedHid &) = delete;

    Handle *FindUsable(HANDLE hDevice);
    static std::string PathKey(const std::string &strPath);
    void IndexDevices();
    void Complete(Handle &handle, LONG nStatus);
    void DeliverWaitingInput(Handle &handle);
    void TakeCommandCharacter(char cChar);
    bool FeatureLengthTaken(ULONG nLength) const;

    mutable CRITICAL_SECTION m_cs;
    HANDLE m_hReading;  // set while a read is pending on the handset
    std::vector<SimHidDevice> m_devices;
    std::map<std::string, size_t> m_devicesByPath;  // PathKey -> m_devices index
    std::map<HANDLE, Handle *> m_handles;
    std::map<HDEVINFO, DeviceSet *> m_sets;
    ULONG_PTR m_nNextHandle;
    std::vector<SimFeatureReport> m_reports;
    std::vector<std::string> m_commandLines;
    std::string m_strCommand;
    bool m_bFailDeviceSet;
    DWORD m_dwFailReadStart;
    LONG m_nFailPendingRead;
    int m_nFeatureFailCountdown;
    DWORD m_dwFeatureDelay;
    DWORD m_dwOpenDelay;
    int m_nSearches;
    int m_nOpenAttempts;
    int m_nCancels;
    int m_nClosedHandleUses;
    ESimHidStack m_eStack;
    std::atomic<PFN_PLUG_LISTENER> m_pfnPlugListener;
};
