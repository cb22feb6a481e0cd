// The SIP soak's reading of the plug-in's log after the last export: every
// entry whole ("\r\n", the time, UA_KIRO's file, line and export, ": ", the
// text) and exactly the entries the exports called write, and one for each
// second caller the event callback declined; the first TV_Initialize of the
// process is logged like the others.
#include <stdio.h>

#include <map>

#include "SipSoak.h"

namespace {

const char D_szDeclined[] = "Decline: declined call ";

// "MM/DD/YYYY hh:mm:ss FILE:LINE:EXPORT: TEXT" -> "EXPORT: TEXT"; empty if
// the entry is not whole. The exports log from UA_KIRO.cpp, the callback's
// declines from AgentEvents.cpp.
std::string ExportAndText(const std::string &strEntry) {
    const char szShape[] = "00/00/0000 00:00:00 ";
    const size_t nTime = sizeof szShape - 1;
    if (strEntry.size() < nTime) return "";
    for (size_t i = 0; i < nTime; ++i) {
        const bool bDigit = strEntry[i] >= '0' && strEntry[i] <= '9';
        if (szShape[i] == '0' ? !bDigit : strEntry[i] != szShape[i]) return "";
    }
    const size_t nFileEnd = strEntry.find(':', nTime);
    if (nFileEnd == std::string::npos) return "";
    const std::string strFile = strEntry.substr(nTime, nFileEnd - nTime);
    if (strFile != "UA_KIRO.cpp" && strFile != "AgentEvents.cpp") return "";
    const size_t nLineEnd = strEntry.find(':', nFileEnd + 1);
    if (nLineEnd == std::string::npos || nLineEnd == nFileEnd + 1 ||
        strEntry.find_first_not_of("0123456789", nFileEnd + 1) != nLineEnd)
        return "";
    const std::string strRest = strEntry.substr(nLineEnd + 1);
    if (strFile == "AgentEvents.cpp")
        return strRest.compare(0, sizeof D_szDeclined - 1, D_szDeclined) == 0 ? D_szDeclined : "";
    return strRest.compare(0, 3, "TV_") == 0 && strRest.find(": ") != std::string::npos ? strRest : "";
}

}  // namespace

void CSipSoak::CheckLog() {
    const std::string strLog = ReadSoakFile(m_strFolder + "BRAVIK32.log");
    std::map<std::string, long long> logged;
    long long nWhole = 0;
    // Every entry begins with CR LF, so the file does too.
    m_checks.Check("log entries whole", strLog.compare(0, 2, "\r\n") == 0, m_nCall, "the log begins with CR LF");
    for (size_t nStart = 2; nStart < strLog.size();) {
        size_t nEnd = strLog.find("\r\n", nStart);
        if (nEnd == std::string::npos) nEnd = strLog.size();
        const std::string strEntry = ExportAndText(strLog.substr(nStart, nEnd - nStart));
        if (m_checks.Check("log entries whole", !strEntry.empty(), m_nCall, strLog.substr(nStart, nEnd - nStart)))
            ++logged[strEntry];
        ++nWhole;
        nStart = nEnd + 2;
    }
    m_nLogEntries = nWhole;
    std::map<std::string, long long> expected = {
        {"TV_Initialize: ", m_nRegistrations},
        {"TV_MakeCall: successfully.", m_nPlacedCalls},
        {"TV_PickUp: Picked up.", m_nPickUps},
        {D_szDeclined, m_nSecondCallers},
    };
    for (const auto &entry : logged)
        if (!expected.count(entry.first)) expected[entry.first] = 0;
    for (const auto &entry : expected) {
        const long long nLogged = logged.count(entry.first) ? logged[entry.first] : 0;
        m_checks.Check("log entries per export", nLogged == entry.second, m_nCall,
                       "\"" + entry.first + "\": " + std::to_string(nLogged) + " entries, expected " +
                           std::to_string(entry.second));
    }
}
