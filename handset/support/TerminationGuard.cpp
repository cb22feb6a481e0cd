// CTerminationGuard: see TerminationGuard.h.
#include "support/TerminationGuard.h"

namespace {

typedef intptr_t(__cdecl *PFN_get_heap_handle)(void);

// Looked up while the library loads: looking a function up later would
// itself wait for the loader lock, which the detach step may hold.
struct GuardHeaps {
    HANDLE hCrtHeap;
    GuardHeaps() : hCrtHeap(nullptr) {
        HMODULE hCrt = GetModuleHandleA("msvcrt.dll");
        PFN_get_heap_handle pfnCrtHeap = hCrt ? reinterpret_cast<PFN_get_heap_handle>(
                                                    reinterpret_cast<void *>(GetProcAddress(hCrt, "_get_heap_handle")))
                                              : nullptr;
        if (pfnCrtHeap) hCrtHeap = reinterpret_cast<HANDLE>(pfnCrtHeap());
    }
} g_GuardHeaps;

}  // namespace

CTerminationGuard::CTerminationGuard() : m_ahHeaps(), m_nHeaps(0) {
    const HANDLE ahHeaps[2] = {GetProcessHeap(), g_GuardHeaps.hCrtHeap};
    for (HANDLE hHeap : ahHeaps) {
        if (!hHeap || (m_nHeaps > 0 && hHeap == m_ahHeaps[0])) continue;
        if (HeapLock(hHeap)) m_ahHeaps[m_nHeaps++] = hHeap;
    }
}

CTerminationGuard::~CTerminationGuard() {
    while (m_nHeaps > 0) HeapUnlock(m_ahHeaps[--m_nHeaps]);
}
