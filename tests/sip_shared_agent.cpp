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
        {"Outgoing", {{ESipStep::Call, 0}, {ESipStep::Settle, 0}, {ESipStep::HangUp, 0}}},
        {"OutgoingAnsweredWithFiles",
         {{ESipStep::Call, 0},
          {ESipStep::Settle, 0},
          {ESipStep::FarAnswer, 0},
          {ESipStep::Play, 0},
          {ESipStep::Record, 0},
          {ESipStep::StopRecord, 0},
          {ESipStep::StopPlay, 0},
          {ESipStep::HangUp, 0}}},
        {"OutgoingFarEndHangsUp",
         {{ESipStep::Call, 0}, {ESipStep::Settle, 0}, {ESipStep::FarAnswer, 0}, {ESipStep::FarHangUp, 0}}},
        {"Incoming", {{ESipStep::Offer, 0}, {ESipStep::Answer, 0}, {ESipStep::HangUp, 0}}},
        {"IncomingFarEndHangsUp", {{ESipStep::Offer, 0}, {ESipStep::Answer, 0}, {ESipStep::FarHangUp, 0}}},
        {"AutoAnswer", {{ESipStep::PickUp, 0}, {ESipStep::Offer, 0}, {ESipStep::Play, 0}, {ESipStep::HangUp, 0}}},
        {"Reregister", {{ESipStep::Unregister, 0}, {ESipStep::Register, 0}}},
        {"UnregisterDuringACall",
         {{ESipStep::Call, 0},
          {ESipStep::Settle, 0},
          {ESipStep::Unregister, 0},
          {ESipStep::Settle, 0},
          {ESipStep::Register, 0}}},
        {"LineDroppedWhileIdle",
         {{ESipStep::Expire, 0},
          {ESipStep::Call, -2},
          {ESipStep::Register, 0},
          {ESipStep::Call, 0},
          {ESipStep::HangUp, 0}}},
        {"LineDroppedDuringACall",
         {{ESipStep::Offer, 0},
          {ESipStep::Answer, 0},
          {ESipStep::Expire, 0},
          {ESipStep::Play, 0},
          {ESipStep::HangUp, 0},
          {ESipStep::Call, -2},
          {ESipStep::Register, 0}}},
        {"NobodyAnswersHangUpWhileCalling", {{ESipStep::NobodyAnswers, 0}, {ESipStep::Call, 0}, {ESipStep::HangUp, 0}}},
        {"FarEndBusyWithAFailedClose",
         {{ESipStep::ClosesFail, 0},
          {ESipStep::Call, 0},
          {ESipStep::Settle, 0},
          {ESipStep::FarBusy, 0},
          {ESipStep::LibraryKind, 0},
          {ESipStep::Offer, 0},
          {ESipStep::Answer, 0},
          {ESipStep::HangUp, 0}}},
        {"ReinviteRefused",
         {{ESipStep::Offer, 0},
          {ESipStep::Answer, 0},
          {ESipStep::Settle, 0},
          {ESipStep::FarRefusesReinvite, 0},
          {ESipStep::HangUp, -2},
          {ESipStep::Call, 0},
          {ESipStep::HangUp, 0}}},
        {"DestroyRefusedAtTheFarEndsRelease",
         {{ESipStep::Offer, 0},
          {ESipStep::Answer, 0},
          {ESipStep::Settle, 0},
          {ESipStep::DestroysFail, 0},
          {ESipStep::FarHangUp, 0},
          {ESipStep::LibraryKind, 0},
          {ESipStep::HangUp, 0},
          {ESipStep::Call, 0},
          {ESipStep::HangUp, 0}}},
        {"CloseNeverComesThenReregister",
         {{ESipStep::Offer, 0},
          {ESipStep::Answer, 0},
          {ESipStep::Settle, 0},
          {ESipStep::DestroysLost, 0},
          {ESipStep::FarHangUp, 0},
          {ESipStep::LibraryKind, 0},
          {ESipStep::Unregister, 0},
          {ESipStep::Register, 0},
          {ESipStep::Call, 0},
          {ESipStep::HangUp, 0}}},
        {"UnregistrationRefusedAfterTheLineDropped",
         {{ESipStep::Expire, 0},
          {ESipStep::Unregister, -2},
          {ESipStep::Register, 0},
          {ESipStep::Call, 0},
          {ESipStep::HangUp, 0}}},
        {"NobodyAnswersTheLibraryGivesUp",
         {{ESipStep::NobodyAnswers, 0},
          {ESipStep::Call, 0},
          {ESipStep::Settle, 0},
          {ESipStep::Call, 0},
          {ESipStep::HangUp, 0}}},
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
bool IsExport(ESipStep eStep) { return eStep < ESipStep::Offer; }

