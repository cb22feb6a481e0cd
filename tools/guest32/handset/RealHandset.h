// handset_real: the shipped handset plug-in against the handset that
// handsetd makes in the guest's kernel, through Wine's HID and ALSA stacks.
// Written from the plug-in's public header alone. The pieces: the link to
// handsetd over the standard handles (DeviceLink.cpp), the host window and
// its messages (HostMessages.cpp), the plug-in's exports (the sequence in
// handset_real.cpp), the sound checks (SignalCheck.cpp), the Wine probes
// (WineProbe.cpp) and the unloads (UnloadChecks.cpp).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "bravik32.h"
#include "stopwatch.h"

// Seconds since 1970 by the system clock, the clock handsetd stamps with.
double NowUnix();

// One request to handsetd ("plug", "send 20 ATR\r\n", ...): the words of its
// answer after "ok", or false (and the answer in reply) when it failed.
bool Device(const std::string &strRequest, std::vector<std::string> &reply);
bool Device(const std::string &strRequest);
std::vector<std::string> Words(const std::string &strLine);

// Checks and figures, counted for the closing line.
void Check(bool bPassed, const char *pszFormat, ...) __attribute__((format(printf, 2, 3)));
void Figure(const char *pszFormat, ...) __attribute__((format(printf, 1, 2)));
int FailedChecks();
int PassedChecks();

struct SHostMessage {
    UINT nMessage;
    WPARAM wParam;
    LPARAM lParam;
    std::string strNumber;  // 1133: the caller number wParam pointed at
    double dTime;
};

// The host window that CT_StartMonitor gets; messages are taken by the
// waits below, on this thread.
HWND HostWindow();
// Takes messages for up to dwMs; returns the first nMessage that came (its
// time), every message taken is kept in the journal.
bool AwaitMessage(UINT nMessage, DWORD dwMs, SHostMessage *pFound = nullptr);
void PumpFor(DWORD dwMs);
std::vector<SHostMessage> TakeJournal();
int CountIn(const std::vector<SHostMessage> &journal, UINT nMessage);

// The plug-in's exports by name.
struct SPlugin {
    HMODULE hModule;
    BRAVIK32_PFN_TV_Initialize pfnInitialize;
    BRAVIK32_PFN_CT_StartMonitor pfnStartMonitor;
    BRAVIK32_PFN_TV_StartPlayFile pfnStartPlay;
    BRAVIK32_PFN_TV_StopPlayFile pfnStopPlay;
    BRAVIK32_PFN_TV_PlayFileRest pfnPlayRest;
    BRAVIK32_PFN_TV_StartRecordFile pfnStartRecord;
    BRAVIK32_PFN_TV_StopRecordFile pfnStopRecord;
};
bool LoadPlugin(const char *pszPath, SPlugin &plugin);
void *Export(const SPlugin &plugin, const char *pszName);
// Polls TV_Initialize until it answers 1; the seconds it took, or -1.
double AwaitHandsetOpen(const SPlugin &plugin, DWORD dwMs);
// Feature reports handsetd has had so far.
int ReportCount();

// The sequence's parts.
void CheckCommands(const SPlugin &plugin);
void CheckEvents(const SPlugin &plugin);
void CheckUnplugAndReplug(const SPlugin &plugin);
void CheckPlayback(const SPlugin &plugin);
void CheckRecording(const SPlugin &plugin);
void CheckUnloads(const char *pszPath);
// What Wine shows of the handset before the plug-in runs: the HID
// device's lengths, the wave devices' names.
void ProbeWine();
// A handle of our own on the handset with a read pending, across an unplug:
// what Wine answers there.
struct SUnplugProbe {
    HANDLE hDevice;
    OVERLAPPED overlapped;
    BYTE abReport[2];
    DWORD dwStartError;
};
SUnplugProbe ProbeBeforeUnplug();
void ProbeAfterUnplug(SUnplugProbe &probe);
// The error number of the plug-in's last "GetOverlappedResult" log line, or -1.
int LoggedReadError();
// The path of the handset's HID interface, or "".
std::string HandsetPath();
// Expected feature reports of one command line, as handsetd shows them.
std::vector<std::string> ReportsOfLine(const std::string &strLine);
// Reports from nFrom on, waiting for nCount; their hex texts and times.
bool ReportsSince(int nFrom, int nCount, DWORD dwMs, std::vector<std::string> &hex, std::vector<double> &times);
