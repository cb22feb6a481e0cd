// CLogReporter: see LogReporter.h.
//
// A line costs two formats into stack buffers and one WriteFile: it is on
// disk before WriteLog returns, so a host that dies right after an export
// leaves its last line behind. Under m_lock a line takes no other lock, so a
// writer ended by force there leaves only m_lock, which the next takes over.
#include "support/LogReporter.h"

#include <share.h>

#include <cstdarg>
#include <cstring>
#include <ctime>

namespace {

const size_t D_nLineBufSize = 256;
// A line as it goes to the file, each of its newlines as CR LF.
const size_t D_nFileLineSize = 2 * D_nLineBufSize;

// The plug-in's Chinese texts are GBK: a cut must not leave the first byte of
// a two-byte character to be read with the CR. How many bytes of szText (at
// least nMax long) can be kept within nMax.
size_t KeepWholeCharacters(const char *szText, size_t nMax) {
    size_t nKept = 0;
    while (nKept < nMax) {
        unsigned char c = static_cast<unsigned char>(szText[nKept]);
        size_t nStep = (c >= 0x81 && c <= 0xFE) ? 2 : 1;
        if (nKept + nStep > nMax) break;
        nKept += nStep;
    }
    return nKept;
}

// "<time>\t<message> " cut to the 255 characters the line buffer holds. The
// message is cut rather than the line, so a long line keeps its framing.
int ComposeLine(char (&szBuffer2)[D_nLineBufSize], const char *szTime, const char *szMessage) {
    const size_t nFraming = strlen(szTime) + 2;  // the tab and the trailing space
    size_t nRoom = D_nLineBufSize - 1 > nFraming ? D_nLineBufSize - 1 - nFraming : 0;
    size_t nMessage = strlen(szMessage);
    if (nMessage > nRoom) nMessage = KeepWholeCharacters(szMessage, nRoom);
    int nLength = snprintf(szBuffer2, sizeof szBuffer2, "%s\t%.*s ", szTime, static_cast<int>(nMessage), szMessage);
    if (nLength < 0) return 0;
    return nLength < static_cast<int>(sizeof szBuffer2) ? nLength : static_cast<int>(sizeof szBuffer2) - 1;
}

// The line and its line end as a text-mode stream would write them: every
// newline, also one inside a host's string, becomes CR LF.
int ToFileBytes(const char *szLine, int nLength, char (&acOut)[D_nFileLineSize]) {
    int nOut = 0;
    for (int i = 0; i < nLength; ++i) {
        if (szLine[i] == '\n') acOut[nOut++] = '\r';
        acOut[nOut++] = szLine[i];
    }
    acOut[nOut++] = '\r';
    acOut[nOut++] = '\n';
    return nOut;
}

// _time64's seconds since 1970, from the system clock: some C libraries work
// out the time zone on every _time64 call, dearer than a line's write.
__time64_t CurrentCalendarTime() {
    const unsigned long long D_ullFileTimeOf1970 = 116444736000000000ULL;
    const unsigned long long D_ullFileTicksPerSecond = 10000000ULL;
    FILETIME ftNow;
    GetSystemTimeAsFileTime(&ftNow);
    ULARGE_INTEGER uliNow;
    uliNow.LowPart = ftNow.dwLowDateTime;
    uliNow.HighPart = ftNow.dwHighDateTime;
    return static_cast<__time64_t>((uliNow.QuadPart - D_ullFileTimeOf1970) / D_ullFileTicksPerSecond);
}

}  // namespace

CLogReporter::CLogReporter(long lMaxLines)
    : m_hLog(nullptr), m_lLineCount(0), m_lMaxLines(lMaxLines > 0 ? lMaxLines : D_nLogMaxLines),
      m_bOpened(false), m_tCachedTime(-1), m_szCachedTime() {}

CLogReporter::~CLogReporter() { CloseFile(); }

int CLogReporter::Open(const char *szName, const char *szSeparator, bool bContinue) {
    CLockGuard lock(m_lock, CDeadline(D_dwLogLockMs));
    // A writer stuck past the bound still uses the open file: leave it be.
    if (!lock.Held()) return 1;
    CloseFile();
    m_strPath = GetModulePath();
    m_strPrefix = std::string(szName ? szName : "") + (szSeparator ? szSeparator : "");
    std::string strFileName;
    if (bContinue) strFileName = FindLatestLogFile(m_strPath, m_strPrefix);
    if (strFileName.empty()) strFileName = NewFileName();
    OpenFile(strFileName);
    m_bOpened = true;
    return 1;
}

int CLogReporter::Close(const CDeadline &deadline) {
    CLockGuard lock(m_lock, deadline);
    if (!lock.Held()) return 1;
    CloseFile();
    m_bOpened = false;
    return 1;
}

void CLogReporter::WriteLog(const CDeadline &deadline, const char *szFormat, ...) {
    try {
        // The time of the call, before anything can make the caller wait.
        const __time64_t tNow = CurrentCalendarTime();

        char szBuffer[D_nLineBufSize];
        szBuffer[0] = '\0';
        va_list args;
        va_start(args, szFormat);
        // Cut to the buffer: some C libraries answer a cut with -1 and no NUL.
        static_cast<void>(vsnprintf(szBuffer, sizeof szBuffer, szFormat ? szFormat : "(null)", args));
        va_end(args);
        szBuffer[sizeof szBuffer - 1] = '\0';

        CLockGuard lock(m_lock, deadline);
        if (!lock.Held()) return;
        char szTime[32];
        GetTimeString(tNow, szTime);
        char szBuffer2[D_nLineBufSize];
        const int nLength = ComposeLine(szBuffer2, szTime, szBuffer);
        // The line that reaches the limit opens the new file.
        if (++m_lLineCount >= m_lMaxLines) RollOver();
        WriteLine(szBuffer2, nLength);
    } catch (...) {
        // A log line is never worth an exception in the host's process.
    }
}

