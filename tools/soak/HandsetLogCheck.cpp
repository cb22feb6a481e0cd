// The handset soak's reading of the plug-in's log files after the last
// detach: every line whole ("<14 digits>\t<message> " and CR LF), exactly
// one line per export call the soak made (by the name the line begins with),
// one "Log Started" per attach and one "Log Exited" per detach, and the link
// thread's own lines known ones. Runs on the main thread once all others
// have ended.
#include <stdio.h>

#include <map>

#include "HandsetSoak.h"

namespace {

// The link thread's lines, by the text before any ':' (as UTF-8).
// clang-format off
const char *const D_aszLinkLines[] = {
    "获取HID设备信息失败!", "获取HID设备细节信息失败!", "获取HID设备句柄失败!", "获取HID设备属性失败!",
    "读操作错误",         "GetOverlappedResult例程错误", "发送数据失败!",       "收到Ping回应",
    "话机已打开!",
};
// clang-format on
const char D_szStarted[] = "HalvexV4 BRAVIK32.dll Log Started";
const char D_szExited[] = "HalvexV4 BRAVIK32.dll Log Exited";

std::string Utf8FromGbk(const std::string &strGbk) {
    int nWide = MultiByteToWideChar(936, 0, strGbk.data(), static_cast<int>(strGbk.size()), nullptr, 0);
    std::wstring wstr(static_cast<size_t>(nWide), L'\0');
    MultiByteToWideChar(936, 0, strGbk.data(), static_cast<int>(strGbk.size()), &wstr[0], nWide);
    int nUtf8 = WideCharToMultiByte(CP_UTF8, 0, wstr.data(), nWide, nullptr, 0, nullptr, nullptr);
    std::string strUtf8(static_cast<size_t>(nUtf8), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wstr.data(), nWide, &strUtf8[0], nUtf8, nullptr, nullptr);
    return strUtf8;
}

bool IsWholeLine(const std::string &strLine) {
    if (strLine.size() < 14 + 1 + 2 || strLine.compare(strLine.size() - 2, 2, " \r") != 0 || strLine[14] != '\t')
        return false;
    for (int i = 0; i < 14; ++i)
        if (strLine[i] < '0' || strLine[i] > '9') return false;
    return true;
}

// The name a line begins with: the message up to its first blank or colon,
// or the whole message for the load and unload lines.
std::string LineName(const std::string &strMessage) {
    if (strMessage.compare(0, 9, "HalvexV4 ") == 0) return strMessage;
    return strMessage.substr(0, strMessage.find_first_of(" :"));
}

bool IsLinkLine(const std::string &strName) {
    for (const char *szKnown : D_aszLinkLines)
        if (strName == szKnown) return true;
    return false;
}

}  // namespace

void CHandsetSoak::CheckLogFiles() {
    std::map<std::string, long long> logged;  // by line name (GBK names as UTF-8)
    long long nWhole = 0, nTorn = 0;
    WIN32_FIND_DATAA found;
    HANDLE hFind = FindFirstFileA((m_strFolder + "halvex_*.log").c_str(), &found);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            ++m_nLogFiles;
            const std::string strBytes = ReadSoakFile(m_strFolder + found.cFileName);
            size_t nStart = 0;
            for (size_t nEnd; (nEnd = strBytes.find('\n', nStart)) != std::string::npos; nStart = nEnd + 1) {
                const std::string strLine = strBytes.substr(nStart, nEnd - nStart);
                if (!IsWholeLine(strLine)) {
                    if (nTorn++ < 5)
                        m_checks.Check("log lines whole", false, m_nCall, found.cFileName + (": " + strLine));
                    continue;
                }
                ++nWhole;
                ++logged[Utf8FromGbk(LineName(strLine.substr(15, strLine.size() - 17)))];
            }
            if (nStart != strBytes.size()) {
                ++nTorn;
                m_checks.Check("log lines whole", false, m_nCall,
                               std::string(found.cFileName) + " ends in half a line");
            }
        } while (FindNextFileA(hFind, &found));
        FindClose(hFind);
    }
    m_checks.Add("log lines whole", nWhole, nTorn > 5 ? nTorn - 5 : 0);
    m_nLogLines = nWhole + nTorn;

    std::map<std::string, long long> expected = m_tally.Counts();
    expected[D_szStarted] = m_nAttaches;
    expected[D_szExited] = m_nDetaches;
    std::string strLinkLines;
    for (const auto &entry : logged) {
        if (expected.count(entry.first) || !IsLinkLine(entry.first)) continue;
        m_nLinkLines += entry.second;
        strLinkLines += "  " + entry.first + " x" + std::to_string(entry.second);
    }
    for (const auto &entry : logged)
        if (!expected.count(entry.first) && !IsLinkLine(entry.first)) expected[entry.first] = 0;  // unknown line
    for (const auto &entry : expected) {
        const long long nLogged = logged.count(entry.first) ? logged[entry.first] : 0;
        m_checks.Check(
            "log lines per export", nLogged == entry.second, m_nCall,
            entry.first + ": " + std::to_string(nLogged) + " lines for " + std::to_string(entry.second) + " calls");
    }
    if (!strLinkLines.empty()) printf("   the link's own lines:%s\n", strLinkLines.c_str());
}
