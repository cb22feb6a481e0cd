// The handset plug-in's soak: a compressed shift of calls through the
// plug-in's own load and unload steps, over the emulated handset (HID side)
// and its USB audio device with the device clock on demand.
//
// Threads:
//   main       plays the agent desktop's monitor thread and the handset: it
//              sends the event lines, pumps the host window, calls the call
//              exports, moves sound on demand, checks and measures;
//   dial       one per call: TV_StartDial blocks its caller for 300 ms, so
//              the agent's dial runs beside the caller's keying;
//   unplugger  in every call that is due for it: unplugs the handset at a
//              random moment and plugs it in again;
//   host x 4   call the query and switch exports at random (CSoakHostThreads),
//              held outside the plug-in while it is detached or measured.
// Shared between them: the digits drained this call (m_csDigits, which is
// also held across each drain so that the order of the digits is the order
// of the drains), the caller numbers sent (m_csNumbers), the export tally
// and the check tally (each guards itself).
#pragma once

#include <windows.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "SoakReport.h"

// How many times each export was called, by the name its log line begins
// with: the log must hold exactly as many lines.
class CExportTally {
public:
    CExportTally() { InitializeCriticalSection(&m_cs); }
    ~CExportTally() { DeleteCriticalSection(&m_cs); }
    void Count(const char *szLogName);
    std::map<std::string, long long> Counts() const;

private:
    mutable CRITICAL_SECTION m_cs;
    std::map<std::string, long long> m_counts;
};

class CHandsetSoak;

// The samples of prompt nIndex: a pattern of its own, so that a prompt
// played in part, twice or mixed with another shows on the device.
std::string SoakPromptSamples(size_t nIndex, size_t nBytes);
// The emulated desk's wave devices afresh, the clock on demand, the
// microphone counting (byte i of a capture is i mod 251). Only while no
// wave device is open.
void LayOutSoakAudio();

// The four host threads calling query and switch exports at random.
class CSoakHostThreads {
public:
    static const int D_nThreads = 4;
    explicit CSoakHostThreads(CHandsetSoak &soak);
    ~CSoakHostThreads();
    void Start(unsigned nRandomStart);
    // Hold every host thread outside the plug-in / let them go on.
    void Hold();
    void Release();
    void Stop();
    long long Calls() const { return m_nCalls; }

private:
    void Run(unsigned nRandomStart);
    void CallOneExport(CSoakRandom &random);

    CHandsetSoak &m_soak;
    SRWLOCK m_lockInside;  // shared while a host thread is inside an export
    std::atomic<bool> m_bStop;
    std::atomic<long long> m_nCalls;
    std::vector<std::thread> m_threads;
};

class CHandsetSoak {
public:
    explicit CHandsetSoak(const SSoakOptions &options);
    ~CHandsetSoak();
    int Run();

    // For the host threads.
    CSoakChecks &Checks() { return m_checks; }
    CExportTally &Tally() { return m_tally; }
    int CurrentCall() const { return m_nCall; }
    // Calls a digit drain under the digit lock and keeps what it returned.
    int DrainDigits(bool bOneCharacter);
    // True if szNumber is the caller number of one of the last few calls
    // (the link may not have read this call's yet, and an unplug may have
    // swallowed the previous one's).
    bool IsKnownNumber(const char *szNumber);

private:
    struct SKeyedLine {
        std::string strDigits;
        bool bTaken;  // an open handle of the handset took the characters
    };
    struct SReading {
        SSoakGauges gauges;
        int nSearches;  // searches for the handset so far
    };
    struct SCallMessages {
        int nRing, nStopDigit, nHangUp, nOffHook, nCallerNumber, nNoHandset;
        LPARAM lLastNumberLength;
    };

    bool SetUp();
    void TearDown();
    void Attach();
    void Reattach();
    bool MakePrompts();
    void RunCall();
    SReading Measure();
    void JudgeGauges(int nWarmUp, const SReading &warm, const SReading &end);
    int Report(double dSeconds);

    // HandsetCall.cpp: the steps of one call and their checks.
    void Ring();
    void CallerNumber();
    void OffHook();
    void KeyDigits();
    void PlayPrompt();
    void RecordCaller();
    void HangUp();
    void StartDial();
    void FinishCall();
    void MaybeUnplugAt(int nStep);
    bool SendLine(const std::string &strLine);
    void PumpMessages();
    void CheckDigits(const std::string &strReceived);
    void CollectWire();
    void CheckCallLetters();
    void CheckRecording(size_t nCaptured);
    void SettleAudio();

    // HandsetLogCheck.cpp: the log files against the tally.
    void CheckLogFiles();

    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT nMessage, WPARAM wParam, LPARAM lParam);

    SSoakOptions m_options;
    CSoakRandom m_random;
    CSoakChecks m_checks;
    CExportTally m_tally;
    CSoakHostThreads m_hostThreads;
    std::string m_strFolder;
    HWND m_hWnd;
    int m_nCall;
    bool m_bDisturbed;  // this call unplugs the handset
    int m_nUnplugStep;  // at which step
    int m_nAttaches, m_nDetaches, m_nUnplugs;
    std::thread m_dial;
    std::atomic<bool> m_bDialing;  // the dial thread is inside TV_StartDial
    std::string m_strCallLetters;  // letters of the call's own command lines, in wire order
    std::thread m_unplugger;
    std::string m_strDialed;
    std::vector<SKeyedLine> m_keyed;
    std::vector<std::string> m_prompts;  // prompt files
    std::vector<size_t> m_promptSizes;
    SCallMessages m_messages;
    CRITICAL_SECTION m_csDigits;
    std::string m_strReceived;  // digits drained this call, in drain order
    CRITICAL_SECTION m_csNumbers;
    static const int D_nNumbersKept = 4;
    std::string m_astrNumbers[D_nNumbersKept];
    int m_nNumbersSent;
    long long m_nDigitsKeyed, m_nDigitsReceived, m_nDigitsLost, m_nDigitsDuplicated, m_nDigitsUnplugged;
    long long m_nLogLines, m_nLogFiles, m_nLinkLines;
    SSoakGauges m_reattached;  // growth across the measured detach+attach
    int m_nReattachesMeasured, m_nReattachSearches;
};
