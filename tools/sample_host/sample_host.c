/* sample_host: the smallest host of the BRAVIK32 plug-ins, written the way
 * include\bravik32.h and include\marenta.h tell a host developer to: the
 * plug-in loaded with LoadLibraryA, told apart by its exports, every export
 * bound by name through the headers' pointer types, and a window registered
 * for the handset plug-in's messages, each shown as it arrives.
 *
 *   sample_host PLUGIN.dll [SECONDS]
 *       the handset plug-in: shows its messages for SECONDS (default 5)
 *   sample_host PLUGIN.dll DOMAIN USER PASSWORD PROXY
 *       the SIP plug-in: registers the line, then unregisters it
 *
 * Either plug-in's file version is read from its version resource (the
 * plug-ins' TV_GetDLLVersion answers "20060601" in every release).
 *
 * The window is message-only (HWND_MESSAGE): it receives posted messages like
 * any window and needs no desktop. A desktop's own main window does as well;
 * what matters is that the thread that created it handles its messages.
 *
 * Build, 32-bit (the plug-ins are 32-bit DLLs), from the package folder:
 *   MinGW: i686-w64-mingw32-gcc -Iinclude samples\sample_host.c -o sample_host.exe -lversion
 *   MSVC:  cl /Iinclude samples\sample_host.c user32.lib version.lib
 * Exit code: 0 every export bound and answered success, 1 an export failed,
 * 2 wrong usage or a DLL that does not load or is neither plug-in. */
#define BRAVIK32_NO_PROTOTYPES
#define MARENTA_NO_PROTOTYPES
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "bravik32.h"
#include "marenta.h"

/* The cast through void (*)(void) binds without a compiler warning. */
#define BIND(type, module, name) ((type)(void (*)(void))GetProcAddress((module), (name)))

/* Prints the plug-in's release, "1.0.0.0", from its version resource: the
 * snippet of include\bravik32.h and README.txt, word for word. Needs
 * version.lib (-lversion). */
static void ShowFileVersion(HMODULE hPlugin, const char *szFile) {
    char szPath[MAX_PATH] = "", szVersion[24] = "";
    DWORD dwIgnored, dwSize;
    VS_FIXEDFILEINFO *pInfo;
    UINT uLength;
    void *pData;
    GetModuleFileNameA(hPlugin, szPath, MAX_PATH);
    dwSize = GetFileVersionInfoSizeA(szPath, &dwIgnored);
    pData = malloc(dwSize);
    if (pData && GetFileVersionInfoA(szPath, 0, dwSize, pData) &&
        VerQueryValueA(pData, "\\", (void **)&pInfo, &uLength))
        sprintf(szVersion, "%u.%u.%u.%u", HIWORD(pInfo->dwFileVersionMS),
                LOWORD(pInfo->dwFileVersionMS), HIWORD(pInfo->dwFileVersionLS),
                LOWORD(pInfo->dwFileVersionLS));
    free(pData);
    printf("%s: file version %s\n", szFile, szVersion[0] ? szVersion : "(none)");
}

/* Milliseconds since *pStart, by the performance counter: the tick count
 * (GetTickCount) can move in coarse, late steps on a busy machine. */
static double MillisecondsSince(const LARGE_INTEGER *pStart) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (double)(now.QuadPart - pStart->QuadPart) * 1000.0 / (double)frequency.QuadPart;
}

/* ------------------------------------------------------ handset plug-in */

static BRAVIK32_PFN_CT_GetANI g_pfnGetANI;
static int g_nMessages;

static const char *MessageName(UINT uMsg) {
    switch (uMsg) {
    case BRAVIK32_MSG_RING: return "ring";
    case BRAVIK32_MSG_STOP_DIGIT: return "stop digit";
    case BRAVIK32_MSG_HANG_UP: return "hang-up";
    case BRAVIK32_MSG_OFF_HOOK: return "off-hook";
    case BRAVIK32_MSG_CALLER_ID: return "caller number";
    case BRAVIK32_MSG_NO_HANDSET: return "no handset";
    default: return "not posted by this plug-in";
    }
}

static LRESULT CALLBACK HostWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (uMsg < BRAVIK32_MSG_RING || uMsg > BRAVIK32_MSG_NO_HANDSET) return DefWindowProcA(hWnd, uMsg, wParam, lParam);
    ++g_nMessages;
    if (uMsg == BRAVIK32_MSG_CALLER_ID) {
        /* wParam points into the plug-in's buffer, which its next line may
         * already have overwritten: CT_GetANI copies the number safely. */
        char szNumber[32] = "";
        g_pfnGetANI(szNumber);
        printf("message %u (%s): %s\n", uMsg, MessageName(uMsg), szNumber);
    } else {
        printf("message %u (%s)\n", uMsg, MessageName(uMsg));
    }
    fflush(stdout);
    return 0;
}

