// SIP plug-in, black-box: outgoing and incoming calls, hang-up, answer and
// auto-answer, file play and record, and the events that move the call.
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "sip_fixture.h"

namespace {
const KIRO_HANDLE D_hFirstCall = 0x3001;
const std::string D_strFirstCall = std::to_string(D_hFirstCall);
}  // namespace

using SipCallTest = CSipPluginTest;

TEST_F(SipCallTest, OutgoingCallIsCreatedOnTheRegisteredLine) {
    ReachAlerting();
    EXPECT_EQ(m_sim.CallsOf("KIRO_CallCreate"), std::vector<std::string>{"KIRO_CallCreate|4097|8193|100"});
    EXPECT_EQ(m_tv.HangUpCall(), 0) << "an alerting call hangs up";
}

TEST_F(SipCallTest, MakeCallReturnsAtOnceWhenNoEventCameYet) {
    ASSERT_EQ(Register(), 0);
    m_sim.SetEventDelay(KIRO_CALL_CREATED, 400);
    CStopwatch watch;
    EXPECT_EQ(m_tv.MakeCall("100"), 0);
    EXPECT_LT(watch.Ms(), 300.0) << "registered is among the awaited states";
}

TEST_F(SipCallTest, HangUpDestroysTheCallOnceAndEndsRegistered) {
    ReachAlerting();
    ASSERT_EQ(m_tv.HangUpCall(), 0);
    // Regression: the release event that follows destroyed again, whatever
    // handle was stored by then (none, once the library had cleared it).
    std::vector<std::string> destroys = {"KIRO_CallDestroy|" + D_strFirstCall};
    EXPECT_EQ(m_sim.CallsOf("KIRO_CallDestroy"), destroys);
    EXPECT_EQ(m_tv.MakeCall("101"), 0) << "registered again after the call";
}

struct SMakeCallRefusal {
    const char *szName;
    bool bRegister;
    const char *szDestination;
};
inline void PrintTo(const SMakeCallRefusal &c, std::ostream *pOut) { *pOut << c.szName; }

class SipMakeCallRefusalTest : public CSipPluginTest, public ::testing::WithParamInterface<SMakeCallRefusal> {};

TEST_P(SipMakeCallRefusalTest, ReturnsMinusTwoWithoutCallingTheLibrary) {
    if (GetParam().bRegister) {
        ASSERT_EQ(Register(), 0);
    }
    EXPECT_EQ(m_tv.MakeCall(GetParam().szDestination), -2);
    EXPECT_EQ(CountCalls("KIRO_CallCreate"), 0u);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Each, SipMakeCallRefusalTest,
    ::testing::Values(SMakeCallRefusal{"EmptyDestination", true, ""},
                      SMakeCallRefusal{"NullDestination", true, nullptr},
                      SMakeCallRefusal{"NotRegistered", false, "100"}),
    [](const ::testing::TestParamInfo<SMakeCallRefusal> &info) { return info.param.szName; });
// clang-format on

// Hang-up in each state the agent can be in during a call, straight away or
// once the library has renewed the registration a few times.
struct SHangUpCase {
    const char *szName;
    ESipReach eWhere;
    int nResult;
    bool bRenewedFirst;
    bool bAskedAgain = false;  // a call whose destroy was asked for and never closed
};
inline void PrintTo(const SHangUpCase &c, std::ostream *pOut) { *pOut << c.szName; }

class SipHangUpTest : public CSipPluginTest, public ::testing::WithParamInterface<SHangUpCase> {};

