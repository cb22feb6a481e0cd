// The SIP plug-in's soak over the wire (./dev soak; a short shift in the test
// run): calls out and in, alternately, every other pair of them with media,
// against the wire suites' registrar and far ends (tests/wire/sip_wire.py
// --soak). The process's gauges are read once the warm-up's calls are over
// and at the end, each time with no call left anywhere, and printed in the
// table the other soaks print; the time per call is set against the time
// the far ends' scenarios and our media take by themselves.
//
// Sockets are kernel handles under Windows and Wine: the handles' row
// counts them with the rest.
#include <stdlib.h>

#include "SoakReport.h"
#include "sip_wire_fixture.h"

namespace {
// What the far ends take by themselves: the caller's talk time (its -d) and
// the prompt we play on a call out with media.
const double D_dIncomingSeconds = 0.3;
const double D_dPromptSeconds = 0.2;
// libre keeps each finished transaction for SIP's 64 times T1 (32 s), to
// answer retransmissions; a reading taken sooner counts them as growth. The
// warm-up lasts as long too, so that the heap has held the most the shift
// keeps at once before the first reading: the process's committed bytes
// stay at their high-water mark.
const DWORD D_dwTransactionsLingerMs = 64 * 500 + 1000;
// Private bytes move in pages and heap segments; the heap's bytes in use
// include libre's pools, which are the stack's own and not judged.
const SSoakTolerance D_Tolerance = {{0, 0, 256 * 1024, D_llNotJudged, D_llNotJudged, 0, 0, 0}};
}  // namespace

class CWireSoak : public CWireTest {
 protected:
  void OutgoingCall(int nCall, bool bMedia) {
    bool bPlaced = m_checks.Check("calls placed", TV_MakeCall(Env("WIRE_FAR").c_str()) == 0, nCall);
    bool bTalking = bPlaced && m_checks.Check("calls answered", Reach(STATE_TALKING), nCall);
    if (bTalking && bMedia) {
      std::string strEcho = File("echo.wav");
      m_checks.Check("media calls played and recorded",
                     TV_StartRecordFile(strEcho.c_str()) == 0 && TV_StartPlayFile(File("prompt200.wav").c_str()) == 0 &&
                         WaitFor([&]() { return FileSize(strEcho) >= 44 + 2 * 1600; }, D_dwStateMs) &&
                         TV_StopRecordFile() == 0,
                     nCall);
    }
    if (bTalking) m_checks.Check("calls ended by us", TV_HangUpCall() == 0, nCall);
  }

  void IncomingCall(int nCall, bool bMedia) {
    bool bRinging = m_checks.Check("calls offered", AskRunner("call-in") && Reach(STATE_RINGING), nCall);
    bool bTalking = bRinging && m_checks.Check("calls answered", TV_OffHook() == 0, nCall);
    if (bTalking && bMedia)
      m_checks.Check("media calls played and recorded", TV_StartRecordFile(File("incoming.wav").c_str()) == 0, nCall);
    if (bTalking) m_checks.Check("calls ended by the far end", Reach(STATE_REGISTERED), nCall);
  }

  // No call left in the plug-in, in the library or at the far ends' end.
  void Quiet(int nCall) {
    m_checks.Check("no call left", WaitFor([this]() { return m_pfnLiveCalls() == 0; }, D_dwStateMs) &&
                                       Reach(STATE_REGISTERED), nCall);
  }

  static int StackBlocks() {
    auto pfn = reinterpret_cast<PFN_Count>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("KIRO.dll"), "KiroWire_StackBlocks")));
    return pfn ? pfn() : -1;
  }

  CSoakChecks m_checks;
};

TEST_F(CWireSoak, Shift) {
  SSoakOptions options;
  options.nCalls = atoi(Env("WIRE_SOAK_CALLS").c_str());
  options.bJudgeGrowth = Env("WIRE_SOAK_JUDGE") != "0";
  ASSERT_GT(options.nCalls, 0) << "WIRE_SOAK_CALLS";
  printf("== soak: the SIP plug-in over the wire KIRO.dll, kamailio and SIPp, %d calls\n", options.nCalls);
  ASSERT_EQ(Register(), 0);
  int nWarmUp = options.nCalls;  // set when the warm-up ends
  SSoakGauges warm, end;
  double dScripted = 0, dWarmAt = 0;
  int nWarmBlocks = 0;
  SoakSeconds();
  for (int nCall = 1; nCall <= options.nCalls; ++nCall) {
    bool bMedia = (nCall - 1) / 2 % 2 == 0;
    if (nCall % 2) {
      OutgoingCall(nCall, bMedia);
      if (nWarmUp < nCall && bMedia) dScripted += D_dPromptSeconds;
    } else {
      IncomingCall(nCall, bMedia);
      if (nWarmUp < nCall) dScripted += D_dIncomingSeconds;
    }
    Quiet(nCall);
    // A short shift, whose growth is only reported, warms up for a tenth.
    bool bWarmedUp = options.bJudgeGrowth
                         ? SoakSeconds() * 1000 >= D_dwTransactionsLingerMs || nCall == options.nCalls / 2
                         : nCall == options.WarmUpCalls();
    if (nWarmUp == options.nCalls && bWarmedUp) nWarmUp = nCall;
    if (nCall == nWarmUp) {
      if (options.bJudgeGrowth) Sleep(D_dwTransactionsLingerMs);
      warm = ReadSoakGauges();
      nWarmBlocks = StackBlocks();
      // The time per call leaves the pause for the reading out.
      dWarmAt = SoakSeconds();
    }
    PrintSoakProgress(nCall);
  }
  const double dSeconds = SoakSeconds();
  if (options.bJudgeGrowth) Sleep(D_dwTransactionsLingerMs);
  end = ReadSoakGauges();
  PrintGaugeTable(nWarmUp, warm, end, 0, "", SSoakGauges(), D_Tolerance);
  printf("   libre's memory blocks in use: %d after call %d, %d at the end\n", nWarmBlocks, nWarmUp, StackBlocks());
  JudgeGrowth(m_checks, options, "zero growth of the gauges", GaugesWithin(end - warm, D_Tolerance), options.nCalls);
  const int nMeasured = options.nCalls - nWarmUp;
  if (nMeasured > 0 && dScripted > 0)
    printf("time per call after the warm-up: %.0f ms; the far ends' scenarios and our prompt alone: %.0f ms; "
           "ratio %.2f\n",
           1000 * (dSeconds - dWarmAt) / nMeasured, 1000 * dScripted / nMeasured, (dSeconds - dWarmAt) / dScripted);
  static const SSoakCheckRow s_aRows[] = {
      {"calls placed", "calls placed"},
      {"calls offered", "calls offered and rung"},
      {"calls answered", "calls answered"},
      {"media calls played and recorded", "media: played and recorded"},
      {"calls ended by us", "calls ended by us (CANCEL or BYE)"},
      {"calls ended by the far end", "calls ended by the far end (BYE)"},
      {"no call left", "no call left after each call"},
      {"zero growth of the gauges", "zero growth of the gauges (within tolerance)"},
  };
  PrintCheckRows(m_checks, s_aRows, sizeof s_aRows / sizeof s_aRows[0]);
  EXPECT_EQ(TV_UnInitialize(), 0);
  EXPECT_EQ(PrintVerdict(m_checks, options.nCalls, dSeconds), 0);
}
