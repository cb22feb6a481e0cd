// CTerminationGuard: see TerminationGuard.h.
#include "support/TerminationGuard.h"

namespace {

typedef LONG(NTAPI *PFN_LdrLockLoaderLock)(ULONG ulFlags, ULONG *pulDisposition,
                                           ULONG_PTR *pulCookie);
typedef LONG(NTAPI *PFN_LdrUnlockLoaderLock)(ULONG ulFlags, ULONG_PTR ulCookie);
typedef intptr_t(__cdecl *PFN_get_heap_handle)(void);

const ULONG D_ulTryOnly = 0x2;     // LDR_LOCK_LOADER_LOCK_FLAG_TRY_ONLY
const ULONG D_ulLockAcquired = 1;  // LDR_LOCK_LOADER_LOCK_DISPOSITION_LOCK_ACQUIRED

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
    GuardApi()
        : pfnLock(Bind<PFN_LdrLockLoaderLock>("ntdll.dll", "LdrLockLoaderLock")),
          pfnUnlock(Bind<PFN_LdrUnlockLoaderLock>("ntdll.dll", "LdrUnlockLoaderLock")),
          hCrtHeap(nullptr) {
        if (!pfnUnlock) pfnLock = nullptr;
        PFN_get_heap_handle pfnCrtHeap = Bind<PFN_get_heap_handle>("msvcrt.dll", "_get_heap_handle");
        if (pfnCrtHeap) hCrtHeap = reinterpret_cast<HANDLE>(pfnCrtHeap());
    }
} g_GuardApi;

}  // namespace

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
