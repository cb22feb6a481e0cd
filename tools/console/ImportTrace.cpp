// Import-table redirection: see ImportTrace.h. The import descriptors are
// walked in the loaded image; the slot to patch is found through the name
// table (OriginalFirstThunk), since the address table already holds the
// bound addresses. The page is made writable only for the one store.
#include "ImportTrace.h"

#include <mmsystem.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "Console.h"

namespace {

template <typename T>
T *AtRva(HMODULE hModule, DWORD dwRva) {
    return reinterpret_cast<T *>(reinterpret_cast<BYTE *>(hModule) + dwRva);
}

// The first import descriptor whose DLL name fnMatch accepts.
template <typename Match>
IMAGE_IMPORT_DESCRIPTOR *FindDescriptor(HMODULE hModule, Match fnMatch) {
    auto *pDos = reinterpret_cast<IMAGE_DOS_HEADER *>(hModule);
    auto *pNt = AtRva<IMAGE_NT_HEADERS>(hModule, pDos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &dir = pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress) return nullptr;
    for (auto *pDesc = AtRva<IMAGE_IMPORT_DESCRIPTOR>(hModule, dir.VirtualAddress); pDesc->Name; ++pDesc)
        if (fnMatch(AtRva<const char>(hModule, pDesc->Name))) return pDesc;
    return nullptr;
}

IMAGE_IMPORT_DESCRIPTOR *FindImportDescriptor(HMODULE hModule, const char *szDll) {
    return FindDescriptor(hModule, [szDll](const char *szName) { return _stricmp(szName, szDll) == 0; });
}

bool StoreProtected(void **ppSlot, void *pValue) {
    DWORD dwOld = 0;
    if (!VirtualProtect(ppSlot, sizeof *ppSlot, PAGE_READWRITE, &dwOld)) return false;
    *ppSlot = pValue;
    VirtualProtect(ppSlot, sizeof *ppSlot, dwOld, &dwOld);
    return true;
}

std::string SoundFlags(DWORD fdwSound) {
    static const struct {
        DWORD dwFlag;
        const char *szName;
    } s_Flags[] = {
        {SND_ASYNC, "ASYNC"},   {SND_NODEFAULT, "NODEFAULT"}, {SND_LOOP, "LOOP"},
        {SND_NOSTOP, "NOSTOP"}, {SND_PURGE, "PURGE"},         {SND_FILENAME, "FILENAME"},
    };
    std::string strFlags;
    for (const auto &flag : s_Flags)
        if (fdwSound & flag.dwFlag) strFlags += (strFlags.empty() ? "" : "|") + std::string(flag.szName);
    return strFlags.empty() ? "SYNC" : strFlags;
}

using PlaySoundFn = BOOL(WINAPI *)(LPCSTR, HMODULE, DWORD);
PlaySoundFn g_pfnPlaySound = nullptr;

BOOL WINAPI TracedPlaySound(LPCSTR pszSound, HMODULE hmod, DWORD fdwSound) {
    if (!pszSound) {
        CConsole::Say("  ~ tone: stop");
    } else {
        const char *szName = strrchr(pszSound, '\\');
        CConsole::Say("  ~ tone: %s (%s)", szName ? szName + 1 : pszSound, SoundFlags(fdwSound).c_str());
    }
    return g_pfnPlaySound ? g_pfnPlaySound(pszSound, hmod, fdwSound) : FALSE;
}

}  // namespace

bool RedirectImport(HMODULE hModule, const char *szDll, const char *szFunction, void *pfnNew, void **ppfnOld) {
    IMAGE_IMPORT_DESCRIPTOR *pDesc = FindImportDescriptor(hModule, szDll);
    if (!pDesc || !pDesc->OriginalFirstThunk) return false;
    auto *pNames = AtRva<IMAGE_THUNK_DATA>(hModule, pDesc->OriginalFirstThunk);
    auto *pSlots = AtRva<IMAGE_THUNK_DATA>(hModule, pDesc->FirstThunk);
    for (; pNames->u1.AddressOfData; ++pNames, ++pSlots) {
        if (IMAGE_SNAP_BY_ORDINAL(pNames->u1.Ordinal)) continue;
        auto *pByName = AtRva<IMAGE_IMPORT_BY_NAME>(hModule, static_cast<DWORD>(pNames->u1.AddressOfData));
        if (strcmp(reinterpret_cast<const char *>(pByName->Name), szFunction) != 0) continue;
        void **ppSlot = reinterpret_cast<void **>(&pSlots->u1.Function);
        *ppfnOld = *ppSlot;
        return StoreProtected(ppSlot, pfnNew);
    }
    return false;
}

std::vector<std::string> ImportedDllNames(HMODULE hModule) {
    std::vector<std::string> vNames;
    FindDescriptor(hModule, [&vNames](const char *szName) {
        vNames.push_back(szName);
        return false;
    });
    return vNames;
}

bool TraceTones(HMODULE hModule) {
    void *pfnOld = nullptr;
    if (!RedirectImport(hModule, "winmm.dll", "PlaySoundA", reinterpret_cast<void *>(TracedPlaySound), &pfnOld))
        return false;
    g_pfnPlaySound = reinterpret_cast<PlaySoundFn>(pfnOld);
    return true;
}
