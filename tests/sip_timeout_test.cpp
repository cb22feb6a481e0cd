// SIP plug-in, black-box: the exports' waits running out. Each wait ends 5 s
// after it began, so these cases take over 5 s each; they live in a process
// of their own so that the rest of the suites run meanwhile.
#include <string>

#include "sip_coarse_timer.h"
#include "sip_fixture.h"

namespace {
// A wait's length, and a bound it must not pass: the clock's 5 s plus room
// for a busy machine's scheduling.
const double D_dWaitMs = 5000;
const double D_dWaitBoundMs = 7500;
}  // namespace

using SipTimeoutTest = CSipPluginTest;

// Runs an export whose wait cannot end and checks its result, duration and
// log text.
#define EXPECT_TIMES_OUT(call, result, minimumMs, entry)                                  \
    do {                                                                                  \
        CStopwatch watch;                                                                 \
        EXPECT_EQ(call, result);                                                          \
        double dTook = watch.Ms();                                                        \
        EXPECT_GE(dTook, minimumMs) << "the wait ended early";                            \
        EXPECT_LT(dTook, (minimumMs) + D_dWaitBoundMs - D_dWaitMs) << "the wait overran"; \
        EXPECT_NE(ReadLog().find(entry), std::string::npos) << "log was: " << ReadLog();  \
    } while (0)

TEST_F(SipTimeoutTest, RegistrationNeverConfirmedReturnsMinusTwo) {
    m_sim.SetEventDelay(KIRO_LINE_REGISTERED, KIROSIM_DROP);
    EXPECT_TIMES_OUT(Register(), -2, D_dWaitMs, "TV_Initialize: register failed, server timeout.");
}

// Regression: an unregistration arriving after the wait was never
// recognised, so every later TV_Initialize returned -3 (and, before that, one
// that never came at all kept the agent registered without a line for the
// life of the process). KIRO_RemoveLine succeeded, so the library holds no
// line: the agent is unregistered once the wait runs out.
TEST_F(SipTimeoutTest, UnregistrationNeverConfirmedStillFreesTheLine) {
    ASSERT_EQ(Register(), 0);
    KIRO_HANDLE hLine = m_sim.LatestLine();
    m_sim.SetEventDelay(KIRO_LINE_UNREGISTERED, KIROSIM_DROP);
    EXPECT_TIMES_OUT(m_tv.UnInitialize(), -1, D_dWaitMs + 500, "TV_UnInitialize: failed, server timeout.");
    EXPECT_EQ(m_tv.MakeCall("100"), -2) << "unregistered";
    m_sim.SetEventDelay(KIRO_LINE_UNREGISTERED, KIROSIM_DEFAULT_DELAY_MS);
    EXPECT_EQ(Register(), 0) << "registering again at once";
    SendLineEvent(hLine, KIRO_LINE_UNREGISTERED);
    EXPECT_EQ(m_tv.MakeCall("100"), 0) << "a very late unregistration of the old line is stale";
}

TEST_F(SipTimeoutTest, HangUpNeverClosedReturnsMinusOne) {
    ReachAlerting();
    m_sim.SetEventDelay(KIRO_CALL_CLOSED, KIROSIM_DROP);
    EXPECT_TIMES_OUT(m_tv.HangUpCall(), -1, D_dWaitMs, "TV_HangUpCall: failed, server timeout.");
}

// Regression: a registration wait that timed out, then a refused
// unregistration, kept the line for good: every later TV_Initialize
// answered -3. The line is removed all the same.
TEST_F(SipTimeoutTest, RegistrationNeverConfirmedThenUnregistrationRefusedFreesTheLine) {
    m_sim.SetEventDelay(KIRO_LINE_REGISTERED, KIROSIM_DROP);
    EXPECT_TIMES_OUT(Register(), -2, D_dWaitMs, "TV_Initialize: register failed, server timeout.");
    m_sim.SetEventDelay(KIRO_LINE_REGISTERED, KIROSIM_DEFAULT_DELAY_MS);
    m_sim.ForceResult("KIRO_LineUnRegister", 77);
    EXPECT_EQ(m_tv.UnInitialize(), -2);
    EXPECT_EQ(m_sim.Calls().back(), "KIRO_RemoveLine|8193");
    m_sim.ForceResult("KIRO_LineUnRegister", 0);
    EXPECT_EQ(Register(), 0) << "a new line registers";
}

