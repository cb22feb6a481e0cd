// CConsole: the host console's command loop, shared by the console that loads
// a plug-in DLL and by the demo host that links the handset plug-in with its
// emulated devices.
//
// Everything runs on the console's one thread: a command calls an export,
// which may block (the SIP plug-in waits for its library's events), then the
// console pumps its message-only window so that the notifications the handset
// plug-in posted meanwhile are printed in the order they arrived.
#pragma once

#include <windows.h>

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

using ConsoleArgs = std::vector<std::string>;

struct ConsoleCommand {
    std::string strName;
    std::string strUsage;     // argument names, shown by "help"
    size_t nMinArgs;
    // Runs the command; returns false when the command itself failed (an
    // unusable argument), which makes the script's exit code non-zero.
    std::function<bool(const ConsoleArgs &)> fnRun;
};

class CConsole {
public:
    CConsole();
    ~CConsole();

    void Add(ConsoleCommand command);
    // Runs one command per line; '#' starts a comment. Returns the number of
    // lines that failed (unknown command, missing arguments, failed command).
    int RunScript(std::istream &input, bool bEcho);
    bool RunLine(const std::string &strLine);

    // The window that receives the handset plug-in's notifications.
    HWND Window() const { return m_hWnd; }
    // Handles every message that arrives within dwMilliseconds.
    void Pump(DWORD dwMilliseconds);
    // Pumps until fnDone answers true or dwMilliseconds pass; true when done.
    bool PumpUntil(const std::function<bool()> &fnDone, DWORD dwMilliseconds);

    static void Say(const char *szFormat, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 1, 2)))
#endif
        ;
    // Prints "  NAME(ARGS) = RESULT" for an export call.
    static void Result(const std::string &strCall, long lResult);

private:
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    void AddBuiltins();
    const ConsoleCommand *Find(const std::string &strName) const;

    std::vector<ConsoleCommand> m_vCommands;
    HWND m_hWnd;
};

// The text in double quotes, as transcripts show string arguments.
inline std::string Quoted(const std::string &strText) { return "\"" + strText + "\""; }
// Parses "on"/"off"/"1"/"0" into the flag value the plug-ins take.
bool ParseFlag(const std::string &strWord, int &nFlag);
// The console's names for the handset plug-in's notifications (1124 to 1134).
const char *NotificationName(UINT uMsg);