TEST_P(SipHangUpTest, AnswersAsTheStateAllows) {
    Reach(GetParam().eWhere);
    if (GetParam().bRenewedFirst) AwaitRenewals(3);
    size_t nDestroys = CountCalls("KIRO_CallDestroy");
    EXPECT_EQ(m_tv.HangUpCall(), GetParam().nResult);
    if (GetParam().nResult == 0) {
        EXPECT_GT(CountCalls("KIRO_CallDestroy"), nDestroys);
        Settle();
        EXPECT_EQ(m_sim.LiveCalls(), 0) << "the call ended in the library";
    } else if (GetParam().bAskedAgain) {
        EXPECT_EQ(CountCalls("KIRO_CallDestroy"), nDestroys + 1) << "the library is asked again";
        EXPECT_NE(ReadLog().find("TV_HangUpCall: failed, error code: " + std::to_string(KIROSIM_ERR_BAD_HANDLE)),
                  std::string::npos)
            << "log was: " << ReadLog();
        EXPECT_EQ(m_tv.MakeCall("100"), 0) << "the call the library no longer has is forgotten";
    } else {
        EXPECT_EQ(CountCalls("KIRO_CallDestroy"), nDestroys) << "a refused hang-up destroys nothing";
        EXPECT_NE(ReadLog().find("TV_HangUpCall: failed, error code: 10"), std::string::npos)
            << "log was: " << ReadLog();
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    EachState, SipHangUpTest,
    ::testing::Values(SHangUpCase{"Alerting", ESipReach::Alerting, 0, false},
                      SHangUpCase{"Ringing", ESipReach::Ringing, 0, false},
                      SHangUpCase{"Talking", ESipReach::Talking, 0, false},
                      // Regression: a call being placed could not be ended
                      // until the far end alerted, nor at all if nobody did.
                      SHangUpCase{"Calling", ESipReach::Calling, 0, false},
                      SHangUpCase{"PlacedBeforeAnyEvent", ESipReach::Placed, 0, false},
                      // Regression: a released call whose close never came
                      // could not be ended, and held the line for good.
                      SHangUpCase{"Released", ESipReach::Released, -2, false, true},
                      SHangUpCase{"Registered", ESipReach::Registered, -2, false},
                      // Regression: a renewal during a call moved the agent to
                      // registered, and the call could no longer be ended.
                      SHangUpCase{"AlertingAfterRenewals", ESipReach::Alerting, 0, true},
                      SHangUpCase{"RingingAfterRenewals", ESipReach::Ringing, 0, true},
                      SHangUpCase{"TalkingAfterRenewals", ESipReach::Talking, 0, true}),
    [](const ::testing::TestParamInfo<SHangUpCase> &info) { return info.param.szName; });
// clang-format on

// Regression: the library hands a closed call's handle out again, and the
// agent ignored every later call on it: never answered, never ended.
TEST_F(SipCallTest, CallsOnAReusedHandleAreAnsweredAndEnded) {
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("call " + std::to_string(i));
        KIRO_HANDLE hCall = i == 0 ? ReachRinging() : m_sim.OfferCall(m_sim.LatestLine());
        Settle();
        EXPECT_EQ(hCall, D_hFirstCall) << "the library's lowest free handle";
        EXPECT_EQ(m_tv.OffHook(), 0);
        EXPECT_EQ(m_tv.HangUpCall(), 0);
        Settle();
    }
    EXPECT_EQ(m_tv.MakeCall("100"), 0);
    Settle();
    EXPECT_EQ(m_sim.LatestCall(), D_hFirstCall);
    EXPECT_EQ(m_tv.HangUpCall(), 0);
    EXPECT_EQ(CountCalls("KIRO_CallDestroy"), 4u) << "each call destroyed once";
}

