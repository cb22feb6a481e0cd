// One call of the handset soak, step by step, with what each step must
// leave behind (see HandsetSoak.h for the threads).
//
// The main thread sends an event line and then waits until the link thread
// has read all of it and started its next read: the line is decoded, its
// digits queued and its message posted, so the checks that follow need no
// guessed pause. In a call that unplugs the handset the unplugger thread
// pulls the plug at a random moment; the lines it swallows are lost, as on
// real hardware, and the checks of that call only ask that nothing arrives
// twice, out of order or torn.
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "HandsetSoak.h"
#include "audio/EmulatedWave.h"
#include "audio/FilePlayback.h"
#include "bravik32.h"
#include "core/Halvex.h"
#include "hid/EmulatedHid.h"
#include "stopwatch.h"

namespace {

const UINT D_nHandsetDevice = 1;  // the handset's id among AddTypicalDevices
const size_t D_nRecordBuffer = 1280;
const size_t D_nInputBuffers = 4;
const DWORD D_dwLineReadMs = 6000;    // covers a search after a replug
const DWORD D_dwAudioStepMs = 10000;  // the on-demand device moves as fast as the wave thread
const DWORD D_dwDisturbedAudioMs = 1000;
const DWORD D_dwWireSliceMs = 100;
const char D_szNumberDigits[] = "0123456789";
const char D_szKeyedDigits[] = "0123456789*";
const char D_szDialDigits[] = "0123456789*#";

CEmulatedHid &Hid() { return CEmulatedHid::Instance(); }
CEmulatedWave &Wave() { return CEmulatedWave::Instance(); }

bool WaitFor(bool (*pfnDone)(), DWORD dwMilliseconds) {
    const CStopwatch sinceStart;
    while (!pfnDone()) {
        if (sinceStart.ElapsedMs() > dwMilliseconds) return false;
        Sleep(1);
    }
    return true;
}

bool InputBuffersBack() { return Wave().QueuedBlocks(ESimWaveDirection::Input) == static_cast<int>(D_nInputBuffers); }

}  // namespace

void CHandsetSoak::RunCall() {
    m_messages = SCallMessages();
    m_keyed.clear();
    m_strCallLetters.clear();
    EnterCriticalSection(&m_csDigits);
    m_strReceived.clear();
    LeaveCriticalSection(&m_csDigits);
    m_nUnplugStep = m_bDisturbed ? m_random.Between(0, 6) : -1;
    MaybeUnplugAt(0);
    Ring();
    MaybeUnplugAt(1);
    CallerNumber();
    MaybeUnplugAt(2);
    OffHook();
    StartDial();
    MaybeUnplugAt(3);
    KeyDigits();
    MaybeUnplugAt(4);
    PlayPrompt();
    CollectWire();
    MaybeUnplugAt(5);
    RecordCaller();
    CollectWire();
    MaybeUnplugAt(6);
    HangUp();
    FinishCall();
}

void CHandsetSoak::MaybeUnplugAt(int nStep) {
    if (nStep != m_nUnplugStep) return;
    ++m_nUnplugs;
    const DWORD dwBefore = static_cast<DWORD>(m_random.Between(0, 10));
    const DWORD dwAway = static_cast<DWORD>(m_random.Between(0, 30));
    m_unplugger = std::thread([dwBefore, dwAway] {
        Sleep(dwBefore);
        Hid().Unplug();
        Sleep(dwAway);
        Hid().Plug();
    });
}

bool CHandsetSoak::SendLine(const std::string &strLine) {
    const bool bTaken = Hid().SendInput(strLine);
    if (bTaken) {
        // The wire is taken in between, so that what the host threads send
        // meanwhile (a search after an unplug takes seconds) does not pile up.
        bool bRead = false;
        for (DWORD dwWaited = 0; !bRead && dwWaited < D_dwLineReadMs; dwWaited += D_dwWireSliceMs) {
            bRead = Hid().WaitUntilReading(D_dwWireSliceMs);
            CollectWire();
        }
        if (!m_bDisturbed) m_checks.Check("notifications", bRead, m_nCall, "the link read the line " + strLine);
    } else if (!m_bDisturbed) {
        m_checks.Check("notifications", false, m_nCall, "no open handle took the line " + strLine);
    }
    PumpMessages();
    return bTaken;
}

void CHandsetSoak::PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

void CHandsetSoak::Ring() { SendLine("ATR\r\n"); }

