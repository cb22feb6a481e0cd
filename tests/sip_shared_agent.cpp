// The shared-agent fixture and its flows (see sip_shared_agent.h).
#include "sip_shared_agent.h"

#include <stdio.h>

#include <algorithm>

namespace {
// Longest any export may take: a 5 s wait after the 0.5 s unregistration
// pause, with room for a busy machine.
const double D_dExportBoundMs = 8000;

const std::vector<int> D_waitResults = {0, -1, -2};
const std::vector<int> D_registerResults = {0, -1, -2, -3};
const std::vector<int> D_fileResults = {0, -1};
const std::vector<int> D_pickUpResults = {0};
}  // namespace

const std::vector<SSipFlow> &SipFlows() {
  static const std::vector<SSipFlow> s_flows = {
      {"Outgoing", {{STEP_CALL, 0}, {STEP_SETTLE, 0}, {STEP_HANG_UP, 0}}},
      {"OutgoingAnsweredWithFiles",
       {{STEP_CALL, 0}, {STEP_SETTLE, 0}, {STEP_FAR_ANSWER, 0}, {STEP_PLAY, 0},
        {STEP_RECORD, 0}, {STEP_STOP_RECORD, 0}, {STEP_STOP_PLAY, 0}, {STEP_HANG_UP, 0}}},
      {"OutgoingFarEndHangsUp",
       {{STEP_CALL, 0}, {STEP_SETTLE, 0}, {STEP_FAR_ANSWER, 0}, {STEP_FAR_HANG_UP, 0}}},
      {"Incoming", {{STEP_OFFER, 0}, {STEP_ANSWER, 0}, {STEP_HANG_UP, 0}}},
      {"IncomingFarEndHangsUp", {{STEP_OFFER, 0}, {STEP_ANSWER, 0}, {STEP_FAR_HANG_UP, 0}}},
      {"AutoAnswer", {{STEP_PICK_UP, 0}, {STEP_OFFER, 0}, {STEP_PLAY, 0}, {STEP_HANG_UP, 0}}},
      {"Reregister", {{STEP_UNREGISTER, 0}, {STEP_REGISTER, 0}}},
      {"UnregisterDuringACall",
       {{STEP_CALL, 0}, {STEP_SETTLE, 0}, {STEP_UNREGISTER, 0}, {STEP_SETTLE, 0},
        {STEP_REGISTER, 0}}},
      {"LineDroppedWhileIdle",
       {{STEP_EXPIRE, 0}, {STEP_CALL, -2}, {STEP_REGISTER, 0}, {STEP_CALL, 0},
        {STEP_HANG_UP, 0}}},
      {"LineDroppedDuringACall",
       {{STEP_OFFER, 0}, {STEP_ANSWER, 0}, {STEP_EXPIRE, 0}, {STEP_PLAY, 0}, {STEP_HANG_UP, 0},
        {STEP_CALL, -2}, {STEP_REGISTER, 0}}},
      {"NobodyAnswersHangUpWhileCalling",
       {{STEP_NOBODY_ANSWERS, 0}, {STEP_CALL, 0}, {STEP_HANG_UP, 0}}},
      {"NobodyAnswersTheLibraryGivesUp",
       {{STEP_NOBODY_ANSWERS, 0}, {STEP_CALL, 0}, {STEP_SETTLE, 0}, {STEP_CALL, 0},
        {STEP_HANG_UP, 0}}},
  };
  return s_flows;
}

bool CSipSharedAgentTest::s_bRegistered = false;

void CSipSharedAgentTest::SetUp() {
  CSipPluginTest::SetUp();
  if (HasFatalFailure() || IsSkipped() || s_bRegistered) return;
  m_sim.Reset();
  ASSERT_EQ(Register(), 0) << "the shared agent's first registration";
  s_bRegistered = true;
}

void CSipSharedAgentTest::TearDown() {
  if (m_sim.SetMode) {
    m_sim.SetMode(KIROSIM_MODE_PLAIN);
    m_sim.FailStep(-1, 0);
    m_sim.WaitIdle(D_nSimIdleMs);
  }
  CSipPluginTest::TearDown();
}

namespace {
bool IsExport(ESipStep eStep) { return eStep < STEP_OFFER; }

const std::vector<int> &DocumentedResults(ESipStep eStep) {
  switch (eStep) {
    case STEP_PICK_UP: return D_pickUpResults;
    case STEP_REGISTER: return D_registerResults;
    case STEP_PLAY:
    case STEP_STOP_PLAY:
    case STEP_RECORD:
    case STEP_STOP_RECORD: return D_fileResults;
    default: return D_waitResults;
  }
}
}  // namespace

