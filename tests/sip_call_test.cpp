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

// How a call ends with status words other than 1, as the far end and the
// library send them.
enum class EFailedEnd {
    Busy,              // outgoing: the far end answers 486
    BusyCloseFailed,   // 486, and the close after the destroy carries 487
    ReinviteRefused,   // talking: a re-INVITE refused, status 0; the library keeps the call
};

struct SFailedCallCase {
    const char *szName;
    EFailedEnd eEnd;
};
inline void PrintTo(const SFailedCallCase &c, std::ostream *pOut) { *pOut << c.szName; }

class SipFailedCallTest : public CSipPluginTest, public ::testing::WithParamInterface<SFailedCallCase> {
protected:
    // The call, ended as the row says; its handle.
    KIRO_HANDLE EndFailed() {
        if (GetParam().eEnd == EFailedEnd::ReinviteRefused) {
            KIRO_HANDLE hCall = ReachTalking();
            EXPECT_EQ(m_sim.RefuseReinvite(hCall), 0);
            Settle();
            return hCall;
        }
        if (GetParam().eEnd == EFailedEnd::BusyCloseFailed) m_sim.SetEventStatus(KIRO_CALL_CLOSED, 487);
        ReachAlerting();
        KIRO_HANDLE hCall = m_sim.LatestCall();
        EXPECT_EQ(m_sim.RemoteRelease(hCall, KIROSIM_STATUS_BUSY), 0);
        Settle();
        return hCall;
    }
};

// Regression: a call that ended with a failed status was dropped but never
// destroyed, so the library kept it live (five busy calls, five live calls);
// with a failed close too its record stayed, and the next caller on the
// handle was neither taken nor declined while the next outgoing call could
// not be hung up.
TEST_P(SipFailedCallTest, IsDestroyedOnceAndItsHandleServesTheNextCalls) {
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("call " + std::to_string(i));
        size_t nDestroys = CountCalls("KIRO_CallDestroy");
        KIRO_HANDLE hCall = i == 0 ? EndFailed() : 0;
        if (i > 0) {
            ASSERT_EQ(m_tv.MakeCall("100"), 0);
            Settle();
            hCall = m_sim.LatestCall();
            EXPECT_EQ(m_sim.RemoteRelease(hCall, KIROSIM_STATUS_BUSY), 0);
            Settle();
        }
        EXPECT_EQ(m_sim.LiveCalls(), 0) << "the failed call is gone from the library";
        EXPECT_EQ(CountCalls("KIRO_CallDestroy"), nDestroys + 1) << "destroyed exactly once";
        EXPECT_EQ(m_sim.Calls().back(), "KIRO_CallDestroy|" + std::to_string(hCall)) << "by its own handle";
        EXPECT_EQ(hCall, D_hFirstCall) << "the library's lowest free handle";
    }
    m_sim.SetEventStatus(KIRO_CALL_CLOSED, 1);
    EXPECT_EQ(m_sim.OfferCall(m_sim.LatestLine()), D_hFirstCall);
    Settle();
    EXPECT_EQ(m_tv.OffHook(), 0) << "a caller on the handle rings and is answered";
    EXPECT_EQ(m_tv.HangUpCall(), 0);
    EXPECT_EQ(m_tv.MakeCall("100"), 0);
    Settle();
    EXPECT_EQ(m_tv.HangUpCall(), 0) << "an outgoing call on the handle is hung up";
    Settle();
    EXPECT_EQ(m_sim.LiveCalls(), 0);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Each, SipFailedCallTest,
    ::testing::Values(SFailedCallCase{"Busy", EFailedEnd::Busy},
                      SFailedCallCase{"BusyCloseFailed", EFailedEnd::BusyCloseFailed},
                      SFailedCallCase{"ReinviteRefused", EFailedEnd::ReinviteRefused}),
    [](const ::testing::TestParamInfo<SFailedCallCase> &info) { return info.param.szName; });
// clang-format on

// A call whose close never comes after the far end's release: its destroy
// refused, or taken and its end never reported. The host's hang-up asks the
// library again, and a new registration gives a line that calls and takes
// calls.
struct SUnclosedCase {
    const char *szName;
    bool bDestroyLost;  // else refused
    bool bReregister;   // else hang up again
    int nHangUp;        // the hang-up's result
};
inline void PrintTo(const SUnclosedCase &c, std::ostream *pOut) { *pOut << c.szName; }

