// Stand-in for the diagnostic log until its own implementation is part of
// the handset library: the same file name and line framing, nothing more.
#include <stdarg.h>
#include <stdio.h>
#include <time.h>

#include "support/LogReporter.h"

CLogReporter::CLogReporter() : m_bEnabled(true), m_lLineCount(0) {}
CLogReporter::~CLogReporter() {}

static std::string TimeString() {
    char szTime[32];
    time_t tNow = time(nullptr);
    strftime(szTime, sizeof szTime, "%Y%m%d%H%M%S", localtime(&tNow));
    return szTime;
}

int CLogReporter::Open(const char *szName, const char *szSeparator, bool) {
    char szPath[MAX_PATH];
    GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    m_strPath = szPath;
    m_strPath.erase(m_strPath.find_last_of('\\') + 1);
    m_strPrefix = std::string(szName) + szSeparator;
    m_ofsLog.open(m_strPath + m_strPrefix + TimeString() + ".log", std::ios::app);
    return 1;
}

int CLogReporter::Close() {
    m_ofsLog.close();
    return 1;
}

namespace {
struct CStubLock {
    CRITICAL_SECTION cs;
    CStubLock() { InitializeCriticalSection(&cs); }
};
}  // namespace

void CLogReporter::WriteLog(const char *szFormat, ...) {
    static CStubLock s_lock;
    CRITICAL_SECTION &s_cs = s_lock.cs;
    char szBuffer[256];
    va_list args;
    va_start(args, szFormat);
    vsnprintf(szBuffer, sizeof szBuffer, szFormat, args);
    va_end(args);
    EnterCriticalSection(&s_cs);
    m_ofsLog << TimeString() << '\t' << szBuffer << " " << std::endl;
    LeaveCriticalSection(&s_cs);
}
