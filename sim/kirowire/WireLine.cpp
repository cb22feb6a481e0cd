// Lines of the wire KIRO.dll: registration with digest authentication,
// renewals, refusals and unregistration (stack thread only; see KiroWire.h).
//
// libre's registration client renews by itself and retries a failed one;
// here a failure drops the client instead, so that the line stays held but
// unregistered until the host registers again, and no registration appears
// behind the host's back. A registration whose renewal gets no answer
// before it expires has lapsed at the registrar: the line drops then, not
// when libre gives up on the request half a minute later. An unregistration
// is confirmed when libre frees the client, which it does once the REGISTER
// with expiry 0 is answered.
#include "WireCore.h"
#include "WireMedia.h"

namespace {
void OnDropTimer(void *pArg) {
  SWireLine *pLine = CWireStack::Get().FindLine(static_cast<KIRO_HANDLE>(reinterpret_cast<uintptr_t>(pArg)));
  if (!pLine || !pLine->pReg) return;
  pLine->pWitness = nullptr;
  pLine->pReg = static_cast<struct sipreg *>(mem_deref(pLine->pReg));
}

// Slack for a renewal's answer on its way when the registration expires.
const uint64_t D_nLapseGraceMs = 250;

void DropLine(SWireLine &line, uint32_t nSipCode, void *pArg) {
  CWireStack::Get().QueueLineEvent(line.hLine, KIRO_LINE_UNREGISTERED, nSipCode, 0);
  tmr_cancel(&line.tmrLapse);
  // Not from inside libre's own handler.
  tmr_start(&line.tmrDrop, 0, OnDropTimer, pArg);
}

void OnLapse(void *pArg) {
  SWireLine *pLine = CWireStack::Get().FindLine(static_cast<KIRO_HANDLE>(reinterpret_cast<uintptr_t>(pArg)));
  if (pLine && pLine->pReg) DropLine(*pLine, 408, pArg);
}

void OnRegisterAnswer(int nError, const struct sip_msg *pMsg, void *pArg) {
  CWireStack &stack = CWireStack::Get();
  KIRO_HANDLE hLine = static_cast<KIRO_HANDLE>(reinterpret_cast<uintptr_t>(pArg));
  SWireLine *pLine = stack.FindLine(hLine);
  if (!pLine || !pLine->pReg) return;
  uint32_t nCode = pMsg ? pMsg->scode : 0;
  if (nError == 0 && pMsg && nCode >= 200 && nCode < 300) {
    uint32_t nExpires = sipreg_proxy_expires(pLine->pReg);
    stack.QueueLineEvent(hLine, KIRO_LINE_REGISTERED, nCode, nExpires);
    if (nExpires > 0) tmr_start(&pLine->tmrLapse, nExpires * 1000ull + D_nLapseGraceMs, OnLapse, pArg);
    return;
  }
  DropLine(*pLine, nCode, pArg);
}

void ForgetRegistration(SWireLine &line, bool bTell) {
  tmr_cancel(&line.tmrDrop);
  tmr_cancel(&line.tmrLapse);
  if (!line.pReg) return;
  if (line.pWitness) line.pWitness->bTell = bTell;
  line.pWitness = nullptr;
  // Sends the REGISTER with expiry 0 when registered; freed once answered.
  line.pReg = static_cast<struct sipreg *>(mem_deref(line.pReg));
}
}  // namespace

int WireAddLine(KIRO_HANDLE *phLine, const char *szIdentity) {
  CWireStack &stack = CWireStack::Get();
  std::unique_ptr<SWireLine> pLine(new SWireLine);
  pLine->hLine = stack.NewHandle(0x2000);
  pLine->strIdentity = szIdentity;
  tmr_init(&pLine->tmrDrop);
  tmr_init(&pLine->tmrLapse);
  *phLine = pLine->hLine;
  stack.m_lines[pLine->hLine] = std::move(pLine);
  return 0;
}

int WireLineRegister(KIRO_HANDLE hLine, const std::string &strDomain, const std::string &strUser,
                     const std::string &strCredential) {
  CWireStack &stack = CWireStack::Get();
  SWireLine *pLine = stack.FindLine(hLine);
  if (!pLine) return KIROWIRE_ERR_BAD_HANDLE;
  if (pLine->pReg) return KIROWIRE_ERR_WRONG_STATE;
  pLine->strDomain = strDomain;
  pLine->strUser = strUser;
  pLine->strCredential = strCredential;
  std::string strRegistrar = "sip:" + strDomain;
  std::string strAor = "sip:" + strUser + "@" + strDomain;
  const char *aRoute[1] = {stack.m_strProxy.c_str()};
  SWireWitness *pWitness = stack.NewWitness(hLine, false, *pLine);
  if (!pWitness) return KIROWIRE_ERR_STACK;
  int nError = sipreg_register(&pLine->pReg, stack.m_pSip, strRegistrar.c_str(), strAor.c_str(), nullptr,
                               strAor.c_str(), stack.m_nExpires, strUser.c_str(), aRoute,
                               stack.m_strProxy.empty() ? 0 : 1, 0, WireAuth, pWitness, true, OnRegisterAnswer,
                               reinterpret_cast<void *>(static_cast<uintptr_t>(hLine)), nullptr, nullptr);
  // The registration holds the witness now (or nothing does, on failure).
  mem_deref(pWitness);
  if (nError != 0) {
    pLine->pReg = nullptr;
    return KIROWIRE_ERR_STACK;
  }
  pLine->pWitness = pWitness;
  return 0;
}

int WireLineUnRegister(KIRO_HANDLE hLine) {
  CWireStack &stack = CWireStack::Get();
  SWireLine *pLine = stack.FindLine(hLine);
  if (!pLine) return KIROWIRE_ERR_BAD_HANDLE;
  if (!pLine->pReg) {
    // Not registered (never, or dropped after a failure): nothing to send.
    stack.QueueLineEvent(hLine, KIRO_LINE_UNREGISTERED, 0, 0);
    return 0;
  }
  ForgetRegistration(*pLine, true);
  return 0;
}

int WireRemoveLine(KIRO_HANDLE hLine) {
  CWireStack &stack = CWireStack::Get();
  SWireLine *pLine = stack.FindLine(hLine);
  if (!pLine) return KIROWIRE_ERR_BAD_HANDLE;
  ForgetRegistration(*pLine, false);
  stack.m_lines.erase(hLine);
  return 0;
}

int __cdecl KiroWire_LiveLines(void) {
  CWireStack &stack = CWireStack::Get();
  return stack.Run([&stack]() { return static_cast<int>(stack.m_lines.size()); });
}