void CHandsetSoak::CallerNumber() {
    const std::string strNumber = m_random.Digits(m_random.Between(3, 20), D_szNumberDigits);
    EnterCriticalSection(&m_csNumbers);
    m_astrNumbers[m_nNumbersSent++ % D_nNumbersKept] = strNumber;
    LeaveCriticalSection(&m_csNumbers);
    SendLine("ATCI:" + strNumber + "\r\n");
    char szANI[32];
    memset(szANI, 0x55, sizeof szANI);
    m_tally.Count("CT_GetANI");
    const int nResult = CT_GetANI(szANI);
    const bool bTerminated = memchr(szANI, '\0', sizeof szANI) != nullptr;
    m_checks.Check("documented export results", nResult == 0 && bTerminated, m_nCall, "CT_GetANI");
    if (m_bDisturbed || !bTerminated) return;
    m_checks.Check("caller number at CT_GetANI", strNumber == szANI, m_nCall,
                   "sent " + strNumber + ", CT_GetANI " + szANI);
    m_checks.Check("notifications", m_messages.lLastNumberLength == static_cast<LPARAM>(strNumber.size()), m_nCall,
                   "1133 carries the number's length");
}

void CHandsetSoak::OffHook() {
    m_tally.Count("TV_OffHookCtrl");
    m_checks.Check("documented export results", TV_OffHookCtrl(0) == 0, m_nCall, "TV_OffHookCtrl");
    SendLine("ATZ\r\n");
}

void CHandsetSoak::StartDial() {
    m_strDialed = m_random.Digits(m_random.Between(1, Halvex::D_nMaxDialDigits), D_szDialDigits);
    const int nCall = m_nCall;
    m_bDialing = true;
    m_dial = std::thread([this, nCall] {
        m_tally.Count("TV_StartDial");
        m_checks.Check("documented export results", TV_StartDial(0, m_strDialed.c_str()) == 0, nCall, "TV_StartDial");
        m_bDialing = false;
    });
}

void CHandsetSoak::KeyDigits() {
    const int nLines = m_random.Between(1, 3);
    for (int i = 1; i <= nLines; ++i) {
        std::string strDigits = i < nLines ? m_random.Digits(m_random.Between(1, 12), D_szKeyedDigits)
                                           : m_random.Digits(m_random.Between(0, 10), D_szKeyedDigits) + "#";
        const bool bTaken = SendLine("ATN" + strDigits + "\r\n");
        m_keyed.push_back(SKeyedLine{strDigits, bTaken});
    }
    // The host answers the stop digit by taking what was keyed.
    while (DrainDigits(m_random.Between(0, 3) == 0) > 0) {
    }
}

void CHandsetSoak::PlayPrompt() {
    const size_t nPrompt = static_cast<size_t>(m_random.Between(0, static_cast<int>(m_prompts.size()) - 1));
    m_tally.Count("TV_StartPlayFile");
    const int nStart = TV_StartPlayFile(0, m_prompts[nPrompt].c_str(), 0, 0);
    m_checks.Check("documented export results", nStart == 0 || (m_bDisturbed && nStart == -1), m_nCall,
                   "TV_StartPlayFile = " + std::to_string(nStart));
    const DWORD dwStepMs = m_bDisturbed ? D_dwDisturbedAudioMs : D_dwAudioStepMs;
    const CStopwatch sinceStart;
    int nRest = 1;
    while (sinceStart.ElapsedMs() < dwStepMs) {
        m_tally.Count("TV_PlayFileRest");
        nRest = TV_PlayFileRest(0);
        m_checks.Check("documented export results", nRest == 0 || nRest == 1, m_nCall, "TV_PlayFileRest");
        if (nRest == 0) break;
        if (Wave().PlayOutputBlocks(1) == 0) Sleep(1);
    }
    if (nRest != 0) {
        m_checks.Check("prompt reaches the device", m_bDisturbed, m_nCall, "the playback did not end by itself");
        m_tally.Count("TV_StopPlayFile");
        m_checks.Check("documented export results", TV_StopPlayFile(0) == 1, m_nCall, "TV_StopPlayFile");
        return;
    }
    if (m_bDisturbed) return;
    const std::vector<unsigned char> played = Wave().PlayedBytes(D_nHandsetDevice);
    const std::string strExpected = SoakPromptSamples(nPrompt, m_promptSizes[nPrompt]);
    m_checks.Check("prompt reaches the device",
                   CEmulatedWave::IsWholeThenSilence(played, reinterpret_cast<const unsigned char *>(strExpected.data()),
                                                     strExpected.size(), D_nPlayEndSilenceBytes),
                   m_nCall, std::to_string(played.size()) + " bytes played of " + std::to_string(strExpected.size()));
}

