// CLogReporter: the handset plug-in's dated diagnostic log.
//
// One object (g_LogReporter, defined beside the handset link so that the two
// are constructed in a fixed order) writes one timestamped line per call into
// "<prefix><YYYYmmddHHMMSS>.log" beside the host's executable, continues the
// newest earlier file at load and starts a new file after D_nLogMaxLines.
//
// Threads: every host thread that calls an export, and the link thread,
// write lines. The timestamp, the count, the roll-over and the write happen
// under m_lock, so each line lands whole, in order, in exactly one file.
// The detach step may end the link thread by force while it writes, and then
// writes "Log Exited" itself: so the lock takes a dead owner's lock over, and
// the file is a Win32 handle written with one WriteFile per line, not a C
// library stream whose own lock would die with the writer. A line or Close
// that cannot get the lock by its deadline is dropped, or leaves the file
// open rather than close it under a writer.
//
// The file is opened for appending and shared for reading and writing: the
// host's support staff read and copy the log while the host runs.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>

#include "support/BoundedLock.h"

class CLogReporter {
public:
    static const long D_nLogMaxLines = 100000;

    // lMaxLines exists for tests that want roll-overs without writing
    // 100,000 lines; the plug-in always uses D_nLogMaxLines.
    explicit CLogReporter(long lMaxLines = D_nLogMaxLines);
    virtual ~CLogReporter();

    int Open(const char *szName, const char *szSeparator, bool bContinue);
    int Close(const CDeadline &deadline);
    void WriteLog(const CDeadline &deadline, const char *szFormat, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;

    // Lines counted in the current file (what the next roll-over looks at).
    long LineCount() const { return m_lLineCount; }

private:
    // tNow as "%Y%m%d%H%M%S" (empty without a local time). Under m_lock.
    void GetTimeString(__time64_t tNow, char (&szTime)[32]);
    static __time64_t FileTimeToTime(const FILETIME &ftFile);
    std::string FindLatestLogFile(const std::string &strDirectory, const std::string &strPrefix);
    static std::string GetModulePath();

    std::string NewFileName();
    void OpenFile(const std::string &strFileName);
    void CloseFile();
    void WriteLine(const char *szLine, int nLength);
    enum class ELineRead { Line, FileEnd, TooLong };
    void CountLines(FILE *pfLog, std::string &strCandidate);
    static ELineRead ReadLine(FILE *pfLog);
    void RollOver();

    HANDLE m_hLog;  // null while no file is open
    std::atomic<LONG> m_lLineCount;
    std::string m_strPrefix;
    std::string m_strPath;

    const long m_lMaxLines;
    // Between Open and Close: only then does a roll-over open a file.
    bool m_bOpened;
    CBoundedLock m_lock;
    // The last second's timestamp, under m_lock: the local-time conversion
    // costs more than a line's write, and one second sees many lines.
    __time64_t m_tCachedTime;
    char m_szCachedTime[32];

    CLogReporter(const CLogReporter &) = delete;
    CLogReporter &operator=(const CLogReporter &) = delete;
};

// How long a line, Open or Close usually waits for another writer's line.
constexpr DWORD D_dwLogLockMs = 2000;

extern CLogReporter g_LogReporter;
