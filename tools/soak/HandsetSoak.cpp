// The handset soak's frame: the emulated desk, the plug-in's attach and
// detach, the run of calls with its two readings of the gauges, and the
// table (see HandsetSoak.h for the threads and what they share).
#include "HandsetSoak.h"

#include <stdio.h>

#include "audio/EmulatedWave.h"
#include "bravik32.h"
#include "core/Halvex.h"
#include "core/PluginLifecycle.h"
#include "hid/EmulatedHid.h"

namespace {

const char D_cStopDigit = '#';
// The rest after each line: the real 500 ms would make a shift take a shift.
const DWORD D_dwCompressedLinePauseMs = 1;
// A search pauses 200 ms, and 2000 ms more after a miss.
const DWORD D_dwConnectTimeoutMs = 6000;
// Sizes of the prompts: below one opening block, exactly one, both opening
// blocks and a refill, and several refills.
const size_t D_anPromptBytes[] = {3000, 30000, 40960, 81922, 100000};
// Over the calls: the private bytes move in pages and heap segments, and the
// heap bytes in use may vary by what a string or a vector happens to keep.
const SSoakTolerance D_CallTolerance = {{0, 0, 256 * 1024, 16 * 1024, D_llNotJudged, 0, 0, 0}};
// The emulated desk keeps a record of every handle it ever opened, so that
// a late use of a closed one shows: each search for the handset leaves two
// (the other model and the handset), about 750 bytes each.
const long long D_llDeskBytesPerSearch = 1600;
// Each detach ends the link thread and the wave message thread with
// TerminateThread once they are parked (support/ThreadEnd.h). Wine keeps
// the stack of a thread ended that way (about 1 MB) and, for the wave
// message thread, the handle of its message queue; Windows since Vista frees
// both. That much per detach and attach is allowed apart from the calls.
const SSoakTolerance D_ReattachAllowance = {{1, 0, 2 * 1100 * 1024, 4 * 1024, 0, 0, 0, 0}};

CHandsetSoak *g_pSoak = nullptr;

void PutLe(std::string &strOut, unsigned nValue, int nBytes) {
    for (int i = 0; i < nBytes; ++i) strOut += static_cast<char>((nValue >> (8 * i)) & 0xFF);
}

// A canonical 8000 Hz 16-bit mono WAV image around the samples.
std::string WaveImage(const std::string &strSamples) {
    const unsigned nData = static_cast<unsigned>(strSamples.size());
    std::string strImage = "RIFF";
    PutLe(strImage, 36 + nData, 4);
    strImage += "WAVEfmt ";
    PutLe(strImage, 16, 4);
    PutLe(strImage, 1, 2);  // PCM
    PutLe(strImage, 1, 2);  // mono
    PutLe(strImage, 8000, 4);
    PutLe(strImage, 16000, 4);  // bytes per second
    PutLe(strImage, 2, 2);      // block align
    PutLe(strImage, 16, 2);
    strImage += "data";
    PutLe(strImage, nData, 4);
    return strImage + strSamples;
}

void RemoveOldLogs(const std::string &strFolder) {
    WIN32_FIND_DATAA found;
    HANDLE hFind = FindFirstFileA((strFolder + "halvex_*").c_str(), &found);
    if (hFind == INVALID_HANDLE_VALUE) return;
    do {
        DeleteFileA((strFolder + found.cFileName).c_str());
    } while (FindNextFileA(hFind, &found));
    FindClose(hFind);
}

}  // namespace

void LayOutSoakAudio() {
    CEmulatedWave &wave = CEmulatedWave::Instance();
    wave.Reset();
    wave.AddTypicalDevices();
    wave.SetClock(ESimWaveClock::OnDemand);
    wave.SetInputSource(CEmulatedWave::CountingSource());
}

std::string SoakPromptSamples(size_t nIndex, size_t nBytes) {
    std::string strSamples(nBytes, '\0');
    const unsigned nStart = static_cast<unsigned>(nIndex) * 37;
    for (size_t i = 0; i < nBytes; ++i) strSamples[i] = static_cast<char>((nStart + i * 7) % 256);
    return strSamples;
}

