// SIP agent over the wire: each case drives the plug-in's exports through the
// wire KIRO.dll against kamailio and SIPp (fixture: sip_wire_fixture.h; the
// services and the checks after each case: tests/wire/sip_wire.py).
#include <fstream>
#include <sstream>

#include "sip_wire_fixture.h"

TEST_F(CWireTest, RegisterAndUnregister) {
  EXPECT_EQ(Register(), 0) << "REGISTER, 401, REGISTER with credentials, 200";
  EXPECT_GE(TraceCount("send REGISTER"), 2) << "the first REGISTER is challenged";
  EXPECT_EQ(TV_UnInitialize(), 0) << "REGISTER with expiry 0 answered";
  EXPECT_EQ(Agent().State(), STATE_UNREGISTERED);
}

TEST_F(CWireTest, WrongPasswordFailsWithItsLogEntry) {
  EXPECT_EQ(Register("not-the-password"), -2);
  std::ifstream log(File("BRAVIK32.log"), std::ios::binary);
  std::stringstream text;
  text << log.rdbuf();
  EXPECT_NE(text.str().find("TV_Initialize: register failed, server timeout."), std::string::npos) << text.str();
  EXPECT_EQ(Agent().State(), STATE_UNREGISTERED) << "the registrar's refusal arrived as 23000";
  EXPECT_EQ(Register(), 0) << "the refused line goes, a new one registers with the right password";
  EXPECT_EQ(TV_UnInitialize(), 0);
}

TEST_F(CWireTest, HangUpWhileAlertingSendsCancel) {
  PlaceCall();
  ASSERT_TRUE(Reach(STATE_ALERTING)) << "180 from the far end";
  EXPECT_TRUE(Asked("Ringback.wav"));
  EXPECT_EQ(TV_HangUpCall(), 0) << "CANCEL, 487, then the call closed";
  EXPECT_GE(TraceCount("send CANCEL"), 1);
  EXPECT_EQ(TV_UnInitialize(), 0);
}

// The far end echoes what it receives: recorded here, it is what it got.
TEST_F(CWireTest, AnsweredCallPlaysTheFile) {
  PlaceCall();
  ASSERT_TRUE(Reach(STATE_TALKING)) << "200 from the far end";
  ASSERT_EQ(TV_StartRecordFile(File("echo.wav").c_str()), 0);
  ASSERT_EQ(TV_StartPlayFile(File("prompt440.wav").c_str()), 0);
  // The prompt's 2 s, echoed (nothing is sent once it has played).
  const size_t nWant = 44 + 2 * 8000 * 2;
  EXPECT_TRUE(WaitFor([&]() { return FileSize(File("echo.wav")) >= nWant; }, D_dwStateMs))
      << "echoed audio: " << FileSize(File("echo.wav")) << " bytes";
  EXPECT_EQ(TV_StopRecordFile(), 0);
  EXPECT_EQ(TV_HangUpCall(), 0) << "BYE answered";
  EXPECT_GE(TraceCount("send BYE"), 1);
  EXPECT_EQ(TV_UnInitialize(), 0);
}

TEST_F(CWireTest, PlayRefusesOtherFormats) {
  PlaceCall();
  ASSERT_TRUE(Reach(STATE_TALKING));
  EXPECT_EQ(TV_StartPlayFile(File("prompt16k.wav").c_str()), -1) << "a 16 kHz WAV";
  EXPECT_EQ(TV_StartPlayFile(File("missing.wav").c_str()), -1);
  EXPECT_EQ(TV_HangUpCall(), 0);
  EXPECT_EQ(TV_UnInitialize(), 0);
}

TEST_F(CWireTest, IncomingCallRingsAndIsRecorded) {
  ASSERT_EQ(Register(), 0);
  ASSERT_TRUE(AskRunner("call-in"));
  ASSERT_TRUE(Reach(STATE_RINGING)) << "INVITE from the far end, 180 sent";
  EXPECT_TRUE(Asked("Ringtone.wav"));
  ASSERT_EQ(TV_OffHook(), 0) << "200 sent, ACK received";
  ASSERT_EQ(TV_StartRecordFile(File("incoming.wav").c_str()), 0);
  EXPECT_TRUE(Reach(STATE_REGISTERED)) << "the far end hangs up after 2.5 s";
  EXPECT_EQ(TV_UnInitialize(), 0);
}

