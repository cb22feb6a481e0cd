// CConsole: see Console.h. The built-in commands are in ConsoleBuiltins.cpp.
#include "Console.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "stopwatch.h"

namespace {
const char D_szWindowClass[] = "TvConsoleNotifications";
const UINT D_uFirstNotification = WM_USER + 100;
const UINT D_uLastNotification = WM_USER + 110;
const DWORD D_dwShowTimeFromMs = 10;

// Set by the Ctrl+C handler, which runs on a thread of its own; the window
// is poked so that a pump waiting for messages notices at once.
std::atomic<bool> g_bCtrlC(false);
std::atomic<HWND> g_hCtrlCWindow(nullptr);
// "notifications off": the window procedure counts instead of printing (it
// runs on the console's thread, but the count is read by the command).
std::atomic<bool> g_bNotificationsShown(true);
std::atomic<long> g_lNotificationsHidden(0);

// Whole lines from any thread, with the keyboard prompt kept below them.
struct COutput {
    CRITICAL_SECTION cs;
    std::string strPromptLine;
    COutput() { InitializeCriticalSection(&cs); }
};
COutput &Output() {
    static COutput s_Output;
    return s_Output;
}

// Blanks the prompt line (nWidth characters) so that the next text starts on
// a clean line.
void ErasePromptLine(size_t nWidth) {
    if (nWidth == 0) return;
    fputc('\r', stdout);
    fputs(std::string(nWidth, ' ').c_str(), stdout);
    fputc('\r', stdout);
}

std::string Format(const char *szFormat, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int nLength = vsnprintf(nullptr, 0, szFormat, copy);
    va_end(copy);
    std::string strText(nLength > 0 ? static_cast<size_t>(nLength) : 0, '\0');
    if (nLength > 0) vsnprintf(&strText[0], strText.size() + 1, szFormat, args);
    return strText;
}

// Words split at blanks; "a b" in double quotes is one word (a path with
// blanks). An unclosed quote makes the line unusable.
bool SplitWords(const std::string &strLine, ConsoleArgs &vWords) {
    size_t i = 0;
    while (i < strLine.size()) {
        if (strLine[i] == ' ' || strLine[i] == '\t') {
            ++i;
        } else if (strLine[i] == '"') {
            size_t nClose = strLine.find('"', i + 1);
            if (nClose == std::string::npos) return false;
            vWords.push_back(strLine.substr(i + 1, nClose - i - 1));
            i = nClose + 1;
        } else {
            size_t nEnd = strLine.find_first_of(" \t", i);
            if (nEnd == std::string::npos) nEnd = strLine.size();
            vWords.push_back(strLine.substr(i, nEnd - i));
            i = nEnd;
        }
    }
    return true;
}

// A line whose first word starts with '#' is a comment; a '#' later in the
// line is an argument (the usual stop digit, part of a dial string).
bool IsComment(const std::string &strLine) {
    size_t nFirst = strLine.find_first_not_of(" \t");
    return nFirst != std::string::npos && strLine[nFirst] == '#';
}

std::string ArgumentCount(size_t nCount) { return std::to_string(nCount) + (nCount == 1 ? " argument" : " arguments"); }

BOOL WINAPI OnCtrlC(DWORD dwEvent) {
    if (dwEvent != CTRL_C_EVENT && dwEvent != CTRL_BREAK_EVENT) return FALSE;
    g_bCtrlC = true;
    if (HWND hWnd = g_hCtrlCWindow.load()) PostMessageA(hWnd, WM_NULL, 0, 0);
    return TRUE;
}
}  // namespace

const char *NotificationName(UINT uMsg) {
    switch (uMsg - WM_USER) {
    case 100: return "ring";
    case 101: return "stop digit";
    case 102: return "hang-up";
    case 103: return "off-hook";
    case 109: return "caller number";
    case 110: return "no handset";
    default: return "unknown";
    }
}

bool ParseNumber(const std::string &strWord, unsigned long ulMax, unsigned long &ulValue) {
    if (strWord.empty() || strWord.size() > 10 || strWord.find_first_not_of("0123456789") != std::string::npos)
        return false;
    unsigned long long ullValue = strtoull(strWord.c_str(), nullptr, 10);
    if (ullValue > ulMax) return false;
    ulValue = static_cast<unsigned long>(ullValue);
    return true;
}