void CExportTally::Count(const char *szLogName) {
    EnterCriticalSection(&m_cs);
    ++m_counts[szLogName];
    LeaveCriticalSection(&m_cs);
}

std::map<std::string, long long> CExportTally::Counts() const {
    EnterCriticalSection(&m_cs);
    std::map<std::string, long long> counts = m_counts;
    LeaveCriticalSection(&m_cs);
    return counts;
}

CHandsetSoak::CHandsetSoak(const SSoakOptions &options)
    : m_options(options), m_random(options.nRandomStart), m_hostThreads(*this), m_hWnd(nullptr), m_nCall(0),
      m_bDisturbed(false), m_nUnplugStep(-1), m_nAttaches(0), m_nDetaches(0), m_nUnplugs(0), m_bDialing(false),
      m_messages(), m_nNumbersSent(0), m_nDigitsKeyed(0), m_nDigitsReceived(0), m_nDigitsLost(0),
      m_nDigitsDuplicated(0), m_nDigitsUnplugged(0), m_nLogLines(0), m_nLogFiles(0), m_nLinkLines(0),
      m_nReattachesMeasured(0), m_nReattachSearches(0) {
    InitializeCriticalSection(&m_csDigits);
    InitializeCriticalSection(&m_csNumbers);
    g_pSoak = this;
}

CHandsetSoak::~CHandsetSoak() {
    g_pSoak = nullptr;
    DeleteCriticalSection(&m_csNumbers);
    DeleteCriticalSection(&m_csDigits);
}

LRESULT CALLBACK CHandsetSoak::WindowProc(HWND hWnd, UINT nMessage, WPARAM wParam, LPARAM lParam) {
    SCallMessages &messages = g_pSoak->m_messages;
    switch (nMessage) {
    case D_nMsgRing: ++messages.nRing; return 0;
    case D_nMsgStopDigit: ++messages.nStopDigit; return 0;
    case D_nMsgHangUp: ++messages.nHangUp; return 0;
    case D_nMsgOffHook: ++messages.nOffHook; return 0;
    case D_nMsgNoHandset: ++messages.nNoHandset; return 0;
    case D_nMsgCallerNumber:
        ++messages.nCallerNumber;
        messages.lLastNumberLength = lParam;
        return 0;
    default: return DefWindowProcA(hWnd, nMessage, wParam, lParam);
    }
}

bool CHandsetSoak::MakePrompts() {
    for (size_t nBytes : D_anPromptBytes) {
        const std::string strSamples = SoakPromptSamples(m_prompts.size(), nBytes);
        const std::string strPath = m_strFolder + "soak_prompt_" + std::to_string(nBytes) + ".wav";
        FILE *pFile = fopen(strPath.c_str(), "wb");
        if (!pFile) return false;
        const std::string strImage = WaveImage(strSamples);
        const bool bWritten = fwrite(strImage.data(), 1, strImage.size(), pFile) == strImage.size();
        if (fclose(pFile) != 0 || !bWritten) return false;
        m_prompts.push_back(strPath);
        m_promptSizes.push_back(nBytes);
    }
    return true;
}

bool CHandsetSoak::SetUp() {
    m_strFolder = SoakFolder();
    RemoveOldLogs(m_strFolder);
    if (!MakePrompts()) {
        printf("cannot write the prompts into %s\n", m_strFolder.c_str());
        return false;
    }
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "SoakHostWindow";
    RegisterClassA(&windowClass);
    m_hWnd = CreateWindowExA(0, "SoakHostWindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance,
                             nullptr);
    if (!m_hWnd) {
        printf("cannot create the host window\n");
        return false;
    }
    CEmulatedHid::Instance().Reset();
    CEmulatedHid::Instance().Install();
    LayOutSoakAudio();
    CEmulatedWave::Instance().Install();
    g_Halvex.SetLinePause(D_dwCompressedLinePauseMs);
    Attach();
    return m_checks.Check("handset found after attach", CEmulatedHid::Instance().WaitUntilReading(D_dwConnectTimeoutMs),
                          0);
}