static int RunHandset(HMODULE hPlugin, DWORD dwSeconds) {
    BRAVIK32_PFN_CT_StartMonitor pfnStartMonitor = BIND(BRAVIK32_PFN_CT_StartMonitor, hPlugin, "CT_StartMonitor");
    BRAVIK32_PFN_TV_Initialize pfnInitialize = BIND(BRAVIK32_PFN_TV_Initialize, hPlugin, "TV_Initialize");
    WNDCLASSA wc;
    HWND hWnd;
    LARGE_INTEGER start;
    g_pfnGetANI = BIND(BRAVIK32_PFN_CT_GetANI, hPlugin, "CT_GetANI");
    if (!pfnStartMonitor || !pfnInitialize || !g_pfnGetANI) {
        printf("an export of the handset plug-in is missing\n");
        return 2;
    }
    ZeroMemory(&wc, sizeof wc);
    wc.lpfnWndProc = HostWindowProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "SampleHostMessages";
    RegisterClassA(&wc);
    hWnd = CreateWindowExA(0, wc.lpszClassName, "sample_host", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, wc.hInstance, NULL);
    if (!hWnd) {
        printf("no window: error %lu\n", GetLastError());
        return 1;
    }
    printf("CT_StartMonitor = %d\n", pfnStartMonitor(hWnd));
    /* 0 right after the load: the first search for the handset ends later. */
    printf("TV_Initialize = %d\n", pfnInitialize());
    fflush(stdout);
    QueryPerformanceCounter(&start);
    while (MillisecondsSince(&start) < dwSeconds * 1000.0) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        MsgWaitForMultipleObjects(0, NULL, FALSE, 100, QS_ALLINPUT);
    }
    /* No more posts to a window that is about to go. */
    pfnStartMonitor(NULL);
    DestroyWindow(hWnd);
    printf("%d message(s) in %lu s\n", g_nMessages, dwSeconds);
    return 0;
}

/* ---------------------------------------------------------- SIP plug-in */

static int RunSip(HMODULE hPlugin, char **argv) {
    MARENTA_PFN_TV_Installed pfnInstalled = BIND(MARENTA_PFN_TV_Installed, hPlugin, "TV_Installed");
    MARENTA_PFN_TV_Initialize pfnInitialize = BIND(MARENTA_PFN_TV_Initialize, hPlugin, "TV_Initialize");
    MARENTA_PFN_TV_UnInitialize pfnUnInitialize = BIND(MARENTA_PFN_TV_UnInitialize, hPlugin, "TV_UnInitialize");
    int nRegistered, nUnregistered;
    if (!pfnInstalled || !pfnInitialize || !pfnUnInitialize) {
        printf("an export of the SIP plug-in is missing\n");
        return 2;
    }
    printf("TV_Installed = %d\n", pfnInstalled());
    /* Blocks until the registrar confirms, 5 s at most. */
    nRegistered = pfnInitialize(argv[0], argv[1], argv[2], argv[3], "");
    printf("TV_Initialize = %d%s\n", nRegistered, nRegistered == 0 ? " (registered)" : "");
    if (nRegistered != 0) return 1;
    nUnregistered = pfnUnInitialize();
    printf("TV_UnInitialize = %d%s\n", nUnregistered, nUnregistered == 0 ? " (unregistered)" : "");
    return nUnregistered == 0 ? 0 : 1;
}

int main(int argc, char **argv) {
    HMODULE hPlugin;
    int nExit = 2;
    if (argc < 2) {
        printf("usage: sample_host PLUGIN.dll [SECONDS]\n"
               "       sample_host PLUGIN.dll DOMAIN USER PASSWORD PROXY\n");
        return 2;
    }
    hPlugin = LoadLibraryA(argv[1]);
    if (!hPlugin) {
        printf("cannot load %s: error %lu\n", argv[1], GetLastError());
        return 2;
    }
    ShowFileVersion(hPlugin, argv[1]);
    if (BRAVIK32_IS_HANDSET_PLUGIN(hPlugin)) {
        printf("the handset plug-in\n");
        nExit = RunHandset(hPlugin, argc > 2 ? (DWORD)strtoul(argv[2], NULL, 10) : 5);
    } else if (MARENTA_IS_SIP_PLUGIN(hPlugin)) {
        printf("the SIP plug-in\n");
        if (argc == 6) {
            nExit = RunSip(hPlugin, argv + 2);
        } else {
            printf("the SIP plug-in needs DOMAIN USER PASSWORD PROXY\n");
        }
    } else {
        printf("%s is neither plug-in\n", argv[1]);
    }
    fflush(stdout);
    FreeLibrary(hPlugin);
    return nExit;
}