// Regression: a second caller replaced the agent's call, which stayed live in
// the library out of the host's reach, and was accepted and rang.
TEST_F(SipCallTest, SecondCallerDuringATalkIsDeclinedAndTheCallGoesOn) {
    ReachTalking();
    KIRO_HANDLE hSecond = m_sim.OfferCall(m_sim.LatestLine());
    Settle();
    EXPECT_EQ(m_sim.CallsOf("KIRO_CallDestroy"),
              std::vector<std::string>{"KIRO_CallDestroy|" + std::to_string(hSecond)});
    EXPECT_EQ(CountCalls("KIRO_CallAccept"), 1u) << "only the agent's own call is accepted";
    EXPECT_EQ(m_tv.StartPlayFile("a.wav"), 0) << "the agent's call is still connected";
    EXPECT_EQ(m_sim.Calls().back(), "KIRO_CallStartPlayFile|" + D_strFirstCall + "|a.wav|0");
    EXPECT_EQ(m_tv.HangUpCall(), 0);
    Settle();
    EXPECT_EQ(m_sim.LiveCalls(), 0) << "no call left in the library";
    // The entry as DEPLOY-sip.txt shows it, written by the event thread.
    const std::string strEntry = std::string("\r\n") +
                                 R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d AgentEvents\.cpp:\d+:Decline: )" + "declined call " +
                                 std::to_string(hSecond) + R"(, the agent has a call\.)";
    EXPECT_TRUE(std::regex_search(ReadLog(), std::regex(strEntry))) << "log was: " << ReadLog();
}

// Regression: a caller whose INVITE crossed the agent's own could make the
// placed call be declined, yet TV_MakeCall logged "successfully." and
// returned 0. Which of the two calls wins is the library's threads' race:
// either way the result tells the host which call it has.
TEST_F(SipCallTest, CallerArrivingAsTheCallIsPlacedGetsTheResultRight) {
    ASSERT_EQ(Register(), 0);
    m_sim.SetMode(KIROSIM_MODE_SYNC | KIROSIM_MODE_GLARE);
    for (int nTry = 0; nTry < 6; ++nTry) {
        const size_t nAcceptsBefore = CountCalls("KIRO_CallAccept");
        const int nResult = m_tv.MakeCall("100");
        Settle();
        ASSERT_EQ(m_sim.LiveCalls(), 1) << "one call goes on, the other is declined";
        if (nResult == 0) {
            EXPECT_EQ(CountCalls("KIRO_CallAccept"), nAcceptsBefore) << "the caller was declined";
        } else {
            EXPECT_EQ(nResult, -2);
            EXPECT_EQ(CountCalls("KIRO_CallAccept"), nAcceptsBefore + 1) << "the caller rings";
            // The event thread's decline entry may interleave with this one.
            EXPECT_NE(ReadLog().find("TV_MakeCall: failed (-2), wrong state: "), std::string::npos)
                << "log was: " << ReadLog();
        }
        EXPECT_EQ(m_tv.HangUpCall(), 0) << "the call the agent has can be ended";
        Settle();
        ASSERT_EQ(m_sim.LiveCalls(), 0);
    }
}

// Regression: waits began only after the request returned, so an answer the
// library confirmed inside the request was missed once the next event (here
// a second caller) moved on, and TV_OffHook timed out.
TEST_F(SipCallTest, AnswerConfirmedInsideTheRequestIsSeen) {
    ReachRinging();
    m_sim.SetMode(KIROSIM_MODE_SYNC | KIROSIM_MODE_SECOND_CALLER);
    CStopwatch watch;
    EXPECT_EQ(m_tv.OffHook(), 0);
    EXPECT_LT(watch.Ms(), 4000.0) << "the wait ran out";
    EXPECT_EQ(m_tv.HangUpCall(), 0);
}

// Regression: the server dropping the registration during a call moved the
// agent to unregistered at once: the call could not be ended and the line
// never registered again.
TEST_F(SipCallTest, RegistrationDroppedDuringACallEndsWithTheCall) {
    ReachTalking();
    KIRO_HANDLE hLine = m_sim.LatestLine();
    ASSERT_EQ(m_sim.ExpireLine(hLine), 0);
    Settle();
    EXPECT_EQ(m_tv.StartPlayFile("a.wav"), 0) << "the call goes on";
    EXPECT_EQ(m_tv.HangUpCall(), 0);
    EXPECT_EQ(m_tv.MakeCall("100"), -2) << "unregistered once the call ended";
    EXPECT_EQ(Register(), 0) << "registers again on a new line";
    EXPECT_EQ(m_sim.CallsOf("KIRO_RemoveLine"), std::vector<std::string>{"KIRO_RemoveLine|" + std::to_string(hLine)});
    EXPECT_EQ(m_tv.MakeCall("100"), 0);
}

