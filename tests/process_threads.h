// The identifiers of the threads of this process, for tests and benchmarks
// that find the threads a plug-in or a link started, and the count of the
// process's handles, for those that check that nothing is left behind.
//
// Both come from system-wide lists that Wine's server builds from every
// process and thread. Asked for about once a millisecond while threads came
// and went, they brought the server down (a SIGSEGV, after which every test
// process blocked for good); polled every 50 ms it still happened once under
// load, while other test processes started and ended threads. So: take a
// thread's own handle where there is one, take one snapshot when the state
// has settled (after waiting on the thread's handle) or poll with
// SettledWithin, and register the suite with SYSTEM_LISTS, which runs it
// with no other test beside it.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <functional>
#include <map>
#include <set>
#include <vector>

#include "stopwatch.h"

// The pace of a poll of the system-wide lists.
const DWORD D_dwSystemListPollMs = 50;

inline std::set<DWORD> ThreadsOfThisProcess() {
    std::set<DWORD> ids;
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE) return ids;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL bMore = Thread32First(hSnapshot, &entry); bMore; bMore = Thread32Next(hSnapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
    CloseHandle(hSnapshot);
    return ids;
}

// The process's handles, each with the object it refers to, from the
// system-wide handle list (SystemExtendedHandleInformation); false when the
// list cannot be read.
inline bool HandleListOfThisProcess(std::map<ULONG_PTR, PVOID> &handles) {
    struct HandleEntry {
        PVOID pObject;
        ULONG_PTR ulProcessId;
        ULONG_PTR ulHandle;
        ULONG ulAccess;
        USHORT usCreatorBackTrace;
        USHORT usObjectType;
        ULONG ulAttributes;
        ULONG ulReserved;
    };
    typedef LONG(NTAPI * PFN_NtQuerySystemInformation)(int, PVOID, ULONG, PULONG);
    const int D_nSystemExtendedHandleInformation = 64;
    auto pfnQuery = reinterpret_cast<PFN_NtQuerySystemInformation>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!pfnQuery) return false;
    std::vector<BYTE> buffer(1 << 20);
    ULONG ulLength = 0;
    while (pfnQuery(D_nSystemExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &ulLength) !=
           0) {
        if (buffer.size() >= (1u << 26)) return false;
        buffer.resize(buffer.size() * 2);
    }
    const ULONG_PTR ulEntries = *reinterpret_cast<const ULONG_PTR *>(buffer.data());
    const HandleEntry *pEntries = reinterpret_cast<const HandleEntry *>(buffer.data() + 2 * sizeof(ULONG_PTR));
    handles.clear();
    for (ULONG_PTR i = 0; i < ulEntries; ++i)
        if (pEntries[i].ulProcessId == GetCurrentProcessId()) handles[pEntries[i].ulHandle] = pEntries[i].pObject;
    return true;
}

// Handles the process holds now. Wine answers GetProcessHandleCount with 0;
// its system-wide handle list is exact.
inline int HandlesOfThisProcess() {
    DWORD dwCount = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &dwCount) && dwCount > 0) return static_cast<int>(dwCount);
    std::map<ULONG_PTR, PVOID> handles;
    return HandleListOfThisProcess(handles) ? static_cast<int>(handles.size()) : -1;
}

// Polls bSettled, which reads the system-wide lists, every
// D_dwSystemListPollMs until it holds; false when dwBoundMs passed first.
inline bool SettledWithin(const std::function<bool()> &bSettled, DWORD dwBoundMs) {
    for (CStopwatch sinceStart; !bSettled(); Sleep(D_dwSystemListPollMs))
        if (sinceStart.ElapsedMs() >= dwBoundMs) return false;
    return true;
}