void CHandsetSoak::Attach() {
    PluginAttach();
    ++m_nAttaches;
    m_tally.Count("CT_StartMonitor");
    m_checks.Check("documented export results", CT_StartMonitor(m_hWnd) == 1, m_nCall, "CT_StartMonitor");
    m_tally.Count("CT_SetStopIO");
    m_checks.Check("documented export results", CT_SetStopIO(D_cStopDigit) == 0, m_nCall, "CT_SetStopIO");
}

void CHandsetSoak::Reattach() {
    m_hostThreads.Hold();
    PluginDetach(false, false);
    ++m_nDetaches;
    Attach();
    m_hostThreads.Release();
    m_checks.Check("handset found after attach", CEmulatedHid::Instance().WaitUntilReading(D_dwConnectTimeoutMs),
                   m_nCall);
    m_tally.Count("TV_Initialize");
    m_checks.Check("documented export results", TV_Initialize() == 1, m_nCall, "TV_Initialize with the handset open");
}

void CHandsetSoak::TearDown() {
    PluginDetach(false, false);
    ++m_nDetaches;
    CEmulatedHid::Instance().Uninstall();
    CEmulatedWave::Instance().Uninstall();
    if (m_hWnd) DestroyWindow(m_hWnd);
    for (const std::string &strPrompt : m_prompts) DeleteFileA(strPrompt.c_str());
}

CHandsetSoak::SReading CHandsetSoak::Measure() {
    m_hostThreads.Hold();
    CEmulatedHid::Instance().WaitUntilReading(D_dwConnectTimeoutMs);
    SReading reading = {ReadSoakGauges(), CEmulatedHid::Instance().SearchCount()};
    m_hostThreads.Release();
    return reading;
}

void CHandsetSoak::JudgeGauges(int nWarmUp, const SReading &warm, const SReading &end) {
    const int nSearches = end.nSearches - warm.nSearches - m_nReattachSearches;
    SSoakTolerance tolerance = D_CallTolerance;
    tolerance.an[kHeapBytes] += nSearches * D_llDeskBytesPerSearch;
    tolerance.an[kPrivateBytes] += nSearches * D_llDeskBytesPerSearch;
    PrintGaugeTable(nWarmUp, warm.gauges, end.gauges, m_nReattachesMeasured, "detach+attach", m_reattached, tolerance);
    printf(
        "   (tolerance over the calls includes %d searches for the handset, %lld bytes each kept by the "
        "emulated desk)\n",
        nSearches, D_llDeskBytesPerSearch);
    JudgeGrowth(m_checks, m_options, "zero growth of the gauges",
                GaugesWithin(end.gauges - warm.gauges - m_reattached, tolerance), m_nCall);
    SSoakTolerance allowance;
    for (int i = 0; i < m_nReattachesMeasured; ++i) allowance += D_ReattachAllowance;
    JudgeGrowth(m_checks, m_options, "growth per detach+attach", GaugesWithin(m_reattached, allowance), m_nCall);
}

int CHandsetSoak::DrainDigits(bool bOneCharacter) {
    EnterCriticalSection(&m_csDigits);
    int nResult;
    if (bOneCharacter) {
        m_tally.Count("TV_GetDTMFChar");
        nResult = TV_GetDTMFChar(0);
        if (nResult != -1) m_strReceived += static_cast<char>(nResult);
    } else {
        char acDigits[32];
        m_tally.Count("CT_GetDTMF");
        nResult = CT_GetDTMFStr(acDigits);
        if (nResult > 0 && nResult <= 30) m_strReceived.append(acDigits, nResult);
    }
    LeaveCriticalSection(&m_csDigits);
    const bool bDocumented = bOneCharacter ? (nResult == -1 || (nResult > 0 && nResult < 128))
                                           : (nResult >= 0 && nResult <= 30);
    m_checks.Check("documented export results", bDocumented, m_nCall,
                   (bOneCharacter ? "TV_GetDTMFChar = " : "CT_GetDTMFStr = ") + std::to_string(nResult));
    return nResult;
}