TEST_F(CWireTest, CallerCancelsWhileRinging) {
  ASSERT_EQ(Register(), 0);
  ASSERT_TRUE(AskRunner("cancel-in"));
  ASSERT_TRUE(Reach(STATE_RINGING));
  EXPECT_TRUE(Reach(STATE_REGISTERED)) << "CANCEL, 487: released, then closed";
  EXPECT_EQ(TV_UnInitialize(), 0);
}

TEST_F(CWireTest, BusyGivesTheBusyToneThenRegistered) {
  PlaceCall();
  EXPECT_TRUE(Reach(STATE_RELEASED | STATE_REGISTERED));
  EXPECT_TRUE(WaitFor([]() { return Asked("RemoteBusy.wav"); }, D_dwStateMs)) << "486: the busy tone";
  EXPECT_TRUE(Reach(STATE_REGISTERED));
  EXPECT_EQ(TV_UnInitialize(), 0);
}

TEST_F(CWireTest, SilentFarEndGetsTheProxysTimeout) {
  PlaceCall();
  EXPECT_TRUE(WaitFor([]() { return Asked("RemoteBusy.wav"); }, D_dwStateMs)) << "408 from the proxy";
  EXPECT_TRUE(Reach(STATE_REGISTERED));
  EXPECT_EQ(TV_UnInitialize(), 0);
}

TEST_F(CWireTest, FarEndByeGivesRegistered) {
  PlaceCall();
  ASSERT_TRUE(Reach(STATE_TALKING)) << "200 with no 18x";
  EXPECT_FALSE(Asked("Ringback.wav")) << "no alerting came";
  EXPECT_TRUE(Reach(STATE_REGISTERED)) << "the far end's BYE";
  EXPECT_EQ(TV_UnInitialize(), 0);
}

TEST_F(CWireTest, EarlyMediaThenAnswer) {
  PlaceCall();
  ASSERT_TRUE(Reach(STATE_ALERTING | STATE_TALKING)) << "183 with SDP";
  ASSERT_TRUE(Reach(STATE_TALKING)) << "then 200";
  EXPECT_EQ(TV_HangUpCall(), 0);
  EXPECT_EQ(TV_UnInitialize(), 0);
}

TEST_F(CWireTest, HoldAndResumeLeaveTheCallTalking) {
  PlaceCall();
  ASSERT_TRUE(Reach(STATE_TALKING));
  EXPECT_TRUE(WaitFor([]() { return TraceCount("recv INVITE") >= 2; }, D_dwStateMs)) << "hold, then resume";
  EXPECT_TRUE(WaitFor([]() { return TraceCount("send SIP/2.0 200") >= 2; }, D_dwStateMs)) << "both answered";
  EXPECT_EQ(Agent().State(), STATE_TALKING);
  EXPECT_TRUE(Reach(STATE_REGISTERED)) << "the far end's BYE after the resume";
  EXPECT_EQ(TV_UnInitialize(), 0);
}

// KIRO_REG_EXPIRES is short here: the line renews every few seconds.
TEST_F(CWireTest, RenewalDuringACallLeavesItTalking) {
  PlaceCall();
  ASSERT_TRUE(Reach(STATE_TALKING));
  int nRegisters = TraceCount("send REGISTER"), nAnswers = TraceCount("recv SIP/2.0 200");
  ASSERT_TRUE(WaitFor([&]() { return TraceCount("send REGISTER") > nRegisters; }, D_dwStateMs))
      << "a renewal while talking";
  ASSERT_TRUE(WaitFor([&]() { return TraceCount("recv SIP/2.0 200") > nAnswers; }, D_dwStateMs))
      << "the renewal's 200";
  EXPECT_EQ(Agent().State(), STATE_TALKING);
  EXPECT_EQ(TV_HangUpCall(), 0) << "the call went on: BYE answered";
  EXPECT_GE(TraceCount("send BYE"), 1);
  EXPECT_EQ(TV_UnInitialize(), 0);
}

TEST_F(CWireTest, RegistrarStoppedThenBack) {
  ASSERT_EQ(Register(), 0);
  ASSERT_TRUE(AskRunner("stop-registrar"));
  EXPECT_TRUE(Reach(STATE_UNREGISTERED, 60000)) << "the renewal fails: the line drops";
  ASSERT_TRUE(AskRunner("start-registrar"));
  EXPECT_EQ(Register(), 0) << "registered again";
  EXPECT_EQ(TV_UnInitialize(), 0);
}
