// The identifiers of the threads of this process, for tests and benchmarks
// that find the threads a plug-in or a link started.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <set>

inline std::set<DWORD> ThreadsOfThisProcess() {
    std::set<DWORD> ids;
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE) return ids;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL bMore = Thread32First(hSnapshot, &entry); bMore;
         bMore = Thread32Next(hSnapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
    CloseHandle(hSnapshot);
    return ids;
}
