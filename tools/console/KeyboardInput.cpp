// Keyboard mode: see KeyboardInput.h.
//
// Threads: the console thread runs the loop and owns the console input.
// The pipe reader thread (piped input only) blocks in ReadFile and hands
// complete lines over through a queue under a critical section, signalling a
// manual-reset event while the queue holds lines or the input has ended. Its
// state is shared by reference count: the reader may still be blocked in
// ReadFile when the console ends, and then the process's end stops it.
#include "KeyboardInput.h"

#include <windows.h>

#include <deque>
#include <memory>

#include "ScriptText.h"

namespace {

// Bounds each wait, so that a Ctrl+C is noticed even with no input at all.
const DWORD D_dwInputSliceMs = 500;

class CLineSource {
public:
    virtual ~CLineSource() {}
    virtual HANDLE WaitHandle() const = 0;
    // Takes what input is ready; true with a complete line.
    virtual bool TakeLine(std::string &strLine) = 0;
    virtual bool Ended() const = 0;
    // True when the input could not be read as commands at all.
    virtual bool Unreadable() const { return false; }
    // Shows that a new line is awaited.
    virtual void Prompt() = 0;
};

// The console's own input, edited here in raw mode.
class CConsoleSource : public CLineSource {
public:
    CConsoleSource(HANDLE hInput, const std::string &strPrompt, DWORD dwOldMode)
        : m_hInput(hInput), m_strPrompt(strPrompt), m_dwOldMode(dwOldMode) {
        // Processed input keeps Ctrl+C a signal; no line input, no echo.
        SetConsoleMode(m_hInput, ENABLE_PROCESSED_INPUT);
    }
    ~CConsoleSource() override {
        CConsole::ShowPromptLine("");
        SetConsoleMode(m_hInput, m_dwOldMode);
    }
    HANDLE WaitHandle() const override { return m_hInput; }
    bool Ended() const override { return false; }
    void Prompt() override { CConsole::ShowPromptLine(m_strPrompt + Typed()); }

    bool TakeLine(std::string &strLine) override {
        DWORD dwEvents = 0;
        while (GetNumberOfConsoleInputEvents(m_hInput, &dwEvents) && dwEvents > 0) {
            INPUT_RECORD record;
            DWORD dwRead = 0;
            // One record at a time: what follows an Enter belongs to the next line.
            if (!ReadConsoleInputW(m_hInput, &record, 1, &dwRead) || dwRead == 0) break;
            if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
            const KEY_EVENT_RECORD &key = record.Event.KeyEvent;
            if (key.wVirtualKeyCode == VK_RETURN) {
                strLine = Typed();
                m_strTyped.clear();
                CConsole::ShowPromptLine("");
                CConsole::Say("%s%s", m_strPrompt.c_str(), strLine.c_str());
                return true;
            }
            for (WORD i = 0; i < key.wRepeatCount; ++i) Edit(key);
            Prompt();
        }
        return false;
    }

private:
    void Edit(const KEY_EVENT_RECORD &key) {
        if (key.wVirtualKeyCode == VK_BACK) {
            if (!m_strTyped.empty()) m_strTyped.pop_back();
        } else if (key.wVirtualKeyCode == VK_ESCAPE) {
            m_strTyped.clear();
        } else if (key.uChar.UnicodeChar >= L' ') {
            m_strTyped += key.uChar.UnicodeChar;
        }
    }
    // The typed text in the ANSI code page, as the plug-ins take strings.
    std::string Typed() const {
        if (m_strTyped.empty()) return std::string();
        int nBytes = WideCharToMultiByte(CP_ACP, 0, m_strTyped.data(), static_cast<int>(m_strTyped.size()), nullptr, 0,
                                         nullptr, nullptr);
        std::string strText(static_cast<size_t>(nBytes > 0 ? nBytes : 0), '\0');
        if (nBytes > 0)
            WideCharToMultiByte(CP_ACP, 0, m_strTyped.data(), static_cast<int>(m_strTyped.size()), &strText[0], nBytes,
                                nullptr, nullptr);
        return strText;
    }

