// Counting a module's heap bytes at its imports (ModuleHeap.h). Sizes are
// taken with _msize from the same C runtime (msvcrt.dll) the module's
// imports lead to, so a free counts exactly what the allocation counted.
#include "ModuleHeap.h"

#include <malloc.h>
#include <string.h>

#include <atomic>

#include "ImportTrace.h"

namespace {

typedef void *(__cdecl *PFN_malloc)(size_t);
typedef void *(__cdecl *PFN_calloc)(size_t, size_t);
typedef void *(__cdecl *PFN_realloc)(void *, size_t);
typedef void(__cdecl *PFN_free)(void *);
typedef char *(__cdecl *PFN_strdup)(const char *);

PFN_malloc g_pfnMalloc;
PFN_calloc g_pfnCalloc;
PFN_realloc g_pfnRealloc;
PFN_free g_pfnFree;
PFN_strdup g_pfnStrdup;
std::atomic<LONGLONG> g_llHeld{0};
bool g_bCounting = false;

void Count(void *pBlock, LONGLONG llSign) {
    if (pBlock) g_llHeld += llSign * static_cast<LONGLONG>(_msize(pBlock));
}

void *__cdecl CountedMalloc(size_t nBytes) {
    void *pBlock = g_pfnMalloc(nBytes);
    Count(pBlock, 1);
    return pBlock;
}

void *__cdecl CountedCalloc(size_t nCount, size_t nSize) {
    void *pBlock = g_pfnCalloc(nCount, nSize);
    Count(pBlock, 1);
    return pBlock;
}

void *__cdecl CountedRealloc(void *pOld, size_t nBytes) {
    const LONGLONG llOld = pOld ? static_cast<LONGLONG>(_msize(pOld)) : 0;
    void *pNew = g_pfnRealloc(pOld, nBytes);
    // realloc to 0 bytes frees; a failed realloc keeps the old block.
    if (pNew || nBytes == 0) {
        g_llHeld -= llOld;
        Count(pNew, 1);
    }
    return pNew;
}

void __cdecl CountedFree(void *pBlock) {
    Count(pBlock, -1);
    g_pfnFree(pBlock);
}

char *__cdecl CountedStrdup(const char *szText) {
    char *szCopy = g_pfnStrdup(szText);
    Count(szCopy, 1);
    return szCopy;
}

template <typename F>
bool Redirect(HMODULE hModule, const char *szName, F pfnCounted, F *ppfnOriginal) {
    void *pfnOld = nullptr;
    if (!RedirectImport(hModule, "msvcrt.dll", szName, reinterpret_cast<void *>(pfnCounted), &pfnOld)) return false;
    *ppfnOriginal = reinterpret_cast<F>(pfnOld);
    return true;
}

}  // namespace

bool CountModuleHeap(HMODULE hModule) {
    // The originals are the process's own: a function the module does not
    // import keeps them, and nothing is counted twice.
    g_pfnMalloc = malloc;
    g_pfnCalloc = calloc;
    g_pfnRealloc = realloc;
    g_pfnFree = free;
    g_pfnStrdup = _strdup;
    if (!Redirect(hModule, "free", &CountedFree, &g_pfnFree)) return false;
    if (!Redirect(hModule, "malloc", &CountedMalloc, &g_pfnMalloc)) {
        void *pfnCounted = nullptr;
        RedirectImport(hModule, "msvcrt.dll", "free", reinterpret_cast<void *>(g_pfnFree), &pfnCounted);
        return false;
    }
    Redirect(hModule, "calloc", &CountedCalloc, &g_pfnCalloc);
    Redirect(hModule, "realloc", &CountedRealloc, &g_pfnRealloc);
    Redirect(hModule, "_strdup", &CountedStrdup, &g_pfnStrdup);
    g_bCounting = true;
    return true;
}

long long ModuleHeapBytes() { return g_bCounting ? g_llHeld.load() : -1; }
