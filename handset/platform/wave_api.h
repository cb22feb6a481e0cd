// The wave device module's window on the Windows multimedia wave API: one
// typedef per function and one table of pointers, filled with the real winmm
// functions. Tests and the demo host install the emulated audio device (sim/)
// in its place; nothing of this table leaves the plug-in's DLL.
//
// Host threads and the wave message thread call through the table, so it is
// replaced only while no wave device is open.
#pragma once

#include <windows.h>
#include <mmsystem.h>

typedef UINT(WINAPI *PFN_waveInGetNumDevs)(void);
typedef MMRESULT(WINAPI *PFN_waveInGetDevCapsA)(UINT_PTR uDeviceId, LPWAVEINCAPSA pCaps, UINT cbCaps);
typedef MMRESULT(WINAPI *PFN_waveInOpen)(LPHWAVEIN phwi, UINT uDeviceId, LPCWAVEFORMATEX pFormat, DWORD_PTR dwCallback,
                                         DWORD_PTR dwInstance, DWORD fdwOpen);
typedef MMRESULT(WINAPI *PFN_waveInPrepareHeader)(HWAVEIN hwi, LPWAVEHDR pHdr, UINT cbHdr);
typedef MMRESULT(WINAPI *PFN_waveInUnprepareHeader)(HWAVEIN hwi, LPWAVEHDR pHdr, UINT cbHdr);
typedef MMRESULT(WINAPI *PFN_waveInAddBuffer)(HWAVEIN hwi, LPWAVEHDR pHdr, UINT cbHdr);
typedef MMRESULT(WINAPI *PFN_waveInStart)(HWAVEIN hwi);
typedef MMRESULT(WINAPI *PFN_waveInReset)(HWAVEIN hwi);
typedef MMRESULT(WINAPI *PFN_waveInClose)(HWAVEIN hwi);
typedef UINT(WINAPI *PFN_waveOutGetNumDevs)(void);
typedef MMRESULT(WINAPI *PFN_waveOutGetDevCapsA)(UINT_PTR uDeviceId, LPWAVEOUTCAPSA pCaps, UINT cbCaps);
typedef MMRESULT(WINAPI *PFN_waveOutOpen)(LPHWAVEOUT phwo, UINT uDeviceId, LPCWAVEFORMATEX pFormat,
                                          DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen);
typedef MMRESULT(WINAPI *PFN_waveOutPrepareHeader)(HWAVEOUT hwo, LPWAVEHDR pHdr, UINT cbHdr);
typedef MMRESULT(WINAPI *PFN_waveOutUnprepareHeader)(HWAVEOUT hwo, LPWAVEHDR pHdr, UINT cbHdr);
typedef MMRESULT(WINAPI *PFN_waveOutWrite)(HWAVEOUT hwo, LPWAVEHDR pHdr, UINT cbHdr);
typedef MMRESULT(WINAPI *PFN_waveOutReset)(HWAVEOUT hwo);
typedef MMRESULT(WINAPI *PFN_waveOutClose)(HWAVEOUT hwo);

// Members carry the names of the functions they stand for, so that a call
// reads g_Wave.waveOutWrite(hwo, pHdr, sizeof(WAVEHDR)).
struct WAVE_API {
    PFN_waveInGetNumDevs waveInGetNumDevs;
    PFN_waveInGetDevCapsA waveInGetDevCapsA;
    PFN_waveInOpen waveInOpen;
    PFN_waveInPrepareHeader waveInPrepareHeader;
    PFN_waveInUnprepareHeader waveInUnprepareHeader;
    PFN_waveInAddBuffer waveInAddBuffer;
    PFN_waveInStart waveInStart;
    PFN_waveInReset waveInReset;
    PFN_waveInClose waveInClose;
    PFN_waveOutGetNumDevs waveOutGetNumDevs;
    PFN_waveOutGetDevCapsA waveOutGetDevCapsA;
    PFN_waveOutOpen waveOutOpen;
    PFN_waveOutPrepareHeader waveOutPrepareHeader;
    PFN_waveOutUnprepareHeader waveOutUnprepareHeader;
    PFN_waveOutWrite waveOutWrite;
    PFN_waveOutReset waveOutReset;
    PFN_waveOutClose waveOutClose;
};

// The table in use; the real functions unless a replacement is installed.
extern WAVE_API g_Wave;

// Installs a replacement table (null restores the real functions). Call only
// while no wave device is open.
void InstallWaveApi(const WAVE_API *pReplacement);