TEST_F(SipCallTest, HangUpFailedByTheLibraryLogsItsCode) {
    ReachAlerting();
    m_sim.ForceResult("KIRO_CallDestroy", 63);
    EXPECT_EQ(m_tv.HangUpCall(), -2);
    EXPECT_NE(ReadLog().find("TV_HangUpCall: failed, error code: 63"), std::string::npos) << "log was: " << ReadLog();
}

TEST_F(SipCallTest, FarEndAnswerAndHangUpEndRegistered) {
    ReachAlerting();
    ASSERT_EQ(m_sim.RemoteAnswer(m_sim.LatestCall()), 0);
    Settle();
    EXPECT_EQ(m_tv.StartPlayFile("hello.wav"), 0) << "talking after the far end answered";
    ASSERT_EQ(m_sim.RemoteHangUp(m_sim.LatestCall()), 0);
    Settle();
    EXPECT_EQ(m_sim.CallsOf("KIRO_CallDestroy"), std::vector<std::string>{"KIRO_CallDestroy|" + D_strFirstCall})
        << "the release event destroys the call";
    EXPECT_EQ(m_tv.MakeCall("100"), 0) << "registered after the close";
}

TEST_F(SipCallTest, IncomingCallIsAcceptedRingsAndIsAnsweredByOffHook) {
    ReachRinging();
    EXPECT_EQ(m_sim.CallsOf("KIRO_CallAccept"), std::vector<std::string>{"KIRO_CallAccept|" + D_strFirstCall});
    EXPECT_EQ(CountCalls("KIRO_CallAnswer"), 0u) << "nobody picked up yet";
    EXPECT_EQ(m_tv.OffHook(), 0);
    EXPECT_EQ(m_sim.CallsOf("KIRO_CallAnswer"), std::vector<std::string>{"KIRO_CallAnswer|" + D_strFirstCall});
}

TEST_F(SipCallTest, OffHookWithoutARingingCallIsRefused) {
    ASSERT_EQ(Register(), 0);
    EXPECT_EQ(m_tv.OffHook(), -2);
    EXPECT_EQ(CountCalls("KIRO_CallAnswer"), 0u);
}

TEST_F(SipCallTest, PickUpAnswersTheNextCallsUntilOneIsReleased) {
    ASSERT_EQ(Register(), 0);
    EXPECT_EQ(m_tv.PickUp(), 0);
    m_sim.OfferCall(m_sim.LatestLine());
    Settle();
    EXPECT_EQ(CountCalls("KIRO_CallAnswer"), 1u) << "the first call is answered in the callback";
    EXPECT_EQ(m_tv.StartPlayFile("a.wav"), 0) << "talking";

    // Ended without a release: auto-answer stays set for the next call.
    SendCallEvent(m_sim.LatestCall(), KIRO_CALL_CONNECTED, 0);
    m_sim.OfferCall(m_sim.LatestLine());
    Settle();
    EXPECT_EQ(CountCalls("KIRO_CallAnswer"), 2u) << "the second call is answered too";

    ASSERT_EQ(m_tv.HangUpCall(), 0);  // the release clears auto-answer
    m_sim.OfferCall(m_sim.LatestLine());
    Settle();
    EXPECT_EQ(CountCalls("KIRO_CallAnswer"), 2u) << "after a release the call only rings";
    EXPECT_EQ(m_tv.OffHook(), 0);
}

