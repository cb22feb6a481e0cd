// SIP plug-in, black-box, one agent for the whole process: every flow under
// each of the simulated library's harsh modes, with the registration renewed
// every few milliseconds, then with each KIRO_ call of the flow failing in
// turn. The flows' exports keep their results, the
// failures give documented ones within their bounds, and the agent is
// usable afterwards.
#include <string>
#include <tuple>

#include "sip_shared_agent.h"

struct SModeName {
    int nMode;
    const char *szName;
};

inline void PrintTo(const SModeName &mode, std::ostream *pOut) { *pOut << mode.szName; }

// clang-format off
const SModeName D_aModes[] = {
    {KIROSIM_MODE_THREADS, "Threads"}, {KIROSIM_MODE_EARLY, "Early"},
    {KIROSIM_MODE_REPEAT, "Repeat"},   {KIROSIM_MODE_STALE, "Stale"},
    {KIROSIM_MODE_HARSHEST, "Harshest"},
    {KIROSIM_MODE_SYNC, "Sync"},
    {KIROSIM_MODE_RACE_CALL, "RaceCall"},
    {KIROSIM_MODE_SECOND_CALLER, "SecondCaller"},
    {KIROSIM_MODE_RENEWAL_FAILS, "RenewalFails"},
    {KIROSIM_MODE_HARSHEST | KIROSIM_MODE_RACE_CALL | KIROSIM_MODE_SECOND_CALLER |
         KIROSIM_MODE_RENEWAL_FAILS,
     "Everything"},
};
// clang-format on

// Renewals this often during the flows: several in every call.
const int D_nRenewalMs = 15;

// The library's failure code for the forced failures.
const int D_nFailure = 77;

class SipHarshModeTest : public CSipSharedAgentTest,
                         public ::testing::WithParamInterface<std::tuple<SModeName, SSipFlow>> {};

TEST_P(SipHarshModeTest, FlowKeepsItsResultsAndLeavesTheAgentUsable) {
    m_sim.SetMode(std::get<0>(GetParam()).nMode);
    m_sim.SetRenewal(D_nRenewalMs);
    RunFlow(std::get<1>(GetParam()), true);
    m_sim.SetRenewal(KIROSIM_RENEWAL_MS);
    ExpectUsable();
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    EachMode, SipHarshModeTest,
    ::testing::Combine(::testing::ValuesIn(D_aModes), ::testing::ValuesIn(SipFlows())),
    [](const ::testing::TestParamInfo<std::tuple<SModeName, SSipFlow>> &info) {
      return std::string(std::get<0>(info.param).szName) + "_" + std::get<1>(info.param).szName;
    });
// clang-format on

class SipStepFailureTest : public CSipSharedAgentTest, public ::testing::WithParamInterface<SSipFlow> {};

// The flow once on a kind library counts its KIRO_ calls, whichever thread
// makes them; then each of them in turn fails once.
TEST_P(SipStepFailureTest, EachCallOfTheFlowFailingGivesDocumentedResults) {
    const SSipFlow &flow = GetParam();
    int nBefore = m_sim.CallCount();
    RunFlow(flow, true);
    int nSteps = m_sim.CallCount() - nBefore;
    ExpectUsable();
    for (int nStep = 0; nStep < nSteps; ++nStep) {
        SCOPED_TRACE("KIRO_ call " + std::to_string(nStep) + " of " + std::to_string(nSteps) + " fails");
        m_sim.FailStep(nStep, D_nFailure);
        RunFlow(flow, false);
        ExpectUsable("call " + std::to_string(nStep));
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(EachFlow, SipStepFailureTest, ::testing::ValuesIn(SipFlows()),
                         [](const ::testing::TestParamInfo<SSipFlow> &info) {
                           return std::string(info.param.szName);
                         });
// clang-format on
