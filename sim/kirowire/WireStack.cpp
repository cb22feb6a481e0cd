// The stack thread of the wire KIRO.dll: start, the hand-over of requests
// from other threads, and the delivery of events (see KiroWire.h).
//
// A request from another thread travels as the address of its SRequest in a
// datagram to the stack's own loopback socket, which libre's poll loop
// watches: no libre function (whose memory bookkeeping is not thread-safe)
// ever runs off the stack thread. The requester waits on the request's event
// with a bound; whichever side lets go last frees it.
#include "WireCore.h"
#include "WireMedia.h"

namespace {
const DWORD D_dwRequestMs = 10000;  // a stack busy for this long fails the request
const DWORD D_dwStartMs = 10000;

struct SRequest {
  std::function<int()> fn;
  int nResult = KIROWIRE_ERR_TIMEOUT;
  HANDLE hDone = nullptr;
  LONG lRefs = 2;
  void Release() {
    if (InterlockedDecrement(&lRefs) == 0) {
      CloseHandle(hDone);
      delete this;
    }
  }
};

void OnWitnessFreed(void *pArg) { CWireStack::Get().OnWitnessGone(*static_cast<SWireWitness *>(pArg)); }

void OnSessConnect(const struct sip_msg *pMsg, void *) { WireIncomingCall(pMsg); }
}  // namespace

CWireStack &CWireStack::Get() {
  static CWireStack *s_pStack = new CWireStack();
  return *s_pStack;
}

int CWireStack::Start(int nSipPort, int nRtpPort, KIRO_HANDLE *phInstance) {
  if (!phInstance) return KIROWIRE_ERR_BAD_ARGUMENT;
  if (m_hInstance != 0) return KIROWIRE_ERR_WRONG_STATE;  // once per process
  InitializeCriticalSection(&m_csListeners);
  WireReadSettings(*this, nSipPort, nRtpPort);
  m_nSipPort = nSipPort;
  m_hReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE hThread = CreateThread(nullptr, 0, StackMain, this, 0, &m_dwThreadId);
  if (!hThread) return KIROWIRE_ERR_STACK;
  CloseHandle(hThread);
  if (WaitForSingleObject(m_hReady, D_dwStartMs) != WAIT_OBJECT_0) return KIROWIRE_ERR_TIMEOUT;
  if (m_nSetUpResult != 0) return m_nSetUpResult;
  m_hInstance = 0x1001;
  *phInstance = m_hInstance;
  return 0;
}

DWORD WINAPI CWireStack::StackMain(void *pArg) {
  CWireStack &stack = *static_cast<CWireStack *>(pArg);
  stack.m_nSetUpResult = libre_init() == 0 ? stack.SetUp() : KIROWIRE_ERR_STACK;
  bool bUp = stack.m_nSetUpResult == 0;
  SetEvent(stack.m_hReady);
  // Never left: nothing shuts the library down.
  if (bUp) re_main(nullptr);
  return 0;
}

int CWireStack::SetUp() {
  tmr_init(&m_tmrDrain);
  if (sip_alloc(&m_pSip, nullptr, 32, 32, 32, "kIRO wire", nullptr, nullptr) != 0) return KIROWIRE_ERR_STACK;
  if (sip_transp_add(m_pSip, SIP_TRANSP_UDP, &m_laddr) != 0) return KIROWIRE_ERR_STACK;
  if (sipsess_listen(&m_pSessSock, m_pSip, 32, OnSessConnect, nullptr) != 0) return KIROWIRE_ERR_STACK;
  WireOpenTrace(m_pSip);
  m_wakeSocket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (m_wakeSocket == INVALID_SOCKET) return KIROWIRE_ERR_STACK;
  memset(&m_wakeAddr, 0, sizeof m_wakeAddr);
  m_wakeAddr.sin_family = AF_INET;
  m_wakeAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int nLength = sizeof m_wakeAddr;
  if (bind(m_wakeSocket, reinterpret_cast<sockaddr *>(&m_wakeAddr), sizeof m_wakeAddr) != 0 ||
      getsockname(m_wakeSocket, reinterpret_cast<sockaddr *>(&m_wakeAddr), &nLength) != 0)
    return KIROWIRE_ERR_STACK;
  u_long ulNonBlocking = 1;
  ioctlsocket(m_wakeSocket, FIONBIO, &ulNonBlocking);
  return fd_listen(static_cast<int>(m_wakeSocket), FD_READ, OnWake, this) == 0 ? 0 : KIROWIRE_ERR_STACK;
}

int CWireStack::Run(const std::function<int()> &fn) {
  if (m_hInstance == 0 && !OnStackThread()) return KIROWIRE_ERR_WRONG_STATE;
  if (OnStackThread()) return fn();
  SRequest *pRequest = new SRequest;
  pRequest->fn = fn;
  pRequest->hDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  char aBytes[sizeof(SRequest *)];
  memcpy(aBytes, &pRequest, sizeof pRequest);
  int nSent = sendto(m_wakeSocket, aBytes, sizeof aBytes, 0, reinterpret_cast<sockaddr *>(&m_wakeAddr),
                     sizeof m_wakeAddr);
  if (nSent != static_cast<int>(sizeof aBytes)) {
    pRequest->Release();  // never reaches the stack: both references are ours
    pRequest->Release();
    return KIROWIRE_ERR_STACK;
  }
  int nResult = KIROWIRE_ERR_TIMEOUT;
  if (WaitForSingleObject(pRequest->hDone, D_dwRequestMs) == WAIT_OBJECT_0) nResult = pRequest->nResult;
  pRequest->Release();
  return nResult;
}

