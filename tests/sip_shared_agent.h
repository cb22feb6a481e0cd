// Black-box fixture for suites that share one agent across their tests, as a
// host does across its calls: the plug-in is registered once per process and
// each test must leave it usable. Flows are tables of steps (exports the host
// calls, far-end and library actions between them); a step's export must
// return one of its documented results within its bound, and after the flow
// the agent must register, call and hang up again.
#pragma once

#include <vector>

#include "sip_fixture.h"

enum class ESipStep {
    // Exports.
    Call,
    HangUp,
    Answer,
    PickUp,
    Play,
    StopPlay,
    Record,
    StopRecord,
    Unregister,
    Register,
    // The far end and the library.
    Offer,
    FarAnswer,
    FarHangUp,
    Settle,
    Expire,              // the server drops the line's registration
    NobodyAnswers,       // from now on outgoing calls are never answered
    FarBusy,             // the far end answers the call busy (486)
    FarRefusesReinvite,  // a re-INVITE on the connected call refused (status 0)
    ClosesFail,          // from now on every close carries status 487
    DestroysFail,        // from now on KIRO_CallDestroy fails
    DestroysLost,        // from now on a destroyed call's end is never reported
    LibraryKind,         // closes, destroys and their reports work again
};

struct SSipStep {
    ESipStep eStep;
    int nResult;  // the export's result when nothing goes wrong
};

struct SSipFlow {
    const char *szName;
    std::vector<SSipStep> steps;
};

inline void PrintTo(const SSipFlow &flow, std::ostream *pOut) { *pOut << flow.szName; }

// The flows every harsh suite runs.
const std::vector<SSipFlow> &SipFlows();

class CSipSharedAgentTest : public CSipPluginTest {
public:
    // Takes one step as it is, on any thread; far-end steps answer 0 and act
    // on the call the flow made or was offered last.
    int DoStep(ESipStep eStep);

protected:
    CSipSharedAgentTest() : CSipPluginTest(false) {}
    void SetUp() override;
    void TearDown() override;

    // An export's result must be documented and have come within its bound.
    void ExpectDocumented(ESipStep eStep, int nResult, double dTookMs);
    // Takes one step and lets the library settle after a far-end one. With
    // bExact the export must give the step's own result.
    int RunStep(const SSipStep &step, bool bExact);
    void RunFlow(const SSipFlow &flow, bool bExact);
    // Library quiet and kind again, then the agent must call and hang up,
    // re-registering first if it has to (noted as a finding).
    void ExpectUsable(const std::string &strCase = "");
    // The agent's call and hang-up on a kind library; false at the first miss.
    bool CallAndHangUp();
    // Closes, destroys and their reports as a kind library has them.
    void MakeLibraryKind();
    // The agent's state is the library's: a call the library still has, the
    // agent ends; without one it calls, or registers and calls.
    void ExpectConsistent();

private:
    static bool s_bRegistered;
    KIRO_HANDLE m_hFlowCall = 0;
};
