// CLogReporter: the handset plug-in's dated diagnostic log.
//
// One object (g_LogReporter, defined beside the handset link so that the two
// are constructed in a fixed order) writes one timestamped line per call into
// "<prefix><YYYYmmddHHMMSS>.log" beside the host's executable, continues the
// newest earlier file at load and starts a new file after D_nLogMaxLines.
//
// Threads: WriteLog runs on every host thread that calls an export and on the
// link thread. The message and the line are formatted on the caller's stack;
// the count, the roll-over and the write of the line happen under one lock
// (m_csWrite), so each line lands whole, in order, in exactly one file, and a
// roll-over never meets another writer. Open and Close take the same lock.
//
// The stream is a C library stream opened with _fsopen(..., _SH_DENYNO): the
// host's support staff read and copy the log while the host runs, so the file
// must be shared for reading and writing. Text mode turns each newline into
// CR LF.
#pragma once

#include <windows.h>

#include <cstdio>
#include <ctime>
#include <string>

class CLogReporter {
public:
    static const long D_nLogMaxLines = 100000;

    // lMaxLines exists for tests that want roll-overs without writing
    // 100,000 lines; the plug-in always uses D_nLogMaxLines.
    explicit CLogReporter(long lMaxLines = D_nLogMaxLines);
    virtual ~CLogReporter();

    int Open(const char *szName, const char *szSeparator, bool bContinue);
    int Close();
    void WriteLog(const char *szFormat, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    // Lines counted in the current file (what the next roll-over looks at).
    long LineCount() const { return m_lLineCount; }

private:
    std::string GetTimeString();
    static __time64_t FileTimeToTime(const FILETIME &ftFile);
    std::string FindLatestLogFile(const std::string &strDirectory, const std::string &strPrefix);
    static std::string GetModulePath();

    std::string NewFileName();
    void OpenStream(const std::string &strFileName);
    void CloseStream();
    void CountLines(FILE *pfLog, std::string &strCandidate);
    void RollOver();

    bool m_bEnabled;
    FILE *m_ofsLog;
    volatile LONG m_lLineCount;
    std::string m_strPrefix;
    std::string m_strPath;

    const long m_lMaxLines;
    // Set by Open, cleared by Close: a roll-over opens a file only in between,
    // so nothing is written before the attach step or after the detach step.
    bool m_bOpened;
    CRITICAL_SECTION m_csWrite;
    // The last second turned into a timestamp: the C library's local-time
    // conversion costs more than the write of a line, and one second sees
    // many lines. Own lock, held only for a copy, so that taking the time
    // never waits behind another caller's write.
    CRITICAL_SECTION m_csTime;
    __time64_t m_tCachedTime;
    std::string m_strCachedTime;

    CLogReporter(const CLogReporter &) = delete;
    CLogReporter &operator=(const CLogReporter &) = delete;
};

extern CLogReporter g_LogReporter;