// A hang-up whose close never comes (the library ends the call and never
// says so), then what the host does next.
enum class EAfterUnclosed { HangUpAgain, Call, Caller };
class SipUnclosedHangUpTest : public CSipPluginTest, public ::testing::WithParamInterface<EAfterUnclosed> {};

// Regression: the call stayed the agent's for good: a second TV_HangUpCall
// never asked the library again, TV_MakeCall answered -2 and every caller
// was declined. By the end of the hang-up's own wait the call is forgotten.
TEST_P(SipUnclosedHangUpTest, FreesTheLineOnceTheHangUpRanOut) {
    ReachTalking();
    m_sim.SetMode(m_sim.GetMode() | KIROSIM_MODE_DESTROY_LOST);
    EXPECT_TIMES_OUT(m_tv.HangUpCall(), -1, D_dWaitMs, "TV_HangUpCall: failed, server timeout.");
    m_sim.SetMode(m_sim.GetMode() & ~KIROSIM_MODE_DESTROY_LOST);
    size_t nDestroys = CountCalls("KIRO_CallDestroy");
    if (GetParam() == EAfterUnclosed::HangUpAgain) {
        EXPECT_EQ(m_tv.HangUpCall(), -2) << "the library has no such call";
        EXPECT_EQ(CountCalls("KIRO_CallDestroy"), nDestroys + 1) << "the library is asked again";
    }
    if (GetParam() == EAfterUnclosed::Caller) {
        m_sim.OfferCall(m_sim.LatestLine());
        Settle();
        EXPECT_EQ(m_tv.OffHook(), 0) << "the caller is taken, not declined";
    } else {
        EXPECT_EQ(m_tv.MakeCall("100"), 0);
        Settle();
        EXPECT_EQ(m_tv.HangUpCall(), 0);
    }
}

std::string AfterUnclosedName(const ::testing::TestParamInfo<EAfterUnclosed> &info) {
    static const char *const s_aszNames[] = {"HangUpAgain", "Call", "Caller"};
    return s_aszNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Each, SipUnclosedHangUpTest,
                         ::testing::Values(EAfterUnclosed::HangUpAgain, EAfterUnclosed::Call, EAfterUnclosed::Caller),
                         AfterUnclosedName);

TEST_F(SipTimeoutTest, AnswerNeverConnectedReturnsMinusOne) {
    ReachRinging();
    m_sim.SetEventDelay(KIRO_CALL_CONNECTED, KIROSIM_DROP);
    EXPECT_TIMES_OUT(m_tv.OffHook(), -1, D_dWaitMs, "TV_OffHook: failed, server timeout.");
}

// Regression: each wait was 5000 polls of Sleep(1), about 5 s under Wine
// but about 78 s on stock Windows, where a sleep lasts a whole 15.6 ms tick.
// On that timer a wait must still end 5 s after it began, and it must end on
// its event, without sleeping in between.
struct SCoarseTimerCase {
    const char *szName;
    bool bConnects;  // the connected event comes
    int nResult;
    double dMinimumMs, dBoundMs;
};
inline void PrintTo(const SCoarseTimerCase &c, std::ostream *pOut) { *pOut << c.szName; }

class SipCoarseTimerTest : public CSipPluginTest, public ::testing::WithParamInterface<SCoarseTimerCase> {};

TEST_P(SipCoarseTimerTest, WaitEndsByTheClockOrOnItsEventNeverBySleeps) {
    const SCoarseTimerCase &c = GetParam();
    ASSERT_TRUE(coarse_timer::Install(m_hPlugin)) << "the plug-in imports Sleep for its pause";
    ReachRinging();
    if (!c.bConnects) m_sim.SetEventDelay(KIRO_CALL_CONNECTED, KIROSIM_DROP);
    coarse_timer::Sleeps() = 0;
    CStopwatch watch;
    EXPECT_EQ(m_tv.OffHook(), c.nResult);
    double dTook = watch.Ms();
    EXPECT_GE(dTook, c.dMinimumMs) << "the wait ended early";
    EXPECT_LT(dTook, c.dBoundMs) << "the wait is counted in timer ticks";
    EXPECT_EQ(coarse_timer::Sleeps(), 0) << "the wait polls with sleeps";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    StockTimer, SipCoarseTimerTest,
    ::testing::Values(SCoarseTimerCase{"NeverConnected", false, -1, D_dWaitMs, D_dWaitBoundMs},
                      SCoarseTimerCase{"Connected", true, 0, 0, D_dWaitMs}),
    [](const ::testing::TestParamInfo<SCoarseTimerCase> &info) { return info.param.szName; });
// clang-format on
