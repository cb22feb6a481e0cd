// CLogReporter: the handset plug-in's dated diagnostic log (interface; the
// implementation lives in LogReporter.cpp).
#pragma once

#include <windows.h>

#include <fstream>
#include <string>

class CLogReporter {
public:
    CLogReporter();
    virtual ~CLogReporter();

    int Open(const char *szName, const char *szSeparator, bool bContinue);
    int Close();
    void WriteLog(const char *szFormat, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    static const long D_nLogMaxLines = 100000;

private:
    bool m_bEnabled;
    std::ofstream m_ofsLog;
    volatile LONG m_lLineCount;
    std::string m_strPrefix;
    std::string m_strPath;
};

extern CLogReporter g_LogReporter;
