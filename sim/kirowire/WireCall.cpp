// Calls of the wire KIRO.dll: INVITE out and in, progress, answer, the ends
// of a call and its destruction in each state (stack thread only; the SIP to
// event table is in KiroWire.h).
//
// libre's session calls its handlers with the call's handle, looked up
// afresh each time, so that nothing it says about a call already forgotten
// can reach freed memory. The session's last reference holds the call's
// witness: 11000 is told when libre has freed the session, with its CANCEL,
// BYE or 486 transaction over.
#include "WireCore.h"
#include "WireMedia.h"

namespace {
const char D_szSdp[] = "application/sdp";

void *HandleArg(KIRO_HANDLE hCall) { return reinterpret_cast<void *>(static_cast<uintptr_t>(hCall)); }
SWireCall *CallOf(void *pArg) {
  return CWireStack::Get().FindCall(static_cast<KIRO_HANDLE>(reinterpret_cast<uintptr_t>(pArg)));
}

bool HasBody(const struct sip_msg *pMsg) { return pMsg && pMsg->mb && mbuf_get_left(pMsg->mb) > 0; }

// A re-INVITE (hold, resume): the new offer is taken and answered.
int OnOffer(struct mbuf **ppDesc, const struct sip_msg *pMsg, void *pArg) {
  SWireCall *pCall = CallOf(pArg);
  if (!pCall) return ENOENT;
  if (pCall->pMedia->Learn(pMsg->mb, true) != 0) return EPROTO;
  return pCall->pMedia->Describe(ppDesc, false) == 0 ? 0 : ENOMEM;
}

int OnAnswer(const struct sip_msg *pMsg, void *pArg) {
  SWireCall *pCall = CallOf(pArg);
  if (pCall) pCall->pMedia->Learn(pMsg->mb, false);
  return 0;
}

void OnProgress(const struct sip_msg *pMsg, void *pArg) {
  SWireCall *pCall = CallOf(pArg);
  if (!pCall || pMsg->scode < 180 || pMsg->scode == pCall->nLastProgress) return;
  pCall->nLastProgress = pMsg->scode;
  // Early media: the 183's description tells where the far end listens.
  if (HasBody(pMsg)) pCall->pMedia->Learn(pMsg->mb, false);
  CWireStack::Get().QueueCallEvent(*pCall, KIRO_CALL_ALERTING, pMsg->scode);
}

void OnEstablished(const struct sip_msg *pMsg, void *pArg) {
  SWireCall *pCall = CallOf(pArg);
  if (!pCall || pCall->bEstablished) return;
  pCall->bEstablished = true;
  CWireStack::Get().QueueCallEvent(*pCall, KIRO_CALL_CONNECTED, pMsg && !pMsg->req ? pMsg->scode : 0);
}

// The SIP status code behind a call's end, for word 5.
uint32_t EndCode(const SWireCall &call, int nError, const struct sip_msg *pMsg) {
  if (pMsg && !pMsg->req) return pMsg->scode;
  if (nError == ETIMEDOUT) return 408;
  if (call.nDirection == KIROWIRE_INCOMING && !call.bEstablished) return 487;  // the caller's CANCEL
  return 0;
}

void OnClosed(int nError, const struct sip_msg *pMsg, void *pArg) {
  SWireCall *pCall = CallOf(pArg);
  if (!pCall || pCall->bReleased) return;
  pCall->bReleased = true;
  pCall->pMedia->End();
  CWireStack::Get().QueueCallEvent(*pCall, KIRO_CALL_RELEASED, EndCode(*pCall, nError, pMsg));
}

// "sip:..." as given; a bare user part gets the line's domain.
std::string TargetUri(const std::string &strDestination, const SWireLine &line) {
  if (strDestination.compare(0, 4, "sip:") == 0 || strDestination.compare(0, 5, "sips:") == 0) return strDestination;
  return "sip:" + strDestination + "@" + line.strDomain;
}

SWireCall *NewCall(KIRO_HANDLE hLine, int nDirection) {
  CWireStack &stack = CWireStack::Get();
  std::unique_ptr<SWireCall> pCall(new SWireCall);
  pCall->hCall = stack.NewHandle(0x3000);
  pCall->hLine = hLine;
  pCall->nDirection = nDirection;
  pCall->pMedia.reset(new CWireMedia);
  if (pCall->pMedia->Open(stack.m_laddr, stack.m_nRtpBase, stack.m_nRtpSpan) != 0) return nullptr;
  SWireCall *pKept = pCall.get();
  stack.m_calls[pKept->hCall] = std::move(pCall);
  return pKept;
}

int Connect(SWireCall &call, const SWireLine &line, const std::string &strTarget) {
  CWireStack &stack = CWireStack::Get();
  std::string strFrom = "sip:" + line.strUser + "@" + line.strDomain;
  const char *aRoute[1] = {stack.m_strProxy.c_str()};
  struct mbuf *pOffer = nullptr;
  if (call.pMedia->Describe(&pOffer, true) != 0) return KIROWIRE_ERR_STACK;
  SWireWitness *pWitness = stack.NewWitness(call.hCall, true, line);
  int nError = pWitness ? sipsess_connect(&call.pSess, stack.m_pSessSock, strTarget.c_str(), nullptr, strFrom.c_str(),
                                          line.strUser.c_str(), aRoute, stack.m_strProxy.empty() ? 0 : 1, D_szSdp,
                                          pOffer, WireAuth, pWitness, true, OnOffer, OnAnswer, OnProgress,
                                          OnEstablished, nullptr, nullptr, OnClosed, HandleArg(call.hCall), nullptr)
                        : ENOMEM;
  mem_deref(pWitness);
  mem_deref(pOffer);
  return nError == 0 ? 0 : KIROWIRE_ERR_STACK;
}
}  // namespace