void CWireStack::OnWake(int, void *pArg) {
  CWireStack &stack = *static_cast<CWireStack *>(pArg);
  char aBytes[sizeof(SRequest *)];
  while (recv(stack.m_wakeSocket, aBytes, sizeof aBytes, 0) == static_cast<int>(sizeof aBytes)) {
    SRequest *pRequest;
    memcpy(&pRequest, aBytes, sizeof pRequest);
    pRequest->nResult = pRequest->fn();
    SetEvent(pRequest->hDone);
    pRequest->Release();
  }
}

int CWireStack::AddListener(KIRO_EVENT_CALLBACK pfn, void *pContext) {
  if (!pfn) return KIROWIRE_ERR_BAD_ARGUMENT;
  EnterCriticalSection(&m_csListeners);
  m_listeners.push_back({pfn, pContext});
  LeaveCriticalSection(&m_csListeners);
  return 0;
}

void CWireStack::QueueCallEvent(const SWireCall &call, uint32_t nCode, uint32_t nSipCode) {
  SEvent event = {KIRO_EVENT_CALL, {m_hInstance, call.hCall, call.hLine, nCode, 1, nSipCode,
                                    static_cast<uint32_t>(call.nDirection), 0}, 0};
  Queue(event);
}

void CWireStack::QueueLineEvent(KIRO_HANDLE hLine, uint32_t nCode, uint32_t nSipCode, uint32_t nExpires) {
  SEvent event = {KIRO_EVENT_LINE, {m_hInstance, hLine, nCode, nSipCode, nExpires, 0, 0, 0}, 0};
  Queue(event);
}

void CWireStack::Queue(const SEvent &event) {
  m_events.push_back(event);
  if (!tmr_isrunning(&m_tmrDrain)) tmr_start(&m_tmrDrain, 0, OnDrain, this);
}

// Outside every libre handler: a listener may destroy the call it hears of.
void CWireStack::OnDrain(void *pArg) {
  CWireStack &stack = *static_cast<CWireStack *>(pArg);
  while (!stack.m_events.empty()) {
    SEvent event = stack.m_events.front();
    stack.m_events.pop_front();
    EnterCriticalSection(&stack.m_csListeners);
    std::deque<SListener> listeners = stack.m_listeners;
    LeaveCriticalSection(&stack.m_csListeners);
    for (const SListener &listener : listeners) listener.pfn(event.nType, event.aWords, listener.pContext);
    if (event.hFreeCall) stack.m_calls.erase(event.hFreeCall);
  }
}

SWireWitness *CWireStack::NewWitness(KIRO_HANDLE hOwner, bool bCall, const SWireLine &line) {
  SWireWitness *pWitness = static_cast<SWireWitness *>(mem_zalloc(sizeof(SWireWitness), OnWitnessFreed));
  if (!pWitness) return nullptr;
  pWitness->hOwner = hOwner;
  pWitness->bCall = bCall;
  pWitness->bTell = bCall;
  str_ncpy(pWitness->szUser, line.strUser.c_str(), sizeof pWitness->szUser);
  str_ncpy(pWitness->szPassword, line.strCredential.c_str(), sizeof pWitness->szPassword);
  return pWitness;
}

void CWireStack::OnWitnessGone(const SWireWitness &witness) {
  if (!witness.bTell) return;
  if (!witness.bCall) {
    QueueLineEvent(witness.hOwner, KIRO_LINE_UNREGISTERED, 200, 0);
    return;
  }
  SWireCall *pCall = FindCall(witness.hOwner);
  if (!pCall) return;
  SEvent event = {KIRO_EVENT_CALL, {m_hInstance, pCall->hCall, pCall->hLine, KIRO_CALL_CLOSED, 1, 0,
                                    static_cast<uint32_t>(pCall->nDirection), 0}, pCall->hCall};
  Queue(event);
}

SWireLine *CWireStack::FindLine(KIRO_HANDLE hLine) {
  auto it = m_lines.find(hLine);
  return it == m_lines.end() ? nullptr : it->second.get();
}

SWireCall *CWireStack::FindCall(KIRO_HANDLE hCall) {
  auto it = m_calls.find(hCall);
  return it == m_calls.end() ? nullptr : it->second.get();
}

int WireAuth(char **pszUser, char **pszPassword, const char *, void *pArg) {
  const SWireWitness *pWitness = static_cast<const SWireWitness *>(pArg);
  if (str_dup(pszUser, pWitness->szUser) != 0) return ENOMEM;
  return str_dup(pszPassword, pWitness->szPassword);
}

int __cdecl KiroWire_StackBlocks(void) {
  return CWireStack::Get().Run([]() {
    struct memstat stat;
    return mem_get_stat(&stat) == 0 ? static_cast<int>(stat.blocks_cur) : -1;
  });
}