    HANDLE m_hInput;
    std::string m_strPrompt;
    DWORD m_dwOldMode;
    std::wstring m_strTyped;
};

// What the pipe reader thread and the console thread share.
struct CPipeLines {
    CRITICAL_SECTION cs;
    HANDLE hReady;  // manual-reset: lines queued, or the input ended
    std::deque<std::string> dqLines;
    bool bEnded = false;
    bool bUnreadable = false;
    CPipeLines() : hReady(CreateEventA(nullptr, TRUE, FALSE, nullptr)) { InitializeCriticalSection(&cs); }
    ~CPipeLines() {
        CloseHandle(hReady);
        DeleteCriticalSection(&cs);
    }
    void Push(std::string strLine, bool bEnd) {
        EnterCriticalSection(&cs);
        if (!strLine.empty() || !bEnd) dqLines.push_back(std::move(strLine));
        bEnded = bEnded || bEnd;
        SetEvent(hReady);
        LeaveCriticalSection(&cs);
    }
};

// Reads standard input to its end; lines as in a script file (CR LF or LF,
// a UTF-8 byte-order mark honoured).
DWORD WINAPI ReadPipeLines(LPVOID pvShared) {
    std::unique_ptr<std::shared_ptr<CPipeLines>> ppShared(static_cast<std::shared_ptr<CPipeLines> *>(pvShared));
    CPipeLines &shared = **ppShared;
    HANDLE hInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string strPending;
    bool bFirst = true, bUtf8 = false;
    char acBuffer[4096];
    DWORD dwRead = 0;
    while (ReadFile(hInput, acBuffer, sizeof acBuffer, &dwRead, nullptr) && dwRead > 0) {
        strPending.append(acBuffer, dwRead);
        if (bFirst && strPending.size() >= 3) {
            bFirst = false;
            if (strPending[0] == '\xFF' || strPending[0] == '\xFE') {
                CConsole::Say(
                    "standard input is UTF-16 text: pipe ANSI or UTF-8 text, or give the script "
                    "file as an argument");
                shared.bUnreadable = true;
                shared.Push("", true);
                return 1;
            }
            bUtf8 = strPending.compare(0, 3, "\xEF\xBB\xBF") == 0;
            if (bUtf8) strPending.erase(0, 3);
        }
        size_t nEnd;
        while ((nEnd = strPending.find('\n')) != std::string::npos) {
            std::string strLine = strPending.substr(0, nEnd), strAnsi;
            strPending.erase(0, nEnd + 1);
            if (!strLine.empty() && strLine.back() == '\r') strLine.pop_back();
            shared.Push(bUtf8 && Utf8ToAnsi(strLine, strAnsi) ? strAnsi : strLine, false);
        }
    }
    shared.Push(strPending, true);
    return 0;
}

class CPipeSource : public CLineSource {
public:
    explicit CPipeSource(const std::string &strPrompt)
        : m_pShared(std::make_shared<CPipeLines>()), m_strPrompt(strPrompt) {
        auto *ppShared = new std::shared_ptr<CPipeLines>(m_pShared);
        HANDLE hThread = CreateThread(nullptr, 0, ReadPipeLines, ppShared, 0, nullptr);
        if (hThread) {
            CloseHandle(hThread);
        } else {
            delete ppShared;
            m_pShared->Push("", true);
        }
    }
    HANDLE WaitHandle() const override { return m_pShared->hReady; }
    void Prompt() override {}

    bool TakeLine(std::string &strLine) override {
        CPipeLines &shared = *m_pShared;
        EnterCriticalSection(&shared.cs);
        bool bTaken = !shared.dqLines.empty();
        if (bTaken) {
            strLine = shared.dqLines.front();
            shared.dqLines.pop_front();
        }
        if (shared.dqLines.empty() && !shared.bEnded) ResetEvent(shared.hReady);
        LeaveCriticalSection(&shared.cs);
        // Piped lines are not echoed by anyone else: the transcript shows them.
        if (bTaken) CConsole::Say("%s%s", m_strPrompt.c_str(), strLine.c_str());
        return bTaken;
    }

    bool Ended() const override {
        EnterCriticalSection(&m_pShared->cs);
        bool bEnded = m_pShared->bEnded && m_pShared->dqLines.empty();
        LeaveCriticalSection(&m_pShared->cs);
        return bEnded;
    }
    bool Unreadable() const override { return Ended() && m_pShared->bUnreadable; }

private:
    std::shared_ptr<CPipeLines> m_pShared;
    std::string m_strPrompt;
};

}  // namespace

void RunKeyboard(CConsole &console, const std::string &strPrompt) {
    HANDLE hInput = GetStdHandle(STD_INPUT_HANDLE);
    DWORD dwMode = 0;
    std::unique_ptr<CLineSource> pSource;
    if (GetConsoleMode(hInput, &dwMode))
        pSource.reset(new CConsoleSource(hInput, strPrompt, dwMode));
    else
        pSource.reset(new CPipeSource(strPrompt));
    pSource->Prompt();
    while (!console.QuitRequested()) {
        std::string strLine;
        if (pSource->TakeLine(strLine)) {
            console.RunLine(strLine);
            pSource->Prompt();
            continue;
        }
        if (pSource->Ended()) {
            if (pSource->Unreadable()) console.CountFailure();
            break;
        }
        HANDLE hWait = pSource->WaitHandle();
        if (MsgWaitForMultipleObjects(1, &hWait, FALSE, D_dwInputSliceMs, QS_ALLINPUT) == WAIT_OBJECT_0 + 1)
            console.Pump(0);
    }
}