int WireCallCreate(KIRO_HANDLE hLine, KIRO_HANDLE *phCall, const std::string &strDestination) {
  CWireStack &stack = CWireStack::Get();
  SWireLine *pLine = stack.FindLine(hLine);
  if (!pLine) return KIROWIRE_ERR_BAD_HANDLE;
  if (pLine->strDomain.empty()) return KIROWIRE_ERR_WRONG_STATE;  // never registered: no account
  SWireCall *pCall = NewCall(hLine, KIROWIRE_OUTGOING);
  if (!pCall) return KIROWIRE_ERR_STACK;
  int nResult = Connect(*pCall, *pLine, TargetUri(strDestination, *pLine));
  if (nResult != 0) {
    stack.m_calls.erase(pCall->hCall);
    return nResult;
  }
  *phCall = pCall->hCall;
  stack.QueueCallEvent(*pCall, KIRO_CALL_CREATED, 0);
  stack.QueueCallEvent(*pCall, KIRO_CALL_OUTGOING, 0);
  return 0;
}

void WireIncomingCall(const struct sip_msg *pMsg) {
  CWireStack &stack = CWireStack::Get();
  // The line whose user the INVITE is for, else the first line.
  SWireLine *pLine = nullptr;
  for (auto &entry : stack.m_lines) {
    if (!pLine) pLine = entry.second.get();
    if (pl_strcmp(&pMsg->uri.user, entry.second->strUser.c_str()) == 0) pLine = entry.second.get();
  }
  SWireCall *pCall = pLine ? NewCall(pLine->hLine, KIROWIRE_INCOMING) : nullptr;
  if (!pCall || pCall->pMedia->Learn(pMsg->mb, true) != 0) {
    if (pCall) stack.m_calls.erase(pCall->hCall);
    (void)sip_reply(stack.m_pSip, pMsg, pLine ? 488 : 480, pLine ? "Not Acceptable Here" : "Temporarily Unavailable");
    return;
  }
  pCall->pOffer = static_cast<const struct sip_msg *>(mem_ref(const_cast<struct sip_msg *>(pMsg)));
  stack.QueueCallEvent(*pCall, KIRO_CALL_OFFERED, 0);
}

int WireCallAccept(KIRO_HANDLE hCall) {
  CWireStack &stack = CWireStack::Get();
  SWireCall *pCall = stack.FindCall(hCall);
  if (!pCall) return KIROWIRE_ERR_BAD_HANDLE;
  SWireLine *pLine = stack.FindLine(pCall->hLine);
  if (!pCall->pOffer || pCall->pSess || !pLine) return KIROWIRE_ERR_WRONG_STATE;
  SWireWitness *pWitness = stack.NewWitness(hCall, true, *pLine);
  int nError = pWitness ? sipsess_accept(&pCall->pSess, stack.m_pSessSock, pCall->pOffer, 180, "Ringing",
                                         pLine->strUser.c_str(), D_szSdp, nullptr, WireAuth, pWitness, true, OnOffer,
                                         OnAnswer, OnEstablished, nullptr, nullptr, OnClosed, HandleArg(hCall), nullptr)
                        : ENOMEM;
  mem_deref(pWitness);
  if (nError != 0) return KIROWIRE_ERR_STACK;
  pCall->pOffer = static_cast<const struct sip_msg *>(mem_deref(const_cast<struct sip_msg *>(pCall->pOffer)));
  stack.QueueCallEvent(*pCall, KIRO_CALL_RINGING, 180);
  return 0;
}

int WireCallAnswer(KIRO_HANDLE hCall) {
  SWireCall *pCall = CWireStack::Get().FindCall(hCall);
  if (!pCall) return KIROWIRE_ERR_BAD_HANDLE;
  if (!pCall->pSess || pCall->nDirection != KIROWIRE_INCOMING || pCall->bEstablished || pCall->bReleased)
    return KIROWIRE_ERR_WRONG_STATE;
  struct mbuf *pAnswer = nullptr;
  if (pCall->pMedia->Describe(&pAnswer, false) != 0) return KIROWIRE_ERR_STACK;
  int nError = sipsess_answer(pCall->pSess, 200, "OK", pAnswer, nullptr);
  mem_deref(pAnswer);
  return nError == 0 ? 0 : KIROWIRE_ERR_STACK;
}

int WireCallDestroy(KIRO_HANDLE hCall) {
  CWireStack &stack = CWireStack::Get();
  SWireCall *pCall = stack.FindCall(hCall);
  if (!pCall) return KIROWIRE_ERR_BAD_HANDLE;
  if (pCall->bDestroyed) return KIROWIRE_ERR_WRONG_STATE;
  pCall->bDestroyed = true;
  pCall->pMedia->End();
  if (!pCall->pSess) {
    // Offered, never accepted: declined here, no session to wait for.
    if (pCall->pOffer) (void)sip_reply(stack.m_pSip, pCall->pOffer, 486, "Busy Here");
    pCall->pOffer = static_cast<const struct sip_msg *>(mem_deref(const_cast<struct sip_msg *>(pCall->pOffer)));
    SWireWitness witness = {hCall, true, true, "", ""};
    stack.OnWitnessGone(witness);
    return 0;
  }
  // CANCEL, 486 or BYE as the session's state asks; the witness tells the end.
  struct sipsess *pSess = pCall->pSess;
  pCall->pSess = nullptr;
  mem_deref(pSess);
  return 0;
}

int __cdecl KiroWire_LiveCalls(void) {
  CWireStack &stack = CWireStack::Get();
  return stack.Run([&stack]() { return static_cast<int>(stack.m_calls.size()); });
}