class SipUnclosedCallTest : public CSipPluginTest, public ::testing::WithParamInterface<SUnclosedCase> {};

// Regression: the handle stayed the agent's call for good: TV_HangUpCall was
// refused without asking the library, and even after TV_UnInitialize and
// TV_Initialize TV_MakeCall answered -2 and every caller was declined.
TEST_P(SipUnclosedCallTest, DoesNotHoldTheLine) {
    const SUnclosedCase &c = GetParam();
    KIRO_HANDLE hCall = ReachTalking();
    if (c.bDestroyLost)
        m_sim.SetMode(m_sim.GetMode() | KIROSIM_MODE_DESTROY_LOST);
    else
        m_sim.ForceResult("KIRO_CallDestroy", 77);
    ASSERT_EQ(m_sim.RemoteHangUp(hCall), 0);
    Settle();
    m_sim.SetMode(m_sim.GetMode() & ~KIROSIM_MODE_DESTROY_LOST);
    m_sim.ForceResult("KIRO_CallDestroy", 0);
    size_t nDestroys = CountCalls("KIRO_CallDestroy");
    if (c.bReregister) {
        EXPECT_EQ(m_tv.UnInitialize(), 0);
        EXPECT_EQ(Register(), 0);
    } else {
        EXPECT_EQ(m_tv.HangUpCall(), c.nHangUp);
    }
    EXPECT_EQ(CountCalls("KIRO_CallDestroy"), nDestroys + 1) << "the library is asked again";
    Settle();
    EXPECT_EQ(m_tv.MakeCall("100"), 0);
    Settle();
    EXPECT_EQ(m_tv.HangUpCall(), 0);
    m_sim.OfferCall(m_sim.LatestLine());
    Settle();
    EXPECT_EQ(m_tv.OffHook(), 0) << "a caller is taken";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Each, SipUnclosedCallTest,
    ::testing::Values(
        // The library ends the released call when asked again.
        SUnclosedCase{"DestroyRefusedThenHangUp", false, false, 0},
        SUnclosedCase{"DestroyRefusedThenReregister", false, true, 0},
        // The library has no such call any more: it is forgotten.
        SUnclosedCase{"EndNeverReportedThenHangUp", true, false, -2},
        SUnclosedCase{"EndNeverReportedThenReregister", true, true, 0}),
    [](const ::testing::TestParamInfo<SUnclosedCase> &info) { return info.param.szName; });
// clang-format on

// Regression: TV_UnInitialize during a call unregistered the line and left
// the call live, out of reach of TV_HangUpCall and TV_OffHook. The call is
// ended first, as TV_HangUpCall ends it, then the line goes.
class SipUnregisterDuringACallTest : public CSipPluginTest, public ::testing::WithParamInterface<ESipReach> {};

TEST_P(SipUnregisterDuringACallTest, EndsTheCallFirst) {
    KIRO_HANDLE hCall = Reach(GetParam());
    ASSERT_NE(hCall, 0u);
    const std::string strLine = std::to_string(m_sim.LatestLine());
    EXPECT_EQ(m_tv.UnInitialize(), 0);
    std::vector<std::string> calls = m_sim.Calls();
    std::vector<std::string> ending = {"KIRO_CallDestroy|" + std::to_string(hCall), "KIRO_LineUnRegister|" + strLine,
                                       "KIRO_RemoveLine|" + strLine};
    EXPECT_EQ(std::vector<std::string>(calls.end() - 3, calls.end()), ending) << "the call goes before the line";
    Settle();
    EXPECT_EQ(m_sim.LiveCalls(), 0);
    EXPECT_EQ(m_tv.HangUpCall(), -2) << "no call left";
    EXPECT_EQ(Register(), 0);
    EXPECT_EQ(m_tv.MakeCall("100"), 0);
    Settle();
    EXPECT_EQ(m_tv.HangUpCall(), 0);
}

std::string ReachName(const ::testing::TestParamInfo<ESipReach> &info) {
    static const char *const s_aszNames[] = {"Nothing", "Registered", "Calling", "Placed", "Alerting",
                                             "Ringing", "Talking",    "Released", "Expired"};
    return s_aszNames[static_cast<int>(info.param)];
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    EachState, SipUnregisterDuringACallTest,
    ::testing::Values(ESipReach::Calling, ESipReach::Alerting, ESipReach::Ringing, ESipReach::Talking,
                      ESipReach::Placed),
    ReachName);
// clang-format on

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