bool ParseFlag(const std::string &strWord, int &nFlag) {
    if (strWord == "on" || strWord == "open") {
        nFlag = 1;
        return true;
    }
    if (strWord == "off" || strWord == "close") {
        nFlag = 0;
        return true;
    }
    // Any 32-bit number, as a host may pass (256 counts as off).
    char *pEnd = nullptr;
    long lValue = strtol(strWord.c_str(), &pEnd, 0);
    if (strWord.empty() || *pEnd) return false;
    nFlag = static_cast<int>(lValue);
    return true;
}

CConsole::CConsole()
    : m_nBuiltins(0), m_hWnd(nullptr), m_pMeanings(nullptr), m_bStrict(false), m_bQuit(false), m_nFailed(0),
      m_lLastResult(0) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = D_szWindowClass;
    RegisterClassA(&wc);
    // A message-only window: the plug-in posts to it like to any host window,
    // and it needs no desktop.
    m_hWnd = CreateWindowExA(0, D_szWindowClass, "tvconsole", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                             nullptr);
    g_hCtrlCWindow = m_hWnd;
    AddBuiltins();
}

CConsole::~CConsole() {
    g_hCtrlCWindow = nullptr;
    if (m_hWnd) DestroyWindow(m_hWnd);
}

void CConsole::Say(const char *szFormat, ...) {
    va_list args;
    va_start(args, szFormat);
    std::string strText = Format(szFormat, args);
    va_end(args);
    COutput &out = Output();
    EnterCriticalSection(&out.cs);
    ErasePromptLine(out.strPromptLine.size());
    fputs(strText.c_str(), stdout);
    fputc('\n', stdout);
    fputs(out.strPromptLine.c_str(), stdout);
    fflush(stdout);
    LeaveCriticalSection(&out.cs);
}

void CConsole::ShowPromptLine(const std::string &strLine) {
    COutput &out = Output();
    EnterCriticalSection(&out.cs);
    ErasePromptLine(std::max(out.strPromptLine.size(), strLine.size()));
    out.strPromptLine = strLine;
    fputs(strLine.c_str(), stdout);
    fflush(stdout);
    LeaveCriticalSection(&out.cs);
}

bool CConsole::BadArgument(const std::string &strCommand, const std::string &strWord, const char *szWhy) {
    Say("  %s: '%s' %s", strCommand.c_str(), strWord.c_str(), szWhy);
    return false;
}

void CConsole::QuitOnCtrlC() { SetConsoleCtrlHandler(OnCtrlC, TRUE); }

bool CConsole::QuitRequested() const { return m_bQuit || g_bCtrlC.load(); }

LRESULT CALLBACK CConsole::WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (uMsg < D_uFirstNotification || uMsg > D_uLastNotification) return DefWindowProcA(hWnd, uMsg, wParam, lParam);
    if (!g_bNotificationsShown) {
        ++g_lNotificationsHidden;
        return 0;
    }
    if (uMsg == WM_USER + 109) {
        // The number lives in the plug-in's buffer only until its next line:
        // copy it now, bounded by the length the message carries.
        char szNumber[33] = {};
        size_t nLength = static_cast<size_t>(lParam) < 32 ? static_cast<size_t>(lParam) : 32;
        if (wParam) memcpy(szNumber, reinterpret_cast<const char *>(wParam), nLength);
        Say("  <- %u %s %s", uMsg, NotificationName(uMsg), szNumber);
    } else {
        Say("  <- %u %s", uMsg, NotificationName(uMsg));
    }
    return 0;
}

void CConsole::Pump(DWORD dwMilliseconds) {
    PumpUntil([] { return false; }, dwMilliseconds);
}

bool CConsole::PumpUntil(const std::function<bool()> &fnDone, DWORD dwMilliseconds) {
    const DWORD dwSliceMs = 20;
    const CStopwatch sinceStart;
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (fnDone()) return true;
        const DWORD dwElapsed = sinceStart.ElapsedMs();
        if (dwElapsed >= dwMilliseconds || QuitRequested()) return false;
        // Woken by a message at once; the slice bounds the checks of fnDone.
        DWORD dwLeft = dwMilliseconds - dwElapsed;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, dwLeft < dwSliceMs ? dwLeft : dwSliceMs, QS_ALLINPUT);
    }
}

void CConsole::Add(ConsoleCommand command) { m_vCommands.push_back(std::move(command)); }

const ConsoleCommand *CConsole::Find(const std::string &strName) const {
    for (const ConsoleCommand &command : m_vCommands)
        if (command.strName == strName) return &command;
    return nullptr;
}

