// The agent plug-in's log (see AgentLog.h for who writes and why each entry
// is one open-append-close).
#include "AgentLog.h"

#include <stdio.h>
#include <string.h>

#include "SrwGuard.h"

CAgentLog g_AgentLog;

namespace {
// Everything up to and including the last path separator goes: the build
// hands us a full path, with '/' when the compiler ran on a Unix host.
const char *BaseName(const char *szPath) {
  const char *szBase = szPath;
  for (const char *p = szPath; *p; ++p)
    if (*p == '\\' || *p == '/') szBase = p + 1;
  return szBase;
}

const char *Pad(int nValue) { return nValue < 10 ? "0" : ""; }

// A number as "%d" writes it.
struct SNumberText {
  explicit SNumberText(int nNumber) { static_cast<void>(snprintf(sz, sizeof sz, "%d", nNumber)); }  // an int fits
  char sz[16];
};
}  // namespace

CAgentLogEntry::~CAgentLogEntry() { m_log.Append(m_strText.c_str()); }

CAgentLogEntry &CAgentLogEntry::Write(const char *szText) {
  m_strText += szText ? szText : "";
  return *this;
}

CAgentLogEntry &CAgentLogEntry::WriteNumber(int nNumber) { return Write(SNumberText(nNumber).sz); }

CAgentLog::CAgentLog()
    : m_bEnabled(true), m_bShowFile(true), m_bShowLine(true), m_bShowSignature(false), m_bShowTime(true) {
  m_szFileName[0] = '\0';
}

CAgentLogEntry CAgentLog::Header(const char *szFile, int nLine, const char *szFunction, const char *szSignature) {
  char szHeader[1024];
  size_t nUsed = 0;
  auto add = [&](const char *szFormat, auto... args) {
    int n = snprintf(szHeader + nUsed, sizeof szHeader - nUsed, szFormat, args...);
    if (n > 0) nUsed += static_cast<size_t>(n);
    if (nUsed >= sizeof szHeader) nUsed = sizeof szHeader - 1;
  };
  szHeader[0] = '\0';
  // In front of every entry, the first of the file too: the file begins
  // with an empty line and no entry ends with a line break.
  add("%s", "\r\n");
  if (m_bShowTime) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    add("%s%d/%s%d/%d %s%d:%s%d:%s%d ", Pad(now.wMonth), now.wMonth, Pad(now.wDay), now.wDay, now.wYear, Pad(now.wHour),
        now.wHour, Pad(now.wMinute), now.wMinute, Pad(now.wSecond), now.wSecond);
  }
  if (m_bShowFile) add("%s:", BaseName(szFile ? szFile : ""));
  if (m_bShowLine) add("%d:", nLine);
  const char *szName = m_bShowSignature ? szSignature : szFunction;
  add("%s%s", szName ? szName : "", ": ");
  return CAgentLogEntry(*this, szHeader);
}

CAgentLog &CAgentLog::Write(const char *szText) {
  Append(szText ? szText : "");
  return *this;
}

CAgentLog &CAgentLog::WriteNumber(int nNumber) { return Write(SNumberText(nNumber).sz); }

void CAgentLog::SetFileName(const char *szName) {
  CSrwExclusive lock(m_fileLock);
  // Cut to the buffer, as every text of the log.
  static_cast<void>(snprintf(m_szFileName, sizeof m_szFileName, "%s", szName ? szName : ""));
}

bool CAgentLog::Append(const char *szText) {
  if (!m_bEnabled) return true;
  // Readers may share the file; a second writer makes this append fail, so
  // the plug-in's own threads take turns rather than push each other out.
  CSrwExclusive lock(m_fileLock);
  HANDLE hFile = CreateFileA(m_szFileName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
  BOOL bWritten = FALSE;
  if (hFile != INVALID_HANDLE_VALUE) {
    SetFilePointer(hFile, 0, nullptr, FILE_END);
    DWORD dwWritten = 0;
    bWritten = WriteFile(hFile, szText, static_cast<DWORD>(lstrlenA(szText)), &dwWritten, nullptr);
    CloseHandle(hFile);
  }
  return bWritten != FALSE;
}
