// SIP agent, white-box: the waits of the exports, and an event matched while
// a host thread races it, on threads of the test's own over the agent's
// modules (the library requests reach the simulated KIRO.dll).
#include <gtest/gtest.h>
#include <windows.h>

#include "KiroSim.h"
#include "SipAgent.h"
#include "sip_agent_probe.h"
#include "stopwatch.h"

namespace {
const KIRO_HANDLE D_hLine = 0x2001;
const KIRO_HANDLE D_hCall = 0x3001;

// The library's and the host's threads of the races.
KIRO_HANDLE g_hEventLine = 0;
DWORD WINAPI SendUnregistration(void *) {
    InjectLineEvent(g_hEventLine, KIRO_LINE_UNREGISTERED);
    return 0;
}
DWORD WINAPI ReleaseTheLine(void *) {
    CSipAgent::CStateWait wait(STATE_UNREGISTERED);
    return CSipAgent::Instance().ReleaseLine(wait) ? 0 : 1;
}
// Once a thread waits: connected, then failed at once (registered again).
DWORD WINAPI ConnectThenFailOnceWaited(void *) {
    for (int i = 0; i < 5000 && CSipAgentProbe::WaiterCount() == 0; ++i) Sleep(1);
    InjectCallEvent(D_hCall, KIRO_CALL_CONNECTED, 1);
    InjectCallEvent(D_hCall, KIRO_CALL_CONNECTED, 0);
    return 0;
}
}  // namespace

class SipRaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_sim.Bind(GetModuleHandleA("KIRO.dll"))) << "the simulated KIRO.dll";
        m_sim.Reset();
    }
    void TearDown() override { CSipAgentProbe::Restart(STATE_UNINITIALISED, 0, 0); }
    CKiroSimControls m_sim;
};

// Regression: OnLineEvent read the releasing line, then the current line,
// while ReleaseLine marked the first, removed the line and cleared the
// second; an event thread descheduled between its two reads matched neither
// and the unregistration was lost for good. The event thread is held there
// while the release is given every chance to run through.
TEST_F(SipRaceTest, UnregistrationSeenMidwayThroughAReleaseIsNotLost) {
    // How long the release is given to overtake the held event thread: more
    // than its 500 ms pause; only the fault lets it finish meanwhile.
    const DWORD dwOvertakeMs = 1500;
    KIRO_HANDLE hInstance = 0, hLine = 0;
    ASSERT_EQ(KIRO_Initialize(&hInstance, 5060, 10000, 16, "kIRO", "", 0), 0);
    ASSERT_EQ(KIRO_AddLine(hInstance, &hLine, "1001@example.com"), 0);
    m_sim.SetEventDelay(KIRO_LINE_UNREGISTERED, KIROSIM_DROP);
    CSipAgentProbe::Restart(STATE_REGISTERED, hLine, 0);

    static HANDLE s_hHeld, s_hGo;
    s_hHeld = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    s_hGo = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_pfnLineMatchPause = [] {
        SetEvent(s_hHeld);
        WaitForSingleObject(s_hGo, 10000);
    };
    g_hEventLine = hLine;
    HANDLE hEventThread = CreateThread(nullptr, 0, &SendUnregistration, nullptr, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(s_hHeld, 5000), WAIT_OBJECT_0) << "the event never reached the match";
    HANDLE hReleaseThread = CreateThread(nullptr, 0, &ReleaseTheLine, nullptr, 0, nullptr);
    WaitForSingleObject(hReleaseThread, dwOvertakeMs);
    SetEvent(s_hGo);
    EXPECT_EQ(WaitForSingleObject(hEventThread, 5000), WAIT_OBJECT_0) << "event thread stuck";
    EXPECT_EQ(WaitForSingleObject(hReleaseThread, 5000), WAIT_OBJECT_0) << "release stuck";
    g_pfnLineMatchPause = nullptr;
    EXPECT_EQ(CSipAgent::Instance().State(), STATE_UNREGISTERED) << "the unregistration was lost";
    EXPECT_EQ(CSipAgent::Instance().Line(), 0u);
    for (HANDLE h : {hEventThread, hReleaseThread, s_hHeld, s_hGo}) CloseHandle(h);
}

TEST(SipWaitForState, EndsAtOnceInTheStateAndAtOnceWithNoTime) {
    CSipAgentProbe::Restart(STATE_REGISTERED, 0, 0);
    CStopwatch watch;
    EXPECT_TRUE(CSipAgent::Instance().WaitForState(STATE_REGISTERED | STATE_TALKING, D_dwWaitMs));
    EXPECT_FALSE(CSipAgent::Instance().WaitForState(STATE_TALKING, 0));
    EXPECT_LT(watch.Ms(), 1000.0);
}

TEST(SipWaitForState, TimesOutByTheClock) {
    CSipAgentProbe::Restart(STATE_REGISTERED, 0, 0);
    CStopwatch watch;
    EXPECT_FALSE(CSipAgent::Instance().WaitForState(STATE_TALKING, 200));
    double dTook = watch.Ms();
    EXPECT_GE(dTook, 200.0) << "ended before its time";
    EXPECT_LT(dTook, 2000.0);
}

// Regression (found by the stale mode): a wait that looked at the state
// only when it woke missed a state the next event had already replaced, and
// the hang-up timed out though its call had closed.
TEST(SipWaitForState, EndsOnAStateThatLastedOnlyUntilTheNextEvent) {
    CSipAgentProbe::Restart(STATE_RINGING, D_hLine, D_hCall);
    HANDLE hThread = CreateThread(nullptr, 0, &ConnectThenFailOnceWaited, nullptr, 0, nullptr);
    EXPECT_TRUE(CSipAgent::Instance().WaitForState(STATE_TALKING, 10000));
    EXPECT_EQ(WaitForSingleObject(hThread, 10000), WAIT_OBJECT_0);
    CloseHandle(hThread);
}