int CSipSharedAgentTest::DoStep(ESipStep eStep) {
  switch (eStep) {
    case STEP_CALL: {
      int nResult = m_tv.MakeCall("100");
      if (nResult == 0) m_hFlowCall = m_sim.LatestCall();
      return nResult;
    }
    case STEP_HANG_UP: return m_tv.HangUpCall();
    case STEP_ANSWER: return m_tv.OffHook();
    case STEP_UNREGISTER: return m_tv.UnInitialize();
    case STEP_PICK_UP: return m_tv.PickUp();
    case STEP_REGISTER: return Register();
    case STEP_PLAY: return m_tv.StartPlayFile("prompt.wav");
    case STEP_STOP_PLAY: return m_tv.StopPlayFile();
    case STEP_RECORD: return m_tv.StartRecordFile("caller.wav");
    case STEP_STOP_RECORD: return m_tv.StopRecordFile();
    case STEP_OFFER: m_hFlowCall = m_sim.OfferCall(m_sim.LatestLine()); return 0;
    case STEP_FAR_ANSWER: m_sim.RemoteAnswer(m_hFlowCall); return 0;
    case STEP_FAR_HANG_UP: m_sim.RemoteHangUp(m_hFlowCall); return 0;
    case STEP_EXPIRE: m_sim.ExpireLine(m_sim.LatestLine()); return 0;
    case STEP_NOBODY_ANSWERS: m_sim.SetMode(m_sim.GetMode() | KIROSIM_MODE_NO_ANSWER); return 0;
    case STEP_SETTLE: return 0;
  }
  return 0;
}

void CSipSharedAgentTest::ExpectDocumented(ESipStep eStep, int nResult, double dTookMs) {
  if (!IsExport(eStep)) return;
  EXPECT_LT(dTookMs, D_dExportBoundMs) << "step " << eStep << " overran its bound";
  const std::vector<int> &results = DocumentedResults(eStep);
  EXPECT_NE(std::find(results.begin(), results.end(), nResult), results.end())
      << "step " << eStep << " returned " << nResult << ", not a documented result";
}

int CSipSharedAgentTest::RunStep(const SSipStep &step, bool bExact) {
  CStopwatch watch;
  int nResult = DoStep(step.eStep);
  ExpectDocumented(step.eStep, nResult, watch.Ms());
  if (!IsExport(step.eStep)) {
    Settle();
  } else if (bExact) {
    EXPECT_EQ(nResult, step.nResult) << "step " << step.eStep;
  }
  return nResult;
}

void CSipSharedAgentTest::RunFlow(const SSipFlow &flow, bool bExact) {
  for (size_t i = 0; i < flow.steps.size(); ++i) {
    SCOPED_TRACE("step " + std::to_string(i) + " of " + flow.szName);
    RunStep(flow.steps[i], bExact);
  }
  m_sim.WaitIdle(D_nSimIdleMs);
}

bool CSipSharedAgentTest::CallAndHangUp() {
  if (m_tv.MakeCall("200") != 0) return false;
  Settle();
  if (m_tv.HangUpCall() != 0) return false;
  Settle();
  return m_sim.LiveCalls() == 0;
}

void CSipSharedAgentTest::ExpectConsistent() {
  Settle();
  if (m_sim.LiveCalls() > 0) {
    EXPECT_EQ(m_tv.HangUpCall(), 0) << "a call the library has and the agent lost";
  }
  Settle();
  EXPECT_EQ(m_sim.LiveCalls(), 0) << "a call the agent cannot end";
  EXPECT_TRUE(CallAndHangUp() || (Register() == 0 && CallAndHangUp()))
      << "the agent neither calls nor registers";
}

void CSipSharedAgentTest::ExpectUsable(const std::string &strCase) {
  m_sim.SetMode(KIROSIM_MODE_PLAIN);
  m_sim.FailStep(-1, 0);
  Settle();
  // Calls the agent could not take or end are the far end's to give up.
  m_sim.EndCalls();
  Settle();
  // As a host would go on: hang up what may be left, register if the line
  // is down, and call.
  if (CallAndHangUp()) return;
  m_tv.HangUpCall();
  Settle();
  if (CallAndHangUp() || (Register() == 0 && CallAndHangUp())) return;
  const ::testing::TestInfo *pInfo = ::testing::UnitTest::GetInstance()->current_test_info();
  printf("[ finding  ] %s %s: usable again only after unregistering\n", pInfo->name(),
         strCase.c_str());
  m_tv.UnInitialize();
  Settle();
  ASSERT_EQ(Register(), 0) << "registering again";
  EXPECT_TRUE(CallAndHangUp()) << "a call and its hang-up after registering again";
}
