// Test helpers for the handset plug-in's log files in the executable's
// folder: listing and removing them, reading their CR LF lines, taking a
// line's message out of its framing, and making old files with set times.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace logfiles {

// Every log file of the handset plug-in begins with this.
const char *const D_szPrefixPattern = "halvex_*";

inline std::string LogFolder() {
    char szPath[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    std::string strPath(szPath);
    return strPath.substr(0, strPath.rfind('\\') + 1);
}

struct LogEntry {
    std::string strName;
    bool bDirectory;
};

// Entries beginning with the prefix, sorted (timestamped names sort in
// creation order).
inline std::vector<LogEntry> LogEntries() {
    std::vector<LogEntry> entries;
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA((LogFolder() + D_szPrefixPattern).c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE) return entries;
    do {
        entries.push_back({data.cFileName, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileA(hFind, &data));
    FindClose(hFind);
    std::sort(entries.begin(), entries.end(),
              [](const LogEntry &a, const LogEntry &b) { return a.strName < b.strName; });
    return entries;
}

inline std::vector<std::string> LogFiles() {
    std::vector<std::string> names;
    for (const LogEntry &entry : LogEntries())
        if (!entry.bDirectory) names.push_back(entry.strName);
    return names;
}

inline void RemoveLogEntries() {
    for (const LogEntry &entry : LogEntries()) {
        std::string strPath = LogFolder() + entry.strName;
        if (entry.bDirectory)
            RemoveDirectoryA(strPath.c_str());
        else
            DeleteFileA(strPath.c_str());
    }
}

inline std::string ReadBytes(const std::string &strName) {
    std::ifstream ifs(LogFolder() + strName, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(ifs), std::istreambuf_iterator<char>());
}

// The lines of a log file without their CR LF; a line end other than CR LF
// fails the calling test.
inline std::vector<std::string> ReadLines(const std::string &strName) {
    std::vector<std::string> lines;
    std::string strBytes = ReadBytes(strName);
    size_t nStart = 0;
    for (size_t nLf = strBytes.find('\n'); nLf != std::string::npos;
         nStart = nLf + 1, nLf = strBytes.find('\n', nStart)) {
        EXPECT_TRUE(nLf > nStart && strBytes[nLf - 1] == '\r')
            << strName << ": line " << lines.size() + 1 << " does not end in CR LF";
        lines.push_back(strBytes.substr(nStart, nLf - nStart - 1));
    }
    EXPECT_EQ(nStart, strBytes.size()) << strName << ": bytes after the last line end";
    return lines;
}

// The message of a framed line "<14 digits>\t<message> ", or a failure.
inline std::string MessageOf(const std::string &strLine) {
    bool bFramed = strLine.size() >= 16 && strLine[14] == '\t' && strLine.back() == ' ' &&
                   std::all_of(strLine.begin(), strLine.begin() + 14, ::isdigit);
    EXPECT_TRUE(bFramed) << "expected <14-digit timestamp><tab><message><space>, got: " << strLine;
    return bFramed ? strLine.substr(15, strLine.size() - 16) : std::string();
}

inline std::string LocalTimestamp() {
    __time64_t tNow = _time64(nullptr);
    char szTime[32];
    strftime(szTime, sizeof szTime, "%Y%m%d%H%M%S", _localtime64(&tNow));
    return szTime;
}

// File times from a local wall-clock time, as the log reads them back.
inline FILETIME LocalToFileTime(WORD wYear, WORD wMonth, WORD wDay, WORD wHour, WORD wMinute, WORD wSecond) {
    SYSTEMTIME stLocal = {wYear, wMonth, 0, wDay, wHour, wMinute, wSecond, 0};
    FILETIME ftLocal, ftUtc;
    SystemTimeToFileTime(&stLocal, &ftLocal);
    LocalFileTimeToFileTime(&ftLocal, &ftUtc);
    return ftUtc;
}

// A file of nLines whole lines of "x", created and last written at ftWhen
// (Wine reads creation back as last write, so both are set).
inline void MakeLogFile(const std::string &strName, long nLines, const FILETIME &ftWhen,
                        const std::string &strLine = "x") {
    HANDLE hFile = CreateFileA((LogFolder() + strName).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(hFile, INVALID_HANDLE_VALUE) << "cannot create " << strName;
    std::string strBytes;
    strBytes.reserve((strLine.size() + 2) * nLines);
    for (long i = 0; i < nLines; ++i) strBytes += strLine + "\r\n";
    DWORD dwWritten = 0;
    WriteFile(hFile, strBytes.data(), static_cast<DWORD>(strBytes.size()), &dwWritten, nullptr);
    SetFileTime(hFile, &ftWhen, nullptr, &ftWhen);
    CloseHandle(hFile);
}

}  // namespace logfiles
