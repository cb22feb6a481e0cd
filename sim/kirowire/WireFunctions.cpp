// The 15 KIRO_ functions of the wire library: arguments are checked and
// copied on the caller's thread, the work runs on the stack thread.
#include "WireCore.h"
#include "WireMedia.h"

namespace {
bool IsEmpty(const char *szText) { return !szText || !*szText; }

// A call's media request, on the stack thread.
int OnMedia(KIRO_HANDLE hCall, const std::function<int(CWireMedia &)> &fn) {
  return CWireStack::Get().Run([hCall, fn]() {
    SWireCall *pCall = CWireStack::Get().FindCall(hCall);
    if (!pCall) return static_cast<int>(KIROWIRE_ERR_BAD_HANDLE);
    if (pCall->bReleased || pCall->bDestroyed) return static_cast<int>(KIROWIRE_ERR_WRONG_STATE);
    return fn(*pCall->pMedia);
  });
}

int WithFile(KIRO_HANDLE hCall, const char *szFile, int (CWireMedia::*pfnStart)(const char *)) {
  if (IsEmpty(szFile)) return KIROWIRE_ERR_BAD_ARGUMENT;
  std::string strFile = szFile;
  return OnMedia(hCall, [strFile, pfnStart](CWireMedia &media) { return (media.*pfnStart)(strFile.c_str()); });
}

int Stop(KIRO_HANDLE hCall, void (CWireMedia::*pfnStop)()) {
  return OnMedia(hCall, [pfnStop](CWireMedia &media) {
    (media.*pfnStop)();
    return 0;
  });
}
}  // namespace

extern "C" {
int __cdecl KIRO_Initialize(KIRO_HANDLE *phInstance, int nSipPort, int nMediaPort, int, const char *, const char *,
                            int) {
  return CWireStack::Get().Start(nSipPort, nMediaPort, phInstance);
}

int __cdecl KIRO_EventListenerAdd(KIRO_HANDLE hInstance, KIRO_EVENT_CALLBACK pfnCallback, void *pContext) {
  CWireStack &stack = CWireStack::Get();
  if (!stack.Started() || hInstance != stack.m_hInstance) return KIROWIRE_ERR_BAD_HANDLE;
  return stack.AddListener(pfnCallback, pContext);
}

int __cdecl KIRO_AddLine(KIRO_HANDLE hInstance, KIRO_HANDLE *phLine, const char *szIdentity) {
  CWireStack &stack = CWireStack::Get();
  if (!stack.Started() || hInstance != stack.m_hInstance) return KIROWIRE_ERR_BAD_HANDLE;
  if (!phLine || !szIdentity) return KIROWIRE_ERR_BAD_ARGUMENT;
  std::string strIdentity = szIdentity;
  // Written back here, not on the stack thread: a request that timed out
  // must not write into a caller that has left.
  auto pLine = std::make_shared<KIRO_HANDLE>(0);
  int nResult = stack.Run([pLine, strIdentity]() { return WireAddLine(pLine.get(), strIdentity.c_str()); });
  if (nResult == 0) *phLine = *pLine;
  return nResult;
}

// "host:port" as the plug-in passes it, or a SIP URI; loose routing.
int __cdecl KIRO_SetOutboundProxy(KIRO_HANDLE hInstance, const char *szProxy) {
  CWireStack &stack = CWireStack::Get();
  if (!stack.Started() || hInstance != stack.m_hInstance) return KIROWIRE_ERR_BAD_HANDLE;
  std::string strRoute;
  if (!IsEmpty(szProxy)) strRoute = std::string(strncmp(szProxy, "sip:", 4) == 0 ? "" : "sip:") + szProxy + ";lr";
  return stack.Run([strRoute]() {
    CWireStack::Get().m_strProxy = strRoute;
    return 0;
  });
}

int __cdecl KIRO_LineRegister(KIRO_HANDLE hLine, const char *szDomain, const char *szUser, const char *szCredential,
                              const char *) {
  if (IsEmpty(szDomain) || IsEmpty(szUser) || !szCredential) return KIROWIRE_ERR_BAD_ARGUMENT;
  std::string strDomain = szDomain, strUser = szUser, strCredential = szCredential;
  return CWireStack::Get().Run([=]() { return WireLineRegister(hLine, strDomain, strUser, strCredential); });
}

int __cdecl KIRO_LineUnRegister(KIRO_HANDLE hLine) {
  return CWireStack::Get().Run([hLine]() { return WireLineUnRegister(hLine); });
}

int __cdecl KIRO_RemoveLine(KIRO_HANDLE hLine) {
  return CWireStack::Get().Run([hLine]() { return WireRemoveLine(hLine); });
}

int __cdecl KIRO_CallCreate(KIRO_HANDLE hInstance, KIRO_HANDLE hLine, KIRO_HANDLE *phCall, const char *szDestination) {
  CWireStack &stack = CWireStack::Get();
  if (!stack.Started() || hInstance != stack.m_hInstance) return KIROWIRE_ERR_BAD_HANDLE;
  if (!phCall || IsEmpty(szDestination)) return KIROWIRE_ERR_BAD_ARGUMENT;
  std::string strDestination = szDestination;
  auto pCall = std::make_shared<KIRO_HANDLE>(0);
  int nResult = stack.Run([=]() { return WireCallCreate(hLine, pCall.get(), strDestination); });
  if (nResult == 0) *phCall = *pCall;
  return nResult;
}

int __cdecl KIRO_CallAccept(KIRO_HANDLE hCall) {
  return CWireStack::Get().Run([hCall]() { return WireCallAccept(hCall); });
}

int __cdecl KIRO_CallAnswer(KIRO_HANDLE hCall) {
  return CWireStack::Get().Run([hCall]() { return WireCallAnswer(hCall); });
}

int __cdecl KIRO_CallDestroy(KIRO_HANDLE *phCall) {
  if (!phCall) return KIROWIRE_ERR_BAD_ARGUMENT;
  KIRO_HANDLE hCall = *phCall;
  int nResult = CWireStack::Get().Run([hCall]() { return WireCallDestroy(hCall); });
  if (nResult == 0) *phCall = 0;
  return nResult;
}

int __cdecl KIRO_CallStartPlayFile(KIRO_HANDLE hCall, const char *szFile, int) {
  return WithFile(hCall, szFile, &CWireMedia::Play);
}

int __cdecl KIRO_CallStopPlayFile(KIRO_HANDLE hCall) { return Stop(hCall, &CWireMedia::StopPlay); }

int __cdecl KIRO_CallRecordStart(KIRO_HANDLE hCall, const char *szFile) {
  return WithFile(hCall, szFile, &CWireMedia::Record);
}

int __cdecl KIRO_CallRecordStop(KIRO_HANDLE hCall) { return Stop(hCall, &CWireMedia::StopRecord); }
}