TEST_F(SipCallTest, PickUpWhileRingingAnswersOnlyTheNextRinging) {
    KIRO_HANDLE hCall = ReachRinging();
    EXPECT_EQ(m_tv.PickUp(), 0);
    Settle();
    EXPECT_EQ(CountCalls("KIRO_CallAnswer"), 0u) << "TV_PickUp answers no call by itself";
    SendCallEvent(hCall, KIRO_CALL_RINGING, 1);
    EXPECT_EQ(m_sim.CallsOf("KIRO_CallAnswer"), std::vector<std::string>{"KIRO_CallAnswer|" + D_strFirstCall});
}

// The four file requests on the connected call.
struct SFileRequest {
    const char *szName;
    std::function<int(const CMarentaExports &)> request;
    const char *szRecorded;  // the call the library sees
};
inline void PrintTo(const SFileRequest &c, std::ostream *pOut) { *pOut << c.szName; }

class SipFileRequestTest : public CSipPluginTest, public ::testing::WithParamInterface<SFileRequest> {};

TEST_P(SipFileRequestTest, WhileTalkingGoesToTheLibrary) {
    ReachTalking();
    EXPECT_EQ(GetParam().request(m_tv), 0);
    std::string strCall = m_sim.Calls().back();
    EXPECT_EQ(strCall, std::string(GetParam().szRecorded));
}

TEST_P(SipFileRequestTest, OutsideTalkingIsRefusedWithoutTheLibrary) {
    ReachRinging();
    size_t nCalls = m_sim.Calls().size();
    EXPECT_EQ(GetParam().request(m_tv), -1);
    EXPECT_EQ(m_sim.Calls().size(), nCalls);
}

TEST_P(SipFileRequestTest, LibraryFailureReturnsMinusOne) {
    ReachTalking();
    std::string strFunction(GetParam().szRecorded);
    m_sim.ForceResult(strFunction.substr(0, strFunction.find('|')).c_str(), 66);
    EXPECT_EQ(GetParam().request(m_tv), -1);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Each, SipFileRequestTest,
    ::testing::Values(
        SFileRequest{"StartPlay", [](const CMarentaExports &tv) { return tv.StartPlayFile("in.wav"); },
                     "KIRO_CallStartPlayFile|12289|in.wav|0"},
        SFileRequest{"StopPlay", [](const CMarentaExports &tv) { return tv.StopPlayFile(); },
                     "KIRO_CallStopPlayFile|12289"},
        SFileRequest{"StartRecord",
                     [](const CMarentaExports &tv) { return tv.StartRecordFile("out.wav"); },
                     "KIRO_CallRecordStart|12289|out.wav"},
        SFileRequest{"StopRecord", [](const CMarentaExports &tv) { return tv.StopRecordFile(); },
                     "KIRO_CallRecordStop|12289"}),
    [](const ::testing::TestParamInfo<SFileRequest> &info) { return info.param.szName; });
// clang-format on

// Regression: a missing file name went to the library unchecked.
TEST_F(SipCallTest, NullFileIsRefusedWithoutTheLibrary) {
    ReachTalking();
    size_t nCalls = m_sim.Calls().size();
    EXPECT_EQ(m_tv.StartPlayFile(nullptr), -1);
    EXPECT_EQ(m_tv.StartRecordFile(nullptr), -1);
    EXPECT_EQ(m_sim.Calls().size(), nCalls);
}

// Regression: unloading the plug-in while a tone played unloaded winmm.dll
// (the plug-in its only user) under winmm's own sound thread, which then
// faulted in the host's process. Tones play only once the library started,
// and from then on the plug-in, winmm.dll with it, stays.
TEST_F(SipCallTest, UnloadWhileAToneLoopsKeepsTheSoundLibraryMapped) {
    ReachRinging();  // the ring tone loops on a thread of winmm's
    ASSERT_TRUE(FreeLibrary(m_hPlugin));
    m_hPlugin = nullptr;
    EXPECT_NE(GetModuleHandleA("BRAVIK32.dll"), nullptr) << "the library holds its callback";
    EXPECT_NE(GetModuleHandleA("winmm.dll"), nullptr) << "winmm.dll stays for its sound thread";
}
