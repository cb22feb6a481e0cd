// CConsole: the host console's command loop, shared by the console that loads
// a plug-in DLL and by the demo host that links the handset plug-in with its
// emulated devices.
//
// Commands run on the console's one thread: a command calls an export, which
// may block (the SIP plug-in waits for its library's events), then the
// console pumps its message-only window so that the notifications the handset
// plug-in posted meanwhile are printed in the order they arrived. Output may
// also come from other threads (the SIP library's thread plays the tones the
// console traces), so Say prints whole lines under a lock, and keeps the
// keyboard prompt with what has been typed below the newest line.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "ResultMeanings.h"

using ConsoleArgs = std::vector<std::string>;

struct ConsoleCommand {
    std::string strName;
    std::string strUsage;  // argument names, shown by "help"
    std::string strHelp;   // what the command does, shown by "help"
    size_t nMinArgs;
    size_t nMaxArgs;
    // Runs the command; returns false when the command failed (it says why),
    // which makes the console's exit code 1.
    std::function<bool(const ConsoleArgs &)> fnRun;
};

// One export call as a command made it: the arguments as the transcript
// shows them, the result, and a line of detail printed under the result
// (what a buffer received), if any.
struct ExportCall {
    std::string strArgs;
    long lResult = 0;
    std::string strDetail;
};

class CConsole {
public:
    CConsole();
    ~CConsole();

    void Add(ConsoleCommand command);
    // The meanings the results of the loaded plug-in's exports are shown with.
    void SetMeanings(const ResultMeaning *pMeanings) { m_pMeanings = pMeanings; }
    // In strict mode an export's failure result fails its command.
    void SetStrict(bool bStrict) { m_bStrict = bStrict; }

    // Runs the lines of a script, each echoed behind "> "; '#' starts a
    // comment. Returns the number of lines that failed.
    int RunScript(const std::vector<std::string> &vLines);
    bool RunLine(const std::string &strLine);
    // Set by quit/exit and by Ctrl+C: no further line runs.
    bool QuitRequested() const;
    int FailedLines() const { return m_nFailed; }
    // The script's line numbers (from 1) of the lines that failed, "3, 7".
    std::string FailedScriptLines() const;
    // "notifications off" keeps the handset's notification lines (one 1134
    // every 2.2 s without a handset) out of the way; "on" shows them again
    // and says how many arrived meanwhile.
    static bool ShowNotifications(bool bShown);
    void CountFailure() { ++m_nFailed; }

    // Calls an export through fnCall (false: an argument was unusable and
    // fnCall said why) and prints "  NAME(ARGS) = RESULT (MEANING)", with the
    // time it blocked when that was 10 ms or more. False when the call did
    // not happen, or in strict mode when the result means failure.
    bool CallExport(const char *szExport, const std::function<bool(ExportCall &)> &fnCall);

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
    // "  COMMAND: 'WORD' DOES_NOT" for a word a command cannot use.
    static bool BadArgument(const std::string &strCommand, const std::string &strWord, const char *szWhy);
    // The prompt and the text typed after it, kept below the newest output
    // line while the keyboard is read; empty when nothing is being typed.
    static void ShowPromptLine(const std::string &strLine);
    // Makes a Ctrl+C or Ctrl+Break end the console after the current command.
    static void QuitOnCtrlC();

private:
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    void AddBuiltins();
    bool Expect(const ConsoleArgs &vArgs);
    const ConsoleCommand *Find(const std::string &strName) const;

    std::vector<ConsoleCommand> m_vCommands;
    size_t m_nBuiltins;
    HWND m_hWnd;
    const ResultMeaning *m_pMeanings;
    bool m_bStrict;
    bool m_bQuit;
    int m_nFailed;
    std::vector<size_t> m_vFailedLines;
    std::string m_strLastCall;  // for expect: the last export call and its result
    long m_lLastResult;
};

// The text in double quotes, as transcripts show string arguments.
inline std::string Quoted(const std::string &strText) { return "\"" + strText + "\""; }
// Parses "on"/"off"/"1"/"0" (or any number) into the flag value the plug-ins take.
bool ParseFlag(const std::string &strWord, int &nFlag);
// Parses a whole decimal number from 0 to nMax.
bool ParseNumber(const std::string &strWord, unsigned long ulMax, unsigned long &ulValue);
// The console's names for the handset plug-in's notifications (1124 to 1134).
const char *NotificationName(UINT uMsg);