void CLogReporter::RollOver() {
    CloseFile();
    // Before Open or after Close no file is created, but the count restarts.
    if (m_bOpened) OpenFile(NewFileName());
    m_lLineCount = 0;
}

std::string CLogReporter::NewFileName() {
    char szTime[32];
    GetTimeString(CurrentCalendarTime(), szTime);
    return m_strPath + m_strPrefix + szTime + ".log";
}

void CLogReporter::OpenFile(const std::string &strFileName) {
    CloseFile();
    HANDLE hLog = CreateFileA(strFileName.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    m_hLog = hLog == INVALID_HANDLE_VALUE ? nullptr : hLog;
}

void CLogReporter::CloseFile() {
    // Forgotten before it is closed: a writer ended in between leaves no
    // handle behind that a later line could reach after its value is reused.
    HANDLE hLog = m_hLog;
    m_hLog = nullptr;
    if (hLog) CloseHandle(hLog);
}

void CLogReporter::WriteLine(const char *szLine, int nLength) {
    if (!m_hLog) return;
    char acFileLine[D_nFileLineSize];
    const int nBytes = ToFileBytes(szLine, nLength, acFileLine);
    DWORD dwWritten = 0;
    WriteFile(m_hLog, acFileLine, static_cast<DWORD>(nBytes), &dwWritten, nullptr);
}

void CLogReporter::GetTimeString(__time64_t tNow, char (&szTime)[32]) {
    if (tNow != m_tCachedTime) {
        // _localtime64 answers from a buffer of the calling thread.
        struct tm *ptmNow = _localtime64(&tNow);
        char szTempTime[32];
        if (!ptmNow || strftime(szTempTime, sizeof szTempTime, "%Y%m%d%H%M%S", ptmNow) == 0) {
            szTime[0] = '\0';
            return;
        }
        memcpy(m_szCachedTime, szTempTime, sizeof m_szCachedTime);
        m_tCachedTime = tNow;
    }
    memcpy(szTime, m_szCachedTime, sizeof szTime);
}

__time64_t CLogReporter::FileTimeToTime(const FILETIME &ftFile) {
    FILETIME ftLocal;
    SYSTEMTIME stLocal;
    if (!FileTimeToLocalFileTime(&ftFile, &ftLocal) || !FileTimeToSystemTime(&ftLocal, &stLocal)) return 0;
    // Seconds, minutes, hours, day, month, year; the day of the week and of
    // the year are mktime's to work out, daylight saving too.
    struct tm tmLocal = {stLocal.wSecond, stLocal.wMinute, stLocal.wHour, stLocal.wDay, stLocal.wMonth - 1,
                         stLocal.wYear - 1900, 0, 0, -1};
    return _mktime64(&tmLocal);
}

std::string CLogReporter::FindLatestLogFile(const std::string &strDirectory, const std::string &strPrefix) {
    // Files stamped before 1 February 2000, 01:01:01 local time come from
    // machines whose clock was never set; they are never continued.
    struct tm tmFloor = {1, 1, 1, 1, 1, 100, 0, 0, -1};
    __time64_t tBest = _mktime64(&tmFloor);
    std::string strCandidate;

    WIN32_FIND_DATAA findData;
    HANDLE hFind = FindFirstFileA((strDirectory + strPrefix + "*.*").c_str(), &findData);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            if (findData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            __time64_t tCreated = FileTimeToTime(findData.ftCreationTime);
            if (tCreated > tBest) {
                strCandidate = m_strPath + findData.cFileName;
                tBest = tCreated;
            }
        } while (FindNextFileA(hFind, &findData));
        FindClose(hFind);
    }
    if (strCandidate.empty()) return strCandidate;

    // One that cannot be read is still continued: better overlong than lost.
    FILE *pfCandidate = _fsopen(strCandidate.c_str(), "rt", _SH_DENYNO);
    if (pfCandidate) {
        CountLines(pfCandidate, strCandidate);
        static_cast<void>(fclose(pfCandidate));  // only read
    }
    return strCandidate;
}

void CLogReporter::CountLines(FILE *pfLog, std::string &strCandidate) {
    // One count per read, the one that meets the end included: n whole lines
    // count n + 1. A line over 1023 characters makes the file count as full.
    // Read with the C runtime, not a C++ stream, whose locale makes the
    // thread runtime keep a record of the host's thread that our unload
    // cannot free (a thread handle and an event per load).
    m_lLineCount = 0;
    for (;;) {
        const ELineRead read = ReadLine(pfLog);
        if (read == ELineRead::TooLong || ++m_lLineCount == m_lMaxLines) {
            m_lLineCount = 0;
            strCandidate.clear();
            return;
        }
        if (read == ELineRead::FileEnd) return;
    }
}

CLogReporter::ELineRead CLogReporter::ReadLine(FILE *pfLog) {
    const int D_nMostChars = 1023;
    for (int nChars = 0;; ++nChars) {
        const int c = getc(pfLog);
        if (c == EOF) return ELineRead::FileEnd;
        if (c == '\n') return ELineRead::Line;
        if (nChars == D_nMostChars) return ELineRead::TooLong;
    }
}

std::string CLogReporter::GetModulePath() {
    char szPath[MAX_PATH + 1] = {};
    if (GetModuleFileNameA(nullptr, szPath, MAX_PATH) == 0) return std::string();
    std::string strPath(szPath);
    size_t nSlash = strPath.rfind('\\');
    if (nSlash != std::string::npos) strPath.erase(nSlash + 1);
    return strPath;
}
