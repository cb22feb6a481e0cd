// stack_check: loads each shipped 32-bit plug-in, binds every export by its
// exact name and calls it through StackProbeCall with the argument count of
// the host's prototype. A __stdcall export must take exactly its arguments
// off the stack, a __cdecl export none; both must keep EBX, ESI, EDI and the
// direction flag. This proves at run time what the export check reads from
// the code (the ret $N of each export). One thread, no waits of its own: the
// SIP exports bound their own waits. Then the handset plug-in's unload
// cycles (UnloadCycles.cpp).
//   stack_check HANDSET.dll SIP.dll
#include <cstdio>

#include "StackProbe.h"

namespace {

constexpr int D_nMaxExports = 64;
constexpr int D_nBufferBytes = 4096;

char g_acBuffer[D_nBufferBytes];
HWND g_hWindow;
int g_nPassed;
int g_nFailed;

void CheckCall(const SExportCall &call, FARPROC pfn) {
    SCallProbe probe = {};
    StackProbeCall(pfn, call.adwArgs, call.nArgs, &probe);
    int nExpected = call.bCalleePops ? 4 * call.nArgs : 0;
    bool bPassed = probe.nCalleePopped == nExpected && probe.bRegistersKept;
    printf("%s %-28s %s %d arg(s): callee popped %d byte(s), expected %d; registers %s; result %d\n",
           bPassed ? "  ok" : "FAIL", call.pszName, call.bCalleePops ? "__stdcall" : "__cdecl", call.nArgs,
           probe.nCalleePopped, nExpected, probe.bRegistersKept ? "kept" : "CHANGED", probe.nResult);
    ++(bPassed ? g_nPassed : g_nFailed);
}

void CheckPlugin(const char *pszPath, int (*pfnCalls)(SExportCall *, int)) {
    char szFull[MAX_PATH];
    GetFullPathNameA(pszPath, MAX_PATH, szFull, nullptr);
    // The SIP plug-in imports KIRO.dll, which lies beside it.
    HMODULE hPlugin = LoadLibraryExA(szFull, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!hPlugin) {
        printf("FAIL %s did not load (error %lu)\n", szFull, GetLastError());
        ++g_nFailed;
        return;
    }
    printf("== %s\n", szFull);
    SExportCall aCalls[D_nMaxExports];
    int nCalls = pfnCalls(aCalls, D_nMaxExports);
    for (int i = 0; i < nCalls; ++i) {
        FARPROC pfn = GetProcAddress(hPlugin, aCalls[i].pszName);
        if (!pfn) {
            printf("FAIL %s is not exported\n", aCalls[i].pszName);
            ++g_nFailed;
            continue;
        }
        CheckCall(aCalls[i], pfn);
    }
    FreeLibrary(hPlugin);
}

}  // namespace

char *StackProbeBuffer() { return g_acBuffer; }
HWND StackProbeWindow() { return g_hWindow; }

int main(int argc, char **argv) {
    if (argc != 3) {
        printf("usage: stack_check HANDSET.dll SIP.dll\n");
        return 2;
    }
    // CT_StartMonitor gets a real window, as from a host; a message-only
    // window needs no display.
    g_hWindow = CreateWindowExA(0, "STATIC", "stack_check", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    CheckPlugin(argv[1], HandsetExportCalls);
    CheckPlugin(argv[2], SipExportCalls);
    const int nCycles = 3;
    const int nCyclesFailed = CheckUnloadCycles(argv[1], g_hWindow, nCycles);
    g_nPassed += nCycles - nCyclesFailed;
    g_nFailed += nCyclesFailed;
    if (g_hWindow) DestroyWindow(g_hWindow);
    printf("stack_check: %d passed, %d failed\n", g_nPassed, g_nFailed);
    return g_nFailed ? 1 : 0;
}