void CHandsetSoak::RecordCaller() {
    const std::string strPath = m_strFolder + "soak_recording.wav";
    m_tally.Count("TV_StartRecordFile");
    const int nStart = TV_StartRecordFile(0, strPath.c_str(), 0, 0);
    m_checks.Check("documented export results", nStart == 0 || (m_bDisturbed && nStart == -1), m_nCall,
                   "TV_StartRecordFile = " + std::to_string(nStart));
    size_t nCaptured = 0;
    const DWORD dwBound = m_bDisturbed ? D_dwDisturbedAudioMs : D_dwAudioStepMs;
    for (size_t nLeft = static_cast<size_t>(m_random.Between(32000, 64000)); nStart == 0 && nLeft > 0;) {
        const size_t nRound = std::min(nLeft, D_nInputBuffers * D_nRecordBuffer);
        const size_t nTaken = Wave().CaptureInput(nRound);
        nCaptured += nTaken;
        nLeft -= nRound;
        const bool bBack = WaitFor(InputBuffersBack, dwBound);
        if (m_bDisturbed && (nTaken < nRound || !bBack)) break;
        m_checks.Check("recording holds the capture", nTaken == nRound && bBack, m_nCall,
                       "input buffers ready for the whole capture");
    }
    m_tally.Count("TV_StopRecordFile");
    m_checks.Check("documented export results", TV_StopRecordFile(0) == 0, m_nCall, "TV_StopRecordFile");
    if (nStart == 0) CheckRecording(nCaptured);
    DeleteFileA(strPath.c_str());
}

void CHandsetSoak::CheckRecording(size_t nCaptured) {
    const std::string strFile = ReadSoakFile(m_strFolder + "soak_recording.wav");
    // The capture, then silence up to the end of the buffer it ended in.
    const size_t nPadded = (nCaptured + D_nRecordBuffer - 1) / D_nRecordBuffer * D_nRecordBuffer;
    std::string strExpected(nPadded, '\0');
    for (size_t i = 0; i < nCaptured; ++i) strExpected[i] = static_cast<char>(i % 251);
    auto le32 = [&strFile](size_t nAt) {
        unsigned nValue = 0;
        for (int i = 3; i >= 0; --i) nValue = (nValue << 8) | static_cast<unsigned char>(strFile[nAt + i]);
        return nValue;
    };
    const bool bHeader = strFile.size() >= 44 && le32(4) == strFile.size() - 8 && le32(40) == strFile.size() - 44;
    m_checks.Check("recording holds the capture", bHeader && strFile.compare(44, std::string::npos, strExpected) == 0,
                   m_nCall,
                   std::to_string(nCaptured) + " bytes captured, file of " + std::to_string(strFile.size()) + " bytes");
}

void CHandsetSoak::HangUp() {
    m_dial.join();
    while (DrainDigits(false) > 0) {
    }
    m_tally.Count("TV_HangUpCtrl");
    m_checks.Check("documented export results", TV_HangUpCtrl(0) == 0, m_nCall, "TV_HangUpCtrl");
    SendLine("ATH\r\n");
}

void CHandsetSoak::FinishCall() {
    if (m_unplugger.joinable()) {
        m_unplugger.join();
        m_checks.Check("handset found after attach", Hid().WaitUntilReading(D_dwLineReadMs), m_nCall,
                       "the handset is read again after the replug");
        // The hang-up may have been lost with the handset: what is queued
        // still belongs to this call.
        while (DrainDigits(false) > 0) {
        }
    }
    PumpMessages();
    const SCallMessages &m = m_messages;
    const bool bAsKeyed = m.nRing == 1 && m.nCallerNumber == 1 && m.nOffHook == 1 && m.nStopDigit == 1 &&
                          m.nHangUp == 1;
    const bool bAtMost = m.nRing <= 1 && m.nCallerNumber <= 1 && m.nOffHook <= 1 && m.nStopDigit <= 1 && m.nHangUp <= 1;
    char szCounts[160];
    snprintf(szCounts, sizeof szCounts, "1124 x%d, 1133 x%d, 1127 x%d, 1125 x%d, 1126 x%d", m.nRing, m.nCallerNumber,
             m.nOffHook, m.nStopDigit, m.nHangUp);
    m_checks.Check("notifications", m_bDisturbed ? bAtMost : bAsKeyed, m_nCall, szCounts);
    EnterCriticalSection(&m_csDigits);
    const std::string strReceived = m_strReceived;
    LeaveCriticalSection(&m_csDigits);
    CheckDigits(strReceived);
    CollectWire();
    CheckCallLetters();
    SettleAudio();
}
