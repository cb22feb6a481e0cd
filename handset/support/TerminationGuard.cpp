// CTerminationGuard: see TerminationGuard.h.
#include "support/TerminationGuard.h"

#include <winternl.h>

namespace {

typedef LONG(NTAPI *PFN_LdrLockLoaderLock)(ULONG ulFlags, ULONG *pulDisposition,
                                           ULONG_PTR *pulCookie);
typedef LONG(NTAPI *PFN_LdrUnlockLoaderLock)(ULONG ulFlags, ULONG_PTR ulCookie);
typedef intptr_t(__cdecl *PFN_get_heap_handle)(void);
typedef LONG(NTAPI *PFN_NtQueryInformationProcess)(HANDLE hProcess, PROCESSINFOCLASS eClass,
                                                   PVOID pInfo, ULONG ulLength, PULONG pulReturned);

const ULONG D_ulTryOnly = 0x2;     // LDR_LOCK_LOADER_LOCK_FLAG_TRY_ONLY
const ULONG D_ulLockAcquired = 1;  // LDR_LOCK_LOADER_LOCK_DISPOSITION_LOCK_ACQUIRED

// Where the process environment block keeps the loader lock's address, the
// same on every Windows since NT (and in Wine).
#if defined(_WIN64)
const size_t D_nPebLoaderLockOffset = 0x110;
#else
const size_t D_nPebLoaderLockOffset = 0xA0;
#endif

template <typename PFN>
PFN Bind(const char *szModule, const char *szName) {
    HMODULE hModule = GetModuleHandleA(szModule);
    return hModule ? reinterpret_cast<PFN>(reinterpret_cast<void *>(GetProcAddress(hModule, szName)))
                   : nullptr;
}

// Bound while the library loads: looking a function up later would itself
// wait for the loader lock, which is the very wait to avoid.
struct GuardApi {
    PFN_LdrLockLoaderLock pfnLock;
    PFN_LdrUnlockLoaderLock pfnUnlock;
    HANDLE hCrtHeap;
    // The loader lock itself, from the process environment block.
    const RTL_CRITICAL_SECTION *pLoaderLock;
    GuardApi()
        : pfnLock(Bind<PFN_LdrLockLoaderLock>("ntdll.dll", "LdrLockLoaderLock")),
          pfnUnlock(Bind<PFN_LdrUnlockLoaderLock>("ntdll.dll", "LdrUnlockLoaderLock")),
          hCrtHeap(nullptr), pLoaderLock(nullptr) {
        if (!pfnUnlock) pfnLock = nullptr;
        PFN_get_heap_handle pfnCrtHeap = Bind<PFN_get_heap_handle>("msvcrt.dll", "_get_heap_handle");
        if (pfnCrtHeap) hCrtHeap = reinterpret_cast<HANDLE>(pfnCrtHeap());
        PFN_NtQueryInformationProcess pfnQuery =
            Bind<PFN_NtQueryInformationProcess>("ntdll.dll", "NtQueryInformationProcess");
        PROCESS_BASIC_INFORMATION info = {};
        if (pfnQuery && pfnQuery(GetCurrentProcess(), ProcessBasicInformation, &info, sizeof info,
                                 nullptr) >= 0 && info.PebBaseAddress) {
            pLoaderLock = *reinterpret_cast<RTL_CRITICAL_SECTION *const *>(
                reinterpret_cast<const BYTE *>(info.PebBaseAddress) + D_nPebLoaderLockOffset);
        }
    }
} g_GuardApi;

}  // namespace

bool CallerOwnsLoaderLock() {
    const RTL_CRITICAL_SECTION *pLoaderLock = g_GuardApi.pLoaderLock;
    return pLoaderLock && reinterpret_cast<ULONG_PTR>(pLoaderLock->OwningThread) ==
                              static_cast<ULONG_PTR>(GetCurrentThreadId());
}

CTerminationGuard::CTerminationGuard(bool bWithoutLoaderLock)
    : m_bHeld(true), m_ulLoaderCookie(0), m_ahHeaps(), m_nHeaps(0) {
    if (g_GuardApi.pfnLock) {
        ULONG ulDisposition = 0;
        const LONG nStatus = g_GuardApi.pfnLock(D_ulTryOnly, &ulDisposition, &m_ulLoaderCookie);
        m_bHeld = nStatus >= 0 && ulDisposition == D_ulLockAcquired;
        if (!m_bHeld) m_ulLoaderCookie = 0;
        if (!m_bHeld && !bWithoutLoaderLock) return;
    }
    const HANDLE ahHeaps[2] = {GetProcessHeap(), g_GuardApi.hCrtHeap};
    for (HANDLE hHeap : ahHeaps) {
        if (!hHeap || (m_nHeaps > 0 && hHeap == m_ahHeaps[0])) continue;
        if (HeapLock(hHeap)) m_ahHeaps[m_nHeaps++] = hHeap;
    }
}

CTerminationGuard::~CTerminationGuard() {
    while (m_nHeaps > 0) HeapUnlock(m_ahHeaps[--m_nHeaps]);
    if (m_ulLoaderCookie) g_GuardApi.pfnUnlock(0, m_ulLoaderCookie);
}
