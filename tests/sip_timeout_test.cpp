// SIP plug-in, black-box: the exports' waits running out. Each wait is 5000
// polls of at least 1 ms, so these cases take over 5 s each; they live in a
// process of their own so that the rest of the suites run meanwhile.
#include <string>

#include "sip_fixture.h"

namespace {
// The shortest a 5000-poll wait can last, and a bound it must not pass.
const double D_dWaitMs = 5000;
const double D_dWaitBoundMs = 15000;
}  // namespace

using SipTimeoutTest = CSipPluginTest;

// Runs an export whose wait cannot end and checks its result, duration and
// log text.
#define EXPECT_TIMES_OUT(call, result, minimumMs, entry)                                     \
  do {                                                                                       \
    CStopwatch watch;                                                                        \
    EXPECT_EQ(call, result);                                                                 \
    double dTook = watch.Ms();                                                               \
    EXPECT_GE(dTook, minimumMs) << "the wait ended early";                                   \
    EXPECT_LT(dTook, D_dWaitBoundMs) << "the wait overran";                                  \
    EXPECT_NE(ReadLog().find(entry), std::string::npos) << "log was: " << ReadLog();         \
  } while (0)

TEST_F(SipTimeoutTest, RegistrationNeverConfirmedReturnsMinusTwo) {
  m_sim.SetEventDelay(KIRO_LINE_REGISTERED, KIROSIM_DROP);
  EXPECT_TIMES_OUT(Register(), -2, D_dWaitMs, "TV_Initialize: register failed, server timeout.");
}

// Regression: an unregistration arriving after the wait was never
// recognised, so every later TV_Initialize returned -3.
TEST_F(SipTimeoutTest, UnregistrationLaterThanTheWaitStillFreesTheLine) {
  ASSERT_EQ(Register(), 0);
  KIRO_HANDLE hLine = m_sim.LatestLine();
  m_sim.SetEventDelay(KIRO_LINE_UNREGISTERED, KIROSIM_DROP);
  EXPECT_TIMES_OUT(m_tv.UnInitialize(), -1, D_dWaitMs + 500,
                   "TV_UnInitialize: failed, server timeout.");
  EXPECT_EQ(Register(), -3) << "still registered while the event is missing";
  SendLineEvent(hLine, KIRO_LINE_UNREGISTERED);
  EXPECT_EQ(Register(), 0) << "registering again once the late event came";
}

TEST_F(SipTimeoutTest, HangUpNeverClosedReturnsMinusOne) {
  ReachAlerting();
  m_sim.SetEventDelay(KIRO_CALL_CLOSED, KIROSIM_DROP);
  EXPECT_TIMES_OUT(m_tv.HangUpCall(), -1, D_dWaitMs, "TV_HangUpCall: failed, server timeout.");
}

TEST_F(SipTimeoutTest, AnswerNeverConnectedReturnsMinusOne) {
  ReachRinging();
  m_sim.SetEventDelay(KIRO_CALL_CONNECTED, KIROSIM_DROP);
  EXPECT_TIMES_OUT(m_tv.OffHook(), -1, D_dWaitMs, "TV_OffHook: failed, server timeout.");
}
