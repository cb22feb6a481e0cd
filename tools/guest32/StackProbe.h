// One export call made the way a 32-bit host makes it, with the stack
// pointer and the callee-saved registers watched around it. Only for i686:
// the thunk is written in x86 assembly so that nothing the compiler chooses
// stands between the pushes and the call.
#pragma once

#include <windows.h>

constexpr int D_nMaxProbeArgs = 8;

// An export and the argument words the host pushes for it, right to left.
struct SExportCall {
    const char *pszName;
    int nArgs;
    DWORD adwArgs[D_nMaxProbeArgs];
    bool bCalleePops;  // __stdcall: the callee removes its arguments
};

// What one call did: its result, how many bytes the callee took off the
// stack (ESP after the call minus ESP at the call), and whether EBX, ESI, EDI
// and the direction flag came back as the caller left them.
struct SCallProbe {
    int nResult;
    int nCalleePopped;
    int bRegistersKept;
};

extern "C" void __cdecl StackProbeCall(FARPROC pfn, const DWORD *pArgs, int nArgs, SCallProbe *pProbe);

// The argument word a host passes for a parameter of type T: a zero for
// numbers, a short digit string for input strings, a caller-owned buffer
// larger than any the plug-ins fill, and the checker's own window.
char *StackProbeBuffer();
HWND StackProbeWindow();
template <class T>
DWORD StackProbeArgument();
template <>
inline DWORD StackProbeArgument<int>() {
    return 0;
}
template <>
inline DWORD StackProbeArgument<const char *>() {
    return (DWORD)(UINT_PTR) "12";
}
template <>
inline DWORD StackProbeArgument<char *>() {
    return (DWORD)(UINT_PTR)StackProbeBuffer();
}
template <>
inline DWORD StackProbeArgument<HWND>() {
    return (DWORD)(UINT_PTR)StackProbeWindow();
}

template <class... A>
SExportCall StackProbeDescribe(const char *pszName, bool bCalleePops) {
    SExportCall call = {pszName, (int)sizeof...(A), {StackProbeArgument<A>()...}, bCalleePops};
    return call;
}

// The host's prototypes decide the argument count: the same declarations the
// host console binds its pointers with.
template <class R, class... A>
SExportCall StackProbeStdcall(const char *pszName, R(WINAPI *)(A...)) {
    static_assert(sizeof...(A) <= D_nMaxProbeArgs, "more arguments than the probe pushes");
    return StackProbeDescribe<A...>(pszName, true);
}
template <class R, class... A>
SExportCall StackProbeCdecl(const char *pszName, R(__cdecl *)(A...)) {
    static_assert(sizeof...(A) <= D_nMaxProbeArgs, "more arguments than the probe pushes");
    return StackProbeDescribe<A...>(pszName, false);
}

// Every export of each plug-in in the order a session would call them.
int HandsetExportCalls(SExportCall *pCalls, int nMax);
int SipExportCalls(SExportCall *pCalls, int nMax);

// Load, wait for the link thread's first notice to hWnd, unload: the number
// of cycles that failed.
int CheckUnloadCycles(const char *pszPath, HWND hWnd, int nCycles);
