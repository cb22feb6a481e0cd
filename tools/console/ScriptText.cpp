// Script text: see ScriptText.h. Marked text goes through UTF-16 and is
// converted line by line, so that a character the ANSI code page cannot hold
// is reported with its line instead of reaching a plug-in as '?'.
#include "ScriptText.h"

#include <windows.h>

#include <cstring>

#include "PluginLoader.h"

namespace {

const char D_szUtf8Mark[] = "\xEF\xBB\xBF";

bool StartsWith(const std::string &strBytes, const char *szMark) {
    return strBytes.compare(0, strlen(szMark), szMark) == 0;
}

bool WideToAnsi(const std::wstring &strWide, std::string &strAnsi) {
    strAnsi.clear();
    if (strWide.empty()) return true;
    BOOL bDefaultUsed = FALSE;
    int nBytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, strWide.data(), static_cast<int>(strWide.size()),
                                     nullptr, 0, nullptr, &bDefaultUsed);
    if (nBytes <= 0 || bDefaultUsed) return false;
    strAnsi.resize(static_cast<size_t>(nBytes));
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, strWide.data(), static_cast<int>(strWide.size()), &strAnsi[0],
                        nBytes, nullptr, nullptr);
    return true;
}

bool Utf8ToWide(const std::string &strUtf8, std::wstring &strWide) {
    strWide.clear();
    if (strUtf8.empty()) return true;
    int nChars = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, strUtf8.data(), static_cast<int>(strUtf8.size()),
                                     nullptr, 0);
    if (nChars <= 0) return false;
    strWide.resize(static_cast<size_t>(nChars));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, strUtf8.data(), static_cast<int>(strUtf8.size()), &strWide[0],
                        nChars);
    return true;
}

// UTF-16 bytes after the mark, either byte order, as wide characters.
std::wstring Utf16Text(const std::string &strBytes, bool bBigEndian) {
    std::wstring strWide;
    for (size_t i = 2; i + 1 < strBytes.size(); i += 2) {
        unsigned char cFirst = static_cast<unsigned char>(strBytes[i]);
        unsigned char cSecond = static_cast<unsigned char>(strBytes[i + 1]);
        strWide += static_cast<wchar_t>(bBigEndian ? (cFirst << 8) | cSecond : (cSecond << 8) | cFirst);
    }
    return strWide;
}

template <typename Text>
std::vector<Text> SplitLines(const Text &strText) {
    std::vector<Text> vLines;
    size_t nStart = 0;
    while (nStart < strText.size()) {
        size_t nEnd = strText.find(static_cast<typename Text::value_type>('\n'), nStart);
        if (nEnd == Text::npos) nEnd = strText.size();
        Text strLine = strText.substr(nStart, nEnd - nStart);
        if (!strLine.empty() && strLine.back() == '\r') strLine.pop_back();
        vLines.push_back(strLine);
        nStart = nEnd + 1;
    }
    return vLines;
}

std::string CannotHold(size_t nLine) {
    return "line " + std::to_string(nLine) + " holds a character that the ANSI code page (" + std::to_string(GetACP()) +
           ") of this PC cannot hold, so no plug-in could take it";
}

}  // namespace

bool Utf8ToAnsi(const std::string &strUtf8, std::string &strAnsi) {
    std::wstring strWide;
    return Utf8ToWide(strUtf8, strWide) && WideToAnsi(strWide, strAnsi);
}

bool DecodeScript(const std::string &strBytes, std::vector<std::string> &vLines, std::string &strNote,
                  std::string &strError) {
    vLines.clear();
    std::wstring strWide;
    bool bUtf16 = StartsWith(strBytes, "\xFF\xFE") || StartsWith(strBytes, "\xFE\xFF");
    if (bUtf16) {
        if (strBytes.size() % 2) {
            strError = "is cut short: UTF-16 text (it starts with that byte-order mark) has an odd number of bytes";
            return false;
        }
        bool bBigEndian = strBytes[0] == '\xFE';
        strWide = Utf16Text(strBytes, bBigEndian);
        strNote = bBigEndian ? "UTF-16 big-endian" : "UTF-16";
    } else if (StartsWith(strBytes, D_szUtf8Mark)) {
        if (!Utf8ToWide(strBytes.substr(3), strWide)) {
            strError = "starts with the UTF-8 byte-order mark but is not UTF-8 text";
            return false;
        }
        strNote = "UTF-8";
    } else if (strBytes.find('\0') != std::string::npos) {
        strError = "holds NUL bytes: UTF-16 saved without a byte-order mark? Save it as ANSI, UTF-8 or Unicode";
        return false;
    } else {
        vLines = SplitLines(strBytes);
        return true;
    }
    std::vector<std::wstring> vWide = SplitLines(strWide);
    for (size_t i = 0; i < vWide.size(); ++i) {
        std::string strLine;
        if (!WideToAnsi(vWide[i], strLine)) {
            strError = CannotHold(i + 1);
            return false;
        }
        vLines.push_back(strLine);
    }
    strNote = "saved as " + strNote + ": read as text in the ANSI code page (" + std::to_string(GetACP()) + ")";
    return true;
}

bool ReadScriptFile(const char *szPath, std::vector<std::string> &vLines, std::string &strNote, std::string &strError) {
    // Opened by Windows rather than a stream, so that a refusal can say why
    // (no such file, no permission, held by another program).
    HANDLE hFile = CreateFileA(szPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        DWORD dwError = GetLastError();
        strError = "cannot be opened for reading: error " + std::to_string(dwError) + ": " +
                   SystemMessage(dwError, szPath);
        return false;
    }
    std::string strBytes;
    char acBuffer[4096];
    DWORD dwRead = 0;
    BOOL bRead = TRUE;
    while ((bRead = ReadFile(hFile, acBuffer, sizeof acBuffer, &dwRead, nullptr)) && dwRead > 0)
        strBytes.append(acBuffer, dwRead);
    DWORD dwError = GetLastError();
    CloseHandle(hFile);
    if (!bRead) {
        strError = "cannot be read to its end: error " + std::to_string(dwError) + ": " +
                   SystemMessage(dwError, szPath);
        return false;
    }
    return DecodeScript(strBytes, vLines, strNote, strError);
}
