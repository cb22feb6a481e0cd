// The stock Windows timer for a loaded module under Wine: its imported
// Sleep is replaced (in the module's import table) by one that lasts whole
// timer ticks of 15.625 ms, as Sleep does on Windows at the default timer
// resolution, and counts its calls. Wine's Sleep(1) lasts about 1 ms, which
// hides waits that count sleeps instead of time.
#pragma once

#include <windows.h>

#include <atomic>

namespace coarse_timer {
const double D_dTickMs = 15.625;

inline std::atomic<long> &Sleeps() {
    static std::atomic<long> s_nSleeps{0};
    return s_nSleeps;
}

inline VOID WINAPI TickSleep(DWORD dwMs) {
    ++Sleeps();
    long long nTicks = static_cast<long long>(dwMs / D_dTickMs);
    if (nTicks * D_dTickMs < dwMs) ++nTicks;
    Sleep(static_cast<DWORD>(nTicks * D_dTickMs + 0.5));
}

// Points hModule's import of kernel32!Sleep at TickSleep; false if the
// module does not import it (then nothing of it can count sleeps).
inline bool Install(HMODULE hModule) {
    BYTE *pBase = reinterpret_cast<BYTE *>(hModule);
    auto *pDos = reinterpret_cast<IMAGE_DOS_HEADER *>(pBase);
    auto *pNt = reinterpret_cast<IMAGE_NT_HEADERS *>(pBase + pDos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &imports = pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!imports.VirtualAddress) return false;
    for (auto *pImport = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(pBase + imports.VirtualAddress); pImport->Name;
         ++pImport) {
        if (lstrcmpiA(reinterpret_cast<char *>(pBase + pImport->Name), "kernel32.dll") != 0) continue;
        auto *pName = reinterpret_cast<IMAGE_THUNK_DATA *>(pBase + pImport->OriginalFirstThunk);
        auto *pAddress = reinterpret_cast<IMAGE_THUNK_DATA *>(pBase + pImport->FirstThunk);
        for (; pName->u1.AddressOfData; ++pName, ++pAddress) {
            if (IMAGE_SNAP_BY_ORDINAL(pName->u1.Ordinal)) continue;
            auto *pByName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(pBase + pName->u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<char *>(pByName->Name), "Sleep") != 0) continue;
            DWORD dwOld = 0;
            VirtualProtect(&pAddress->u1.Function, sizeof pAddress->u1.Function, PAGE_READWRITE, &dwOld);
            pAddress->u1.Function = reinterpret_cast<ULONG_PTR>(&TickSleep);
            VirtualProtect(&pAddress->u1.Function, sizeof pAddress->u1.Function, dwOld, &dwOld);
            return true;
        }
    }
    return false;
}
}  // namespace coarse_timer