const std::vector<int> &DocumentedResults(ESipStep eStep) {
    switch (eStep) {
    case ESipStep::PickUp: return D_pickUpResults;
    case ESipStep::Register: return D_registerResults;
    case ESipStep::Play:
    case ESipStep::StopPlay:
    case ESipStep::Record:
    case ESipStep::StopRecord: return D_fileResults;
    default: return D_waitResults;
    }
}
}  // namespace

int CSipSharedAgentTest::DoStep(ESipStep eStep) {
    switch (eStep) {
    case ESipStep::Call: {
        int nResult = m_tv.MakeCall("100");
        if (nResult == 0) m_hFlowCall = m_sim.LatestCall();
        return nResult;
    }
    case ESipStep::HangUp: return m_tv.HangUpCall();
    case ESipStep::Answer: return m_tv.OffHook();
    case ESipStep::Unregister: return m_tv.UnInitialize();
    case ESipStep::PickUp: return m_tv.PickUp();
    case ESipStep::Register: return Register();
    case ESipStep::Play: return m_tv.StartPlayFile("prompt.wav");
    case ESipStep::StopPlay: return m_tv.StopPlayFile();
    case ESipStep::Record: return m_tv.StartRecordFile("caller.wav");
    case ESipStep::StopRecord: return m_tv.StopRecordFile();
    case ESipStep::Offer: m_hFlowCall = m_sim.OfferCall(m_sim.LatestLine()); return 0;
    case ESipStep::FarAnswer: m_sim.RemoteAnswer(m_hFlowCall); return 0;
    case ESipStep::FarHangUp: m_sim.RemoteHangUp(m_hFlowCall); return 0;
    case ESipStep::Expire: m_sim.ExpireLine(m_sim.LatestLine()); return 0;
    case ESipStep::NobodyAnswers: m_sim.SetMode(m_sim.GetMode() | KIROSIM_MODE_NO_ANSWER); return 0;
    case ESipStep::FarBusy: m_sim.RemoteRelease(m_hFlowCall, KIROSIM_STATUS_BUSY); return 0;
    case ESipStep::FarRefusesReinvite: m_sim.RefuseReinvite(m_hFlowCall); return 0;
    case ESipStep::ClosesFail: m_sim.SetEventStatus(KIRO_CALL_CLOSED, KIROSIM_STATUS_CANCELLED); return 0;
    case ESipStep::DestroysFail: m_sim.ForceResult("KIRO_CallDestroy", 77); return 0;
    case ESipStep::DestroysLost: m_sim.SetMode(m_sim.GetMode() | KIROSIM_MODE_DESTROY_LOST); return 0;
    case ESipStep::LibraryKind: MakeLibraryKind(); return 0;
    case ESipStep::Settle: return 0;
    }
    return 0;
}

void CSipSharedAgentTest::ExpectDocumented(ESipStep eStep, int nResult, double dTookMs) {
    if (!IsExport(eStep)) return;
    EXPECT_LT(dTookMs, D_dExportBoundMs) << "step " << static_cast<int>(eStep) << " overran its bound";
    const std::vector<int> &results = DocumentedResults(eStep);
    EXPECT_NE(std::find(results.begin(), results.end(), nResult), results.end())
        << "step " << static_cast<int>(eStep) << " returned " << nResult << ", not a documented result";
}

int CSipSharedAgentTest::RunStep(const SSipStep &step, bool bExact) {
    CStopwatch watch;
    int nResult = DoStep(step.eStep);
    ExpectDocumented(step.eStep, nResult, watch.Ms());
    if (!IsExport(step.eStep)) {
        Settle();
    } else if (bExact) {
        EXPECT_EQ(nResult, step.nResult) << "step " << static_cast<int>(step.eStep);
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
    EXPECT_TRUE(CallAndHangUp() || (Register() == 0 && CallAndHangUp())) << "the agent neither calls nor registers";
}

void CSipSharedAgentTest::MakeLibraryKind() {
    m_sim.SetMode(m_sim.GetMode() & ~KIROSIM_MODE_DESTROY_LOST);
    m_sim.SetEventStatus(KIRO_CALL_CLOSED, 1);
    m_sim.ForceResult("KIRO_CallDestroy", 0);
}

void CSipSharedAgentTest::ExpectUsable(const std::string &strCase) {
    m_sim.SetMode(KIROSIM_MODE_PLAIN);
    m_sim.FailStep(-1, 0);
    MakeLibraryKind();
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
    printf("[ finding  ] %s %s: usable again only after unregistering\n", pInfo->name(), strCase.c_str());
    m_tv.UnInitialize();
    Settle();
    ASSERT_EQ(Register(), 0) << "registering again";
    EXPECT_TRUE(CallAndHangUp()) << "a call and its hang-up after registering again";
}