bool CConsole::CallExport(const char *szExport, const std::function<bool(ExportCall &)> &fnCall) {
    ExportCall call;
    const CStopwatch sinceStart;
    if (!fnCall(call)) return false;
    const DWORD dwElapsed = sinceStart.ElapsedMs();
    std::string strCall = std::string(szExport) + "(" + call.strArgs + ")";
    const ResultMeaning *pMeaning = FindMeaning(m_pMeanings, szExport, call.lResult);
    std::string strShown = "  " + strCall + " = " + std::to_string(call.lResult) + " (" +
                           (pMeaning ? pMeaning->szMeaning : "a result this console does not know") + ")";
    if (dwElapsed >= D_dwShowTimeFromMs) strShown += " after " + std::to_string(dwElapsed) + " ms";
    Say("%s", strShown.c_str());
    if (!call.strDetail.empty()) Say("  %s", call.strDetail.c_str());
    m_strLastCall = strCall;
    m_lLastResult = call.lResult;
    if (m_bStrict && (!pMeaning || pMeaning->bFailure)) {
        Say("  strict: %s failed", szExport);
        return false;
    }
    return true;
}

bool CConsole::RunLine(const std::string &strLine) {
    ConsoleArgs vWords;
    bool bOk = true;
    if (IsComment(strLine)) return true;
    if (!SplitWords(strLine, vWords)) {
        Say("  a double quote is not closed: put the quoted text between two \" marks");
        bOk = false;
    } else if (vWords.empty()) {
        return true;
    } else if (const ConsoleCommand *pCommand = Find(vWords[0])) {
        ConsoleArgs vArgs(vWords.begin() + 1, vWords.end());
        std::string strUsage = pCommand->strName + (pCommand->strUsage.empty() ? "" : " " + pCommand->strUsage);
        if (vArgs.size() < pCommand->nMinArgs || vArgs.size() > pCommand->nMaxArgs) {
            std::string strWanted = pCommand->nMinArgs == pCommand->nMaxArgs ? ArgumentCount(pCommand->nMinArgs)
                                    : pCommand->nMaxArgs == static_cast<size_t>(-1)
                                        ? "at least " + ArgumentCount(pCommand->nMinArgs)
                                        : std::to_string(pCommand->nMinArgs) + " to " +
                                              ArgumentCount(pCommand->nMaxArgs);
            Say("  %s: takes %s, got %u (usage: %s)", pCommand->strName.c_str(), strWanted.c_str(),
                static_cast<unsigned>(vArgs.size()), strUsage.c_str());
            bOk = false;
        } else {
            bOk = pCommand->fnRun(vArgs);
        }
    } else {
        Say("  unknown command '%s' (help lists the commands)", vWords[0].c_str());
        bOk = false;
    }
    // Whatever the plug-in posted while the export ran is shown before the next command.
    Pump(0);
    if (!bOk) ++m_nFailed;
    return bOk;
}

int CConsole::RunScript(const std::vector<std::string> &vLines) {
    for (size_t nLine = 1; nLine <= vLines.size(); ++nLine) {
        const std::string &strLine = vLines[nLine - 1];
        if (QuitRequested()) break;
        // An echo line speaks for itself in the transcript.
        ConsoleArgs vWords;
        bool bSplit = SplitWords(strLine, vWords);
        bool bBlank = bSplit && vWords.empty();
        if (!IsComment(strLine) && !bBlank && !(bSplit && vWords[0] == "echo")) Say("> %s", strLine.c_str());
        // The line number is what an engineer needs to find the line in
        // the file: comments and blank lines count, as an editor counts.
        if (!RunLine(strLine)) {
            Say("  ^ script line %u failed", static_cast<unsigned>(nLine));
            m_vFailedLines.push_back(nLine);
        }
    }
    Pump(0);
    return m_nFailed;
}

std::string CConsole::FailedScriptLines() const {
    std::string strLines;
    for (size_t nLine : m_vFailedLines) strLines += (strLines.empty() ? "" : ", ") + std::to_string(nLine);
    return strLines;
}

bool CConsole::ShowNotifications(bool bShown) {
    g_bNotificationsShown = bShown;
    long lHidden = g_lNotificationsHidden.exchange(0);
    if (bShown && lHidden) Say("  %ld notification(s) arrived while they were off", lHidden);
    return true;
}
