// Inside the wire KIRO.dll (see KiroWire.h): the stack thread's state.
// Everything here is touched on the stack thread only, except Run(), which
// any thread may call to have a function run there.
#pragma once

#include <winsock2.h>
#include <windows.h>

extern "C" {
#include <re.h>
}

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "KiroWire.h"

class CWireMedia;

// A libre object's last reference keeps one of these: when libre has freed a
// session or a registration, with all its transactions over, the witness's
// destructor tells the stack. It also carries the credentials for the
// object's digest challenges.
struct SWireWitness {
  KIRO_HANDLE hOwner;
  bool bTell;  // tell the owner's end when the object is freed
  bool bCall;
  char szUser[128];
  char szPassword[128];
};

struct SWireLine {
  KIRO_HANDLE hLine = 0;
  std::string strIdentity, strDomain, strUser, strCredential;
  struct sipreg *pReg = nullptr;
  SWireWitness *pWitness = nullptr;  // the registration's, while pReg lives
  struct tmr tmrDrop;
  struct tmr tmrLapse;  // the registration's expiry, unless renewed first
};

struct SWireCall {
  KIRO_HANDLE hCall = 0, hLine = 0;
  int nDirection = KIROWIRE_OUTGOING;
  struct sipsess *pSess = nullptr;
  const struct sip_msg *pOffer = nullptr;  // an incoming INVITE until accepted
  std::unique_ptr<CWireMedia> pMedia;
  uint16_t nLastProgress = 0;
  bool bEstablished = false, bReleased = false, bDestroyed = false;
};

class CWireStack {
 public:
  static CWireStack &Get();
  // Starts the stack thread once; 0 and the instance handle.
  int Start(int nSipPort, int nRtpPort, KIRO_HANDLE *phInstance);
  bool Started() const { return m_hInstance != 0; }
  // Runs fn on the stack thread and gives its result: at once on the stack
  // thread itself, else handed over and waited for (bounded).
  int Run(const std::function<int()> &fn);
  bool OnStackThread() const { return GetCurrentThreadId() == m_dwThreadId; }

  int AddListener(KIRO_EVENT_CALLBACK pfn, void *pContext);
  void QueueCallEvent(const SWireCall &call, uint32_t nCode, uint32_t nSipCode);
  void QueueLineEvent(KIRO_HANDLE hLine, uint32_t nCode, uint32_t nSipCode, uint32_t nExpires);
  // A witness's object is gone: the end of its call or unregistration.
  void OnWitnessGone(const SWireWitness &witness);
  SWireWitness *NewWitness(KIRO_HANDLE hOwner, bool bCall, const SWireLine &line);

  SWireLine *FindLine(KIRO_HANDLE hLine);
  SWireCall *FindCall(KIRO_HANDLE hCall);
  KIRO_HANDLE NewHandle(uint32_t nBase) { return nBase + ++m_nHandles; }

  struct sip *m_pSip = nullptr;
  struct sipsess_sock *m_pSessSock = nullptr;
  struct sa m_laddr;  // the SIP address; RTP binds the same host
  uint16_t m_nRtpBase = 10000;
  uint16_t m_nRtpSpan = 32;
  uint32_t m_nExpires = 600;
  std::string m_strProxy;  // route URI, empty for none
  KIRO_HANDLE m_hInstance = 0;
  std::map<KIRO_HANDLE, std::unique_ptr<SWireLine>> m_lines;
  std::map<KIRO_HANDLE, std::unique_ptr<SWireCall>> m_calls;

 private:
  struct SEvent {
    int nType;
    uint32_t aWords[KIRO_RECORD_WORDS];
    KIRO_HANDLE hFreeCall;  // the call to forget once this event is told
  };
  struct SListener {
    KIRO_EVENT_CALLBACK pfn;
    void *pContext;
  };
  static DWORD WINAPI StackMain(void *pArg);
  static void OnWake(int nFlags, void *pArg);
  static void OnDrain(void *pArg);
  int SetUp();
  void Queue(const SEvent &event);

  DWORD m_dwThreadId = 0;
  SOCKET m_wakeSocket = INVALID_SOCKET;
  struct sockaddr_in m_wakeAddr;
  int m_nSipPort = 5060;
  int m_nSetUpResult = 0;
  HANDLE m_hReady = nullptr;
  uint32_t m_nHandles = 0;
  std::deque<SEvent> m_events;
  struct tmr m_tmrDrain;
  CRITICAL_SECTION m_csListeners;
  std::deque<SListener> m_listeners;
};

// The settings from the environment (KiroWire.h).
void WireReadSettings(CWireStack &stack, int nSipPort, int nRtpPort);
void WireOpenTrace(struct sip *pSip);

// Stack-thread halves of the KIRO_ requests.
int WireAddLine(KIRO_HANDLE *phLine, const char *szIdentity);
int WireLineRegister(KIRO_HANDLE hLine, const std::string &strDomain, const std::string &strUser,
                     const std::string &strCredential);
int WireLineUnRegister(KIRO_HANDLE hLine);
int WireRemoveLine(KIRO_HANDLE hLine);
int WireCallCreate(KIRO_HANDLE hLine, KIRO_HANDLE *phCall, const std::string &strDestination);
int WireCallAccept(KIRO_HANDLE hCall);
int WireCallAnswer(KIRO_HANDLE hCall);
int WireCallDestroy(KIRO_HANDLE hCall);
void WireIncomingCall(const struct sip_msg *pMsg);
// Digest credentials for a witness's object.
int WireAuth(char **pszUser, char **pszPassword, const char *szRealm, void *pArg);