bool CHandsetSoak::IsKnownNumber(const char *szNumber) {
    EnterCriticalSection(&m_csNumbers);
    bool bKnown = false;
    for (const std::string &strNumber : m_astrNumbers) bKnown = bKnown || (strNumber == szNumber && !strNumber.empty());
    LeaveCriticalSection(&m_csNumbers);
    return bKnown;
}

int CHandsetSoak::Run() {
    SoakSeconds();
    printf("== soak: the handset plug-in over the emulated handset, %d calls (random start %u)\n", m_options.nCalls,
           m_options.nRandomStart);
    fflush(stdout);
    if (!SetUp()) return 1;
    m_hostThreads.Start(m_options.nRandomStart);
    const int nWarmUp = m_options.WarmUpCalls();
    SReading warm;
    for (m_nCall = 1; m_nCall <= m_options.nCalls; ++m_nCall) {
        // A detach and attach after the warm-up is measured from the quiet
        // moment after the call before it to the one after the call behind it.
        const bool bReattach = m_options.nReattachEvery && m_nCall > 1 && (m_nCall - 1) % m_options.nReattachEvery == 0;
        const bool bMeasureReattach = bReattach && m_nCall > nWarmUp;
        SReading before;
        if (bMeasureReattach) before = Measure();
        if (bReattach) Reattach();
        m_bDisturbed = m_options.nUnplugEvery && m_nCall % m_options.nUnplugEvery == 0;
        RunCall();
        if (bMeasureReattach) {
            const SReading after = Measure();
            m_reattached += after.gauges - before.gauges;
            m_nReattachSearches += after.nSearches - before.nSearches;
            ++m_nReattachesMeasured;
        }
        if (m_nCall == nWarmUp) warm = Measure();
        PrintSoakProgress(m_nCall);
    }
    m_nCall = m_options.nCalls;
    const SReading end = Measure();
    m_hostThreads.Stop();
    TearDown();
    const double dSeconds = SoakSeconds();
    CheckLogFiles();
    JudgeGauges(nWarmUp, warm, end);
    return Report(dSeconds);
}

int CHandsetSoak::Report(double dSeconds) {
    static const SSoakCheckRow s_aRows[] = {
        {"handset found after attach", "handset found after attach and after each unplug"},
        {"notifications", "notifications of each call (1124 1125 1126 1127 1133)"},
        {"caller number at CT_GetANI", "caller number reaches CT_GetANI"},
        {"digits in order", "digits of each call arrive once and in order"},
        {"prompt reaches the device", "prompt's samples reach the device whole"},
        {"recording holds the capture", "recorded file holds exactly the bytes captured"},
        {"command lines whole", "command lines on the wire whole and in order"},
        {"audio closed after the call", "audio devices closed after each call"},
        {"documented export results", "exports return a documented result"},
        {"log lines whole", "log lines whole"},
        {"log lines per export", "log lines per export equal to its calls"},
        {"zero growth of the gauges", "zero growth over the calls (within tolerance)"},
        {"growth per detach+attach", "detach+attach within Wine's TerminateThread keep"},
    };
    PrintCheckRows(m_checks, s_aRows, sizeof s_aRows / sizeof s_aRows[0]);
    printf(
        "   digits keyed %lld, received %lld, lost %lld, duplicated %lld; typed around unplugs and lost "
        "there %lld\n",
        m_nDigitsKeyed, m_nDigitsReceived, m_nDigitsLost, m_nDigitsDuplicated, m_nDigitsUnplugged);
    printf(
        "   unplugs %d, detach+attach %d, host-thread export calls %lld, log lines %lld in %lld files "
        "(%lld from the link)\n",
        m_nUnplugs, m_nDetaches - 1, m_hostThreads.Calls(), m_nLogLines, m_nLogFiles, m_nLinkLines);
    return PrintVerdict(m_checks, m_options.nCalls, dSeconds);
}
