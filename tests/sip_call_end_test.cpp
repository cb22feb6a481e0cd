// SIP plug-in, black-box: how calls end when the far end or the library
// fails them: a failed status word, a destroy refused or a close that never
// comes, and the call still up when the line is unregistered. The library
// must never keep a call the host cannot reach, nor the agent a line it
// cannot use.
#include <string>
#include <vector>

#include "sip_fixture.h"

namespace {
const KIRO_HANDLE D_hFirstCall = 0x3001;
}  // namespace

// How a call ends with status words other than 1, as the far end and the
// library send them.
enum class EFailedEnd {
    Busy,             // outgoing: the far end answers 486
    BusyCloseFailed,  // 486, and the close after the destroy carries 487
    ReinviteRefused,  // talking: a re-INVITE refused, status 0; the library keeps the call
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
    static const char *const s_aszNames[] = {"Nothing", "Registered", "Calling",  "Placed", "Alerting",
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
