// CAgentLog: the agent plug-in's text log, one static object g_AgentLog.
//
// The exports write to it on the host's threads, and the event callback on
// the library's threads when it declines a call. A lock keeps two threads'
// pieces from opening the file at once (the second open would fail and its
// piece be lost); pieces of entries made at once may interleave.
// Every piece of an entry (the header, each text, each number) opens the file,
// appends and closes it again: nothing is buffered and no handle stays open
// between exports, so the host may move, read or delete the file at any time.
// Until a file name is set each piece fails to open and is lost; that is how
// the entries made before the first TV_Initialize disappear (TV_Initialize
// names the file before its own entry).
#pragma once

#include <windows.h>

class CAgentLog {
 public:
  CAgentLog();

  // An entry header: "\r\n", "MM/DD/YYYY hh:mm:ss ", the source file's base name, the line and the
  // function, each followed by ':', then a blank.
  CAgentLog &Header(const char *szFile, int nLine, const char *szFunction, const char *szSignature);
  CAgentLog &Write(const char *szText);
  CAgentLog &WriteNumber(int nNumber);
  void SetFileName(const char *szName);

 private:
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
