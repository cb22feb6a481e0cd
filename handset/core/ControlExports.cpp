// The host's telephony-device functions (TV_) and the handset control
// functions (CT_): each writes its log line first, then answers from the
// handset link's state or sends one command line through it.
//
// Threads: every export runs on whichever host thread calls it; nothing here
// starts a thread or waits for the handset. The only shared state is the
// handset link's (the queues and the caller number have their own locks,
// SendCommand keeps one command line's reports together), so no lock is held
// here, and TV_StartDial's pause between its two commands holds none either.
//
// The host binds these by name and trusts each to pop exactly its arguments
// (__stdcall); the .def files generated from exports.list give the exported
// names, some of them decorated.
#include "bravik32.h"

#include <string.h>

#include "core/ExportSteps.h"
#include "core/Halvex.h"
#include "support/LogReporter.h"

namespace {

const int D_nMaxDrainBytes = 30;
const DWORD D_dwDialPauseMs = 300;
const char D_szDLLVersion[] = "20060601";

// Flags count by their low 8 bits: 256 is off.
bool IsOn(int nFlag) { return (nFlag & 0xFF) != 0; }
const char *OpenOrClose(int nFlag) { return IsOn(nFlag) ? "Open" : "Close"; }

// The four switch exports: "<name>:Open" sends cOn, "<name>:Close" cOff.
int Switch(const char *szExport, int nFlag, char cOn, char cOff) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "%s:%s", szExport, OpenOrClose(nFlag));
    SendLetter(IsOn(nFlag) ? cOn : cOff);
    return 1;
}

// Moves at most 30 bytes into the host's buffer, no NUL; what does not fit
// stays queued for the next call. A held 255 ends the drain and is lost.
int Drain(CQueue &queue, char *pOut) { return pOut ? queue.DrainUpTo(pOut, D_nMaxDrainBytes) : 0; }

// The digits, or -1 when the string cannot be dialled as one command line.
int DialLength(const char *szDigits) {
    if (!szDigits) return -1;
    int nLength = 0;
    while (szDigits[nLength] != '\0') {
        if (++nLength > Halvex::D_nMaxDialDigits) return -1;
    }
    return nLength;
}

}  // namespace

extern "C" {

int WINAPI TV_Installed(void) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "TV_Installed");
    return 1;
}

int WINAPI TV_Initialize(void) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "TV_Initialize");
    return g_Halvex.IsOpen() ? 1 : 0;
}

int WINAPI TV_Disable(void) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "TV_Disable");
    return 0;
}

int WINAPI TV_CompressRatio(int) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "TV_CompressRatio");
    return 0;
}

int WINAPI TV_ConnectChannels(int nFirst, int nSecond) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "TV_ConnectChannels:%d %d", nFirst, nSecond);
    return 0;
}

int WINAPI TV_ConnectTo(int nFirst, int nSecond) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "TV_ConnectTo :%d %d", nFirst, nSecond);
    return 0;
}

int WINAPI TV_Disconnect(int nChannel) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "TV_Disconnect :%d ", nChannel);
    return 0;
}

int WINAPI TV_DisconnectChannels(int nFirst, int nSecond) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "TV_DisconnectChannels :%d %d", nFirst, nSecond);
    return 0;
}

int WINAPI TV_FlushDTMF(int) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "TV_FlushDTMF");
    g_Halvex.m_qDTMF.Clear();
    return 0;
}

int WINAPI TV_GetDTMFChar(int) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "TV_GetDTMFChar");
    // The empty marker 255 reaches the host as -1.
    return static_cast<signed char>(g_Halvex.m_qDTMF.Pop());
}

int WINAPI TV_HangUpCtrl(int) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "TV_HangUpCtrl");
    SendLetter('H');
    return 0;
}

int WINAPI TV_OffHookCtrl(int) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "TV_OffHookCtrl");
    SendLetter('Z');
    return 0;
}

int WINAPI TV_StartDial(int, const char *szDigits) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "TV_StartDial:%s", Printable(szDigits));
    // A number that does not fit one command line is refused whole: going
    // off hook and dialling a cut number would reach a wrong party.
    const int nDigits = DialLength(szDigits);
    if (nDigits < 0) return 0;
    SendLetter('Z');
    Sleep(D_dwDialPauseMs);
    g_Halvex.SendCommand('B', static_cast<BYTE>(nDigits), szDigits);
    return 0;
}

int WINAPI TV_GetDLLVersion(char *szVersion) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "TV_GetDLLVersion");
    if (szVersion) memcpy(szVersion, D_szDLLVersion, sizeof D_szDLLVersion);
    return 0;
}

int WINAPI CT_StartMonitor(HWND hWnd) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "CT_StartMonitor");
    g_Halvex.SetNotifyWindow(hWnd);
    return 1;
}

int WINAPI CT_StopMonitor(void) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "CT_StopMonitor");
    return 0;
}

int WINAPI CT_Flash(void) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "CT_Flash");
    SendLetter('F');
    return 1;
}

int WINAPI CT_Bell(int nFlag) { return Switch("CT_Bell", nFlag, 'O', 'C'); }
int WINAPI CT_Keyboard(int nFlag) { return Switch("CT_Keyboard", nFlag, 'E', 'G'); }
int WINAPI CT_Mic(int nFlag) { return Switch("CT_Mic", nFlag, 'L', 'K'); }
int WINAPI CT_Spk(int nFlag) { return Switch("CT_Spk", nFlag, 'J', 'I'); }

int WINAPI CT_RingOn(void) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "CT_RingOn ");
    return CT_Bell(1);
}

int WINAPI CT_RingOff(void) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "CT_RingOff ");
    return CT_Bell(0);
}

int WINAPI CT_MicMute(int nFlag) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "CT_MicMute");
    return CT_Mic(nFlag);
}

int WINAPI CT_EarMute(int nFlag) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "CT_EarMute");
    return CT_Spk(nFlag);
}

int WINAPI CT_KeyLock(int nFlag) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "CT_KeyLock");
    return CT_Keyboard(nFlag);
}

int WINAPI CT_SendDTMF(const char *szDigits) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "CT_SendDTMF:%s", Printable(szDigits));
    return 1;
}

int WINAPI CT_GetANI(char *szNumber) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "CT_GetANI ");
    if (szNumber) g_Halvex.CopyANI(szNumber);
    return 0;
}

int WINAPI CT_GetKeys(char *pKeys) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "CT_GetKeys");
    Drain(g_Halvex.m_qKeys, pKeys);
    return 1;
}

int WINAPI CT_GetDTMFStr(char *pDigits) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "CT_GetDTMF");
    return Drain(g_Halvex.m_qDTMF, pDigits);
}

int WINAPI CT_SetStopIO(int nDigit) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "CT_SetStopIO");
    g_Halvex.m_cStopIO = static_cast<char>(nDigit & 0xFF);
    return 0;
}

int WINAPI CT_GetErrorDesc(char *) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "CT_GetErrorDesc");
    return 0;
}

int WINAPI CT_GetStatus(void) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "CT_GetStatus");
    return 0;
}

}  // extern "C"
