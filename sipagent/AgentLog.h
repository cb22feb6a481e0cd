// CAgentLog: the agent plug-in's text log, one static object g_AgentLog.
//
// The exports write to it on the host's threads, and the event callback on
// the library's threads when it declines a call. An entry (its header and
// every text and number after it) is gathered first and reaches the file in
// one append, under a lock that keeps two threads' appends from opening the
// file at once (the second open would fail and its entry be lost): entries
// made at once never interleave, whichever thread writes them.
// Every append opens the file, appends and closes it again: nothing stays
// buffered past its entry and no handle stays open between exports, so the
// host may move, read or delete the file at any time.
// Until a file name is set each entry fails to open the file and is lost;
// that is how the entries made before the first TV_Initialize disappear
// (TV_Initialize names the file before its own entry).
#pragma once

#include <windows.h>

#include <string>

class CAgentLog;

// One entry on its way: the header and the texts written after it, appended
// to the file whole when the entry goes, at the end of the statement that
// made it (or of the scope that holds it).
class CAgentLogEntry {
 public:
  CAgentLogEntry(CAgentLog &log, const char *szHeader) : m_log(log), m_strText(szHeader) {}
  ~CAgentLogEntry();
  CAgentLogEntry(const CAgentLogEntry &) = delete;
  CAgentLogEntry &operator=(const CAgentLogEntry &) = delete;
  CAgentLogEntry &Write(const char *szText);
  CAgentLogEntry &WriteNumber(int nNumber);

 private:
  CAgentLog &m_log;
  std::string m_strText;
};

class CAgentLog {
 public:
  CAgentLog();

  // An entry: its header, "\r\n", "MM/DD/YYYY hh:mm:ss ", the source file's base name, the line and
  // the function, each followed by ':', then a blank; the texts follow it.
  CAgentLogEntry Header(const char *szFile, int nLine, const char *szFunction, const char *szSignature);
  // A text or a number on its own, appended at once.
  CAgentLog &Write(const char *szText);
  CAgentLog &WriteNumber(int nNumber);
  void SetFileName(const char *szName);

 private:
  friend class CAgentLogEntry;
  bool Append(const char *szText);

  char m_szFileName[MAX_PATH];  // under m_fileLock
  SRWLOCK m_fileLock = SRWLOCK_INIT;
  bool m_bEnabled;
  bool m_bShowFile;
  bool m_bShowLine;
  bool m_bShowSignature;
  bool m_bShowTime;
};

extern CAgentLog g_AgentLog;

// Starts an entry for the function the macro stands in.
#define AGENT_LOG_ENTRY() g_AgentLog.Header(__FILE__, __LINE__, __FUNCTION__, __PRETTY_FUNCTION__)
