// SIP plug-in, black-box, one agent for the whole process: two host threads
// (or a host thread and the far end) act at once, on a kind library and on
// the harshest one. Nothing crashes or hangs, each export returns a
// documented result within its bound, and afterwards the agent's state is
// the library's.
#include <string>
#include <tuple>

#include "sip_shared_agent.h"

struct SConcurrentCase {
    const char *szName;
    std::vector<SSipStep> setup;  // on a kind library, before the race
    ESipStep eFirst, eSecond;
};
inline void PrintTo(const SConcurrentCase &c, std::ostream *pOut) { *pOut << c.szName; }

// clang-format off
const SConcurrentCase D_aCases[] = {
    {"HangUpWhileACallIsMade", {}, ESipStep::Call, ESipStep::HangUp},
    {"UnregisterWhileACallIsMade", {}, ESipStep::Call, ESipStep::Unregister},
    {"UnregisterDuringATalk", {{ESipStep::Offer, 0}, {ESipStep::Answer, 0}}, ESipStep::Unregister, ESipStep::HangUp},
    {"AnswerAndHangUpWhileRinging", {{ESipStep::Offer, 0}}, ESipStep::Answer, ESipStep::HangUp},
    {"HangUpAsTheFarEndHangsUp",
     {{ESipStep::Call, 0}, {ESipStep::Settle, 0}, {ESipStep::FarAnswer, 0}}, ESipStep::HangUp, ESipStep::FarHangUp},
    {"PlayWhileHangingUp", {{ESipStep::Offer, 0}, {ESipStep::Answer, 0}}, ESipStep::Play, ESipStep::HangUp},
    {"TwoRegistrations", {{ESipStep::Unregister, 0}}, ESipStep::Register, ESipStep::Register},
};
// clang-format on

struct SRacer {
    CSipSharedAgentTest *pTest;
    ESipStep eStep;
    HANDLE hStart;
    int nResult;
    double dTookMs;
};

class SipConcurrencyTest : public CSipSharedAgentTest,
                           public ::testing::WithParamInterface<std::tuple<int, SConcurrentCase>> {
protected:
    static DWORD WINAPI Race(void *pParam) {
        SRacer *pRacer = static_cast<SRacer *>(pParam);
        WaitForSingleObject(pRacer->hStart, 10000);
        CStopwatch watch;
        pRacer->nResult = pRacer->pTest->DoStep(pRacer->eStep);
        pRacer->dTookMs = watch.Ms();
        return 0;
    }
};

TEST_P(SipConcurrencyTest, BothEndDocumentedAndTheStateIsTheLibrarys) {
    const SConcurrentCase &c = std::get<1>(GetParam());
    RunFlow(SSipFlow{c.szName, c.setup}, true);
    m_sim.SetMode(std::get<0>(GetParam()));
    int nAddLines = static_cast<int>(CountCalls("KIRO_AddLine"));
    HANDLE hStart = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SRacer racers[2] = {{this, c.eFirst, hStart, 1, 0}, {this, c.eSecond, hStart, 1, 0}};
    HANDLE ahThreads[2];
    for (int i = 0; i < 2; ++i) ahThreads[i] = CreateThread(nullptr, 0, &Race, &racers[i], 0, nullptr);
    SetEvent(hStart);
    ASSERT_EQ(WaitForMultipleObjects(2, ahThreads, TRUE, 20000), WAIT_OBJECT_0) << "an export never returned";
    for (HANDLE h : ahThreads) CloseHandle(h);
    CloseHandle(hStart);
    for (const SRacer &racer : racers) ExpectDocumented(racer.eStep, racer.nResult, racer.dTookMs);
    if (c.eFirst == ESipStep::Register) {
        EXPECT_EQ(racers[0].nResult + racers[1].nResult, -3) << "one registers, the other is refused";
        EXPECT_EQ(static_cast<int>(CountCalls("KIRO_AddLine")) - nAddLines, 1) << "one line added";
    }
    m_sim.SetMode(KIROSIM_MODE_PLAIN);
    ExpectConsistent();
    ExpectUsable();
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    EachRace, SipConcurrencyTest,
    ::testing::Combine(::testing::Values(KIROSIM_MODE_PLAIN, KIROSIM_MODE_HARSHEST),
                       ::testing::ValuesIn(D_aCases)),
    [](const ::testing::TestParamInfo<std::tuple<int, SConcurrentCase>> &info) {
      return std::string(std::get<0>(info.param) ? "Harshest_" : "Kind_") +
             std::get<1>(info.param).szName;
    });
// clang-format on
