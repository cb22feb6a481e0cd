// The console's own commands, whichever plug-in is loaded: wait, echo, help,
// expect, strict, notifications, quit and exit.
#include "Console.h"

#include <algorithm>

namespace {
const unsigned long D_ulMaxWaitMs = 3600000;
const size_t D_nAnyCount = static_cast<size_t>(-1);

std::string Joined(const ConsoleArgs &vWords) {
    std::string strText;
    for (const std::string &strWord : vWords) strText += (strText.empty() ? "" : " ") + strWord;
    return strText;
}

void ShowCommand(const ConsoleCommand &command) {
    std::string strLeft = command.strName + (command.strUsage.empty() ? "" : " " + command.strUsage);
    CConsole::Say("  %-36s %s", strLeft.c_str(), command.strHelp.c_str());
}

// One group of help, its commands in alphabetical order: a list of 30 and
// more commands is read by looking a name up.
void ShowGroup(const char *szHeading, std::vector<const ConsoleCommand *> vGroup) {
    std::sort(vGroup.begin(), vGroup.end(),
              [](const ConsoleCommand *pA, const ConsoleCommand *pB) { return pA->strName < pB->strName; });
    CConsole::Say(" %s", szHeading);
    for (const ConsoleCommand *pCommand : vGroup) ShowCommand(*pCommand);
}
}  // namespace

void CConsole::AddBuiltins() {
    Add({"wait", "MILLISECONDS", "show notifications for that long, then go on", 1, 1, [this](const ConsoleArgs &a) {
             unsigned long ulMs = 0;
             if (!ParseNumber(a[0], D_ulMaxWaitMs, ulMs))
                 return BadArgument("wait", a[0], "is not a number of milliseconds (0 to 3600000)");
             Pump(ulMs);
             return true;
         }});
    Add({"echo", "TEXT...", "print the text (a heading in a transcript)", 0, D_nAnyCount, [](const ConsoleArgs &a) {
             Say("%s", Joined(a).c_str());
             return true;
         }});
    Add({"help", "[COMMAND]", "list the commands, or show one", 0, 1, [this](const ConsoleArgs &a) {
             if (!a.empty()) {
                 const ConsoleCommand *pCommand = Find(a[0]);
                 if (!pCommand) return BadArgument("help", a[0], "is not a command");
                 ShowCommand(*pCommand);
                 return true;
             }
             Say("  Commands (words in capitals are arguments, [in brackets] optional):");
             // The plug-in's commands first, the console's own after them.
             std::vector<const ConsoleCommand *> vPlugin, vOwn;
             for (size_t i = 0; i < m_vCommands.size(); ++i)
                 (i < m_nBuiltins ? vOwn : vPlugin).push_back(&m_vCommands[i]);
             ShowGroup("The plug-in's commands:", vPlugin);
             ShowGroup("The console's own commands:", vOwn);
             Say("  One command a line; a line starting with # is a comment; put a word with");
             Say("  blanks in double quotes. Results are shown as EXPORT(ARGUMENTS) = RESULT (MEANING).");
             return true;
         }});
    Add({"expect", "RESULT [RESULT...]", "fail unless the last export returned one of these", 1, D_nAnyCount,
         [this](const ConsoleArgs &a) { return Expect(a); }});
    Add({"strict", "on|off", "on: an export's failure result fails its command", 1, 1, [this](const ConsoleArgs &a) {
             if (a[0] != "on" && a[0] != "off") return BadArgument("strict", a[0], "is neither on nor off");
             m_bStrict = a[0] == "on";
             return true;
         }});
    Add({"notifications", "on|off", "off: hide the handset's notification lines; on: show them again", 1, 1,
         [](const ConsoleArgs &a) {
             if (a[0] != "on" && a[0] != "off") return BadArgument("notifications", a[0], "is neither on nor off");
             return ShowNotifications(a[0] == "on");
         }});
    for (const char *szQuit : {"quit", "exit"})
        Add({szQuit, "", "end the console (the plug-in is unloaded)", 0, 0, [this](const ConsoleArgs &) {
                 m_bQuit = true;
                 return true;
             }});
    m_nBuiltins = m_vCommands.size();
}

bool CConsole::Expect(const ConsoleArgs &vArgs) {
    for (const std::string &strWord : vArgs) {
        char *pEnd = nullptr;
        strtol(strWord.c_str(), &pEnd, 10);
        if (strWord.empty() || *pEnd) return BadArgument("expect", strWord, "is not a whole number");
    }
    if (m_strLastCall.empty()) {
        Say("  expect: no export has been called yet");
        return false;
    }
    for (const std::string &strWord : vArgs)
        if (strtol(strWord.c_str(), nullptr, 10) == m_lLastResult) return true;
    Say("  expect: %s returned %ld, expected %s", m_strLastCall.c_str(), m_lLastResult, Joined(vArgs).c_str());
    return false;
}
