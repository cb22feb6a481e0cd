// CConsole: see Console.h.
#include "Console.h"

#include <cstdarg>
#include <cstdio>
#include <istream>
#include <sstream>

namespace {
const char D_szWindowClass[] = "TvConsoleNotifications";
const UINT D_uFirstNotification = WM_USER + 100;
const UINT D_uLastNotification = WM_USER + 110;

ConsoleArgs SplitWords(const std::string &strLine) {
    ConsoleArgs vWords;
    std::istringstream in(strLine);
    std::string strWord;
    while (in >> strWord) vWords.push_back(strWord);
    return vWords;
}

// A line whose first word starts with '#' is a comment; a '#' later in the
// line is an argument (the usual stop digit, part of a dial string).
std::string StripComment(const std::string &strLine) {
    size_t nFirst = strLine.find_first_not_of(" \t");
    return nFirst != std::string::npos && strLine[nFirst] == '#' ? std::string() : strLine;
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

bool ParseFlag(const std::string &strWord, int &nFlag) {
    if (strWord == "on" || strWord == "open") {
        nFlag = 1;
    } else if (strWord == "off" || strWord == "close") {
        nFlag = 0;
    } else {
        char *pEnd = nullptr;
        long lValue = strtol(strWord.c_str(), &pEnd, 0);
        if (pEnd == strWord.c_str() || *pEnd) return false;
        nFlag = static_cast<int>(lValue);
    }
    return true;
}

CConsole::CConsole() : m_hWnd(nullptr) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = D_szWindowClass;
    RegisterClassA(&wc);
    // A message-only window: the plug-in posts to it like to any host window,
    // and it needs no desktop.
    m_hWnd = CreateWindowExA(0, D_szWindowClass, "tvconsole", 0, 0, 0, 0, 0, HWND_MESSAGE,
                             nullptr, wc.hInstance, nullptr);
    AddBuiltins();
}

CConsole::~CConsole() {
    if (m_hWnd) DestroyWindow(m_hWnd);
}

void CConsole::Say(const char *szFormat, ...) {
    va_list args;
    va_start(args, szFormat);
    vprintf(szFormat, args);
    va_end(args);
    fputc('\n', stdout);
    fflush(stdout);
}

void CConsole::Result(const std::string &strCall, long lResult) {
    Say("  %s = %ld", strCall.c_str(), lResult);
}

LRESULT CALLBACK CConsole::WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (uMsg < D_uFirstNotification || uMsg > D_uLastNotification)
        return DefWindowProcA(hWnd, uMsg, wParam, lParam);
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
    DWORD dwStart = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (fnDone()) return true;
        DWORD dwElapsed = GetTickCount() - dwStart;
        if (dwElapsed >= dwMilliseconds) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, dwMilliseconds - dwElapsed < 20 ? dwMilliseconds - dwElapsed : 20,
                                  QS_ALLINPUT);
    }
}

void CConsole::Add(ConsoleCommand command) {
    m_vCommands.push_back(std::move(command));
}

const ConsoleCommand *CConsole::Find(const std::string &strName) const {
    for (const ConsoleCommand &command : m_vCommands)
        if (command.strName == strName) return &command;
    return nullptr;
}

void CConsole::AddBuiltins() {
    Add({"wait", "MILLISECONDS", 1, [this](const ConsoleArgs &a) {
             Pump(static_cast<DWORD>(strtoul(a[0].c_str(), nullptr, 10)));
             return true;
         }});
    Add({"echo", "TEXT...", 0, [](const ConsoleArgs &a) {
             std::string strText;
             for (const std::string &strWord : a) strText += (strText.empty() ? "" : " ") + strWord;
             Say("%s", strText.c_str());
             return true;
         }});
    Add({"help", "", 0, [this](const ConsoleArgs &) {
             for (const ConsoleCommand &command : m_vCommands)
                 Say("  %s %s", command.strName.c_str(), command.strUsage.c_str());
             return true;
         }});
}

bool CConsole::RunLine(const std::string &strLine) {
    ConsoleArgs vWords = SplitWords(StripComment(strLine));
    if (vWords.empty()) return true;
    const ConsoleCommand *pCommand = Find(vWords[0]);
    if (!pCommand) {
        Say("  unknown command '%s' (try help)", vWords[0].c_str());
        return false;
    }
    ConsoleArgs vArgs(vWords.begin() + 1, vWords.end());
    if (vArgs.size() < pCommand->nMinArgs) {
        Say("  usage: %s %s", pCommand->strName.c_str(), pCommand->strUsage.c_str());
        return false;
    }
    bool bOk = pCommand->fnRun(vArgs);
    // Whatever the plug-in posted while the export ran is shown before the next command.
    Pump(0);
    return bOk;
}

int CConsole::RunScript(std::istream &input, bool bEcho) {
    int nFailed = 0;
    std::string strLine;
    while (std::getline(input, strLine)) {
        if (!strLine.empty() && strLine.back() == '\r') strLine.pop_back();
        // An echo line speaks for itself in the transcript.
        ConsoleArgs vWords = SplitWords(StripComment(strLine));
        if (bEcho && !vWords.empty() && vWords[0] != "echo") Say("> %s", strLine.c_str());
        if (!RunLine(strLine)) ++nFailed;
    }
    Pump(0);
    return nFailed;
}
