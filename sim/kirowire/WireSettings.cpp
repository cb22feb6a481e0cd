// The environment settings of the wire KIRO.dll and its SIP trace file.
// They are how an integrator points the library at a registrar and far ends
// of their own, and how several copies run side by side on one host.
#include <stdio.h>
#include <stdlib.h>

#include "WireCore.h"

namespace {
FILE *g_pTrace = nullptr;

std::string Setting(const char *szName) {
  char szValue[512];
  DWORD dwLength = GetEnvironmentVariableA(szName, szValue, sizeof szValue);
  return dwLength > 0 && dwLength < sizeof szValue ? std::string(szValue) : std::string();
}

// "host:port", "host" (the port asked) or nothing (the default source
// address and the port asked).
void ReadSipAddress(struct sa &laddr, int nSipPort) {
  std::string strAddr = Setting("KIRO_SIP_ADDR");
  if (!strAddr.empty() && sa_decode(&laddr, strAddr.c_str(), strAddr.size()) == 0) return;
  if (!strAddr.empty() && sa_set_str(&laddr, strAddr.c_str(), static_cast<uint16_t>(nSipPort)) == 0) return;
  // Contact and Via carry this address, so it must be one the far end reaches.
  if (net_default_source_addr_get(AF_INET, &laddr) != 0) sa_set_str(&laddr, "127.0.0.1", 0);
  sa_set_port(&laddr, static_cast<uint16_t>(nSipPort));
}

uint32_t ReadNumber(const char *szName, uint32_t nDefault) {
  std::string strValue = Setting(szName);
  char *pEnd = nullptr;
  unsigned long ulValue = strtoul(strValue.c_str(), &pEnd, 10);
  return strValue.empty() || *pEnd || ulValue == 0 ? nDefault : static_cast<uint32_t>(ulValue);
}

void OnTrace(bool bSent, enum sip_transp, const struct sa *, const struct sa *, const uint8_t *pPacket,
             size_t nLength, void *) {
  if (!g_pTrace) return;
  size_t nLine = 0;
  while (nLine < nLength && pPacket[nLine] != '\r' && pPacket[nLine] != '\n') ++nLine;
  if (nLine == 0) return;  // keep-alive
  SYSTEMTIME now;
  GetLocalTime(&now);
  fprintf(g_pTrace, "%02u:%02u:%02u.%03u %s %.*s\n", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
          bSent ? "send" : "recv", static_cast<int>(nLine), reinterpret_cast<const char *>(pPacket));
  fflush(g_pTrace);
}
}  // namespace

void WireReadSettings(CWireStack &stack, int nSipPort, int nRtpPort) {
  ReadSipAddress(stack.m_laddr, nSipPort);
  stack.m_nRtpBase = static_cast<uint16_t>(ReadNumber("KIRO_RTP_BASE", static_cast<uint32_t>(nRtpPort)));
  stack.m_nExpires = ReadNumber("KIRO_REG_EXPIRES", 600);
}

void WireOpenTrace(struct sip *pSip) {
  std::string strTrace = Setting("KIRO_TRACE");
  if (strTrace.empty()) return;
  g_pTrace = fopen(strTrace.c_str(), "a");
  if (g_pTrace) sip_set_trace_handler(pSip, OnTrace);
}
