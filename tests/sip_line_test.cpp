// SIP plug-in, black-box: starting the library, registering and releasing
// the line, and how each refusal or library failure comes back to the host.
#include <string>
#include <vector>

#include "sip_fixture.h"

namespace {
const KIRO_HANDLE D_hFirstLine = 0x2001;
// A user whose identity with "@example.com" is one character too long for
// the 254 the identity holds, and one that just fits.
const std::string D_strUserTooLong(255 - 12, 'u');
const std::string D_strUserThatFits(254 - 12, 'u');

std::vector<std::string> Tail(const std::vector<std::string> &calls, size_t nCount) {
    return std::vector<std::string>(calls.end() - static_cast<long>(std::min(nCount, calls.size())), calls.end());
}
}  // namespace

using SipLineTest = CSipPluginTest;

TEST_F(SipLineTest, RegistrationStartsTheLibraryThenRegistersTheLine) {
    ASSERT_EQ(Register(), 0);
    EXPECT_EQ(m_sim.Calls(), ExpectedRegistrationCalls(true));
}

TEST_F(SipLineTest, UnregistrationReleasesTheLineAndRegistersAgainWithoutRestart) {
    ASSERT_EQ(Register(), 0);
    ASSERT_EQ(m_tv.UnInitialize(), 0);
    std::vector<std::string> release = {"KIRO_LineUnRegister|8193", "KIRO_RemoveLine|8193"};
    EXPECT_EQ(Tail(m_sim.Calls(), 2), release);

    ASSERT_EQ(Register(), 0) << "a registration after the release";
    EXPECT_EQ(Tail(m_sim.Calls(), 3), ExpectedRegistrationCalls(false, D_hFirstLine + 1));
    EXPECT_EQ(CountCalls("KIRO_Initialize"), 1u) << "the library is started once per process";
    EXPECT_EQ(CountCalls("KIRO_EventListenerAdd"), 1u);
}

TEST_F(SipLineTest, UnregistrationPausesHalfASecondBeforeRemovingTheLine) {
    ASSERT_EQ(Register(), 0);
    CStopwatch watch;
    ASSERT_EQ(m_tv.UnInitialize(), 0);
    double dTook = watch.Ms();
    EXPECT_GE(dTook, 499.0) << "the line went before the far end could answer";
    EXPECT_LT(dTook, 2500.0);
}

TEST_F(SipLineTest, InitializeWhileRegisteredIsRefusedWithoutTouchingTheLine) {
    ASSERT_EQ(Register(), 0);
    size_t nCalls = m_sim.Calls().size();
    EXPECT_EQ(Register(), -3);
    EXPECT_EQ(m_sim.Calls().size(), nCalls) << "no library request for a held line";
}

TEST_F(SipLineTest, InitOptionGoesToTheLibraryAndMayBeMissing) {
    ASSERT_EQ(m_tv.Initialize("example.com", "1001", "secret", "proxy.example.com", nullptr), 0);
    EXPECT_EQ(m_sim.CallsOf("KIRO_Initialize"), std::vector<std::string>{"KIRO_Initialize|5060|10000|16|kIRO||0"});
}

// One registration argument empty or missing: refused after the library start.
struct SMissingArgument {
    const char *szName;
    const char *aszArguments[4];  // domain, user, credential, outboundProxy
};
inline void PrintTo(const SMissingArgument &c, std::ostream *pOut) { *pOut << c.szName; }

class SipMissingArgumentTest : public CSipPluginTest, public ::testing::WithParamInterface<SMissingArgument> {};

TEST_P(SipMissingArgumentTest, IsRefusedAfterTheLibraryStarted) {
    const char *const *args = GetParam().aszArguments;
    EXPECT_EQ(m_tv.Initialize(args[0], args[1], args[2], args[3], "opt"), -3);
    EXPECT_EQ(CountCalls("KIRO_Initialize"), 1u) << "the library starts before the check";
    EXPECT_EQ(CountCalls("KIRO_AddLine"), 0u) << "no line for a refused registration";
    ASSERT_EQ(Register(), 0) << "a full registration afterwards";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    EachArgument, SipMissingArgumentTest,
    ::testing::Values(
        SMissingArgument{"EmptyDomain", {"", "1001", "secret", "proxy"}},
        SMissingArgument{"EmptyUser", {"example.com", "", "secret", "proxy"}},
        SMissingArgument{"EmptyCredential", {"example.com", "1001", "", "proxy"}},
        SMissingArgument{"EmptyProxy", {"example.com", "1001", "secret", ""}},
        SMissingArgument{"NullDomain", {nullptr, "1001", "secret", "proxy"}},
        SMissingArgument{"NullUser", {"example.com", nullptr, "secret", "proxy"}},
        SMissingArgument{"NullCredential", {"example.com", "1001", nullptr, "proxy"}},
        SMissingArgument{"NullProxy", {"example.com", "1001", "secret", nullptr}},
        // Regression: an identity too long for its buffer was cut and
        // registered, here without its "@domain".
        SMissingArgument{"IdentityTooLong", {"example.com", D_strUserTooLong.c_str(), "secret", "proxy"}}),
    [](const ::testing::TestParamInfo<SMissingArgument> &info) { return info.param.szName; });
// clang-format on

TEST_F(SipLineTest, UnInitializeBeforeTheLibraryStartedIsRefused) {
    EXPECT_EQ(m_tv.UnInitialize(), -2);
    EXPECT_EQ(m_sim.Calls(), std::vector<std::string>{"KIRO_LineUnRegister|0"});
}

// Regression: a second TV_UnInitialize asked the library to unregister a
// line the agent no longer held, and answered its refusal (or timed out).
TEST_F(SipLineTest, UnInitializeWhenUnregisteredAnswersZeroAndAsksNothing) {
    ASSERT_EQ(Register(), 0);
    ASSERT_EQ(m_tv.UnInitialize(), 0);
    Settle();
    size_t nCalls = m_sim.Calls().size();
    EXPECT_EQ(m_tv.UnInitialize(), 0) << "already unregistered";
    EXPECT_EQ(m_sim.Calls().size(), nCalls) << "no library request without a line";
    EXPECT_EQ(Register(), 0);
}

// A library function failing under an export, then working again.
struct SLibraryFailure {
    const char *szName;
    ESipReach eBefore;
    const char *szFunction;  // forced to fail with 77
    ESipAction eAction;
    int nResult;
    const char *szLastCall;  // the library's last call after the failure
    ESipAction eThen;        // with the function working again
    int nThenResult;
};
inline void PrintTo(const SLibraryFailure &c, std::ostream *pOut) { *pOut << c.szName; }

class SipLibraryFailureTest : public CSipPluginTest, public ::testing::WithParamInterface<SLibraryFailure> {};

TEST_P(SipLibraryFailureTest, ComesBackAsTheExportsResult) {
    const SLibraryFailure &c = GetParam();
    Reach(c.eBefore);
    if (*c.szFunction) m_sim.ForceResult(c.szFunction, 77);
    EXPECT_EQ(Do(c.eAction), c.nResult);
    EXPECT_EQ(m_sim.Calls().back(), c.szLastCall);
    if (*c.szFunction) m_sim.ForceResult(c.szFunction, 0);
    Settle();
    EXPECT_EQ(Do(c.eThen), c.nThenResult) << "once " << c.szFunction << " works again";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Each, SipLibraryFailureTest,
    ::testing::Values(
        // No instance is held after a failed start: the next one tries again.
        SLibraryFailure{"Start", ESipReach::Nothing, "KIRO_Initialize", ESipAction::Register, -1,
                        "KIRO_Initialize|5060|10000|16|kIRO||0", ESipAction::Register, 0},
        // Regression: an instance without a listener was never started
        // again, and the plug-in stayed useless for the life of the process.
        // Only the listener is tried again; the library starts once.
        SLibraryFailure{"Listener", ESipReach::Nothing, "KIRO_EventListenerAdd", ESipAction::Register, -1,
                        "KIRO_EventListenerAdd|4097|0", ESipAction::Register, 0},
        SLibraryFailure{"AddLine", ESipReach::Nothing, "KIRO_AddLine", ESipAction::Register, -3,
                        "KIRO_AddLine|4097|1001@example.com", ESipAction::Register, 0},
        SLibraryFailure{"LineRegister", ESipReach::Nothing, "KIRO_LineRegister", ESipAction::Register, -3,
                        "KIRO_RemoveLine|8193", ESipAction::Register, 0},
        SLibraryFailure{"OutboundProxyIgnored", ESipReach::Nothing, "KIRO_SetOutboundProxy",
                        ESipAction::Register, 0, "KIRO_LineRegister|8193|example.com|1001|secret|1001@example.com",
                        ESipAction::Unregister, 0},
        // Regression: a refused unregistration kept the line, and every later
        // TV_Initialize answered -3. The line is removed all the same.
        SLibraryFailure{"LineUnRegister", ESipReach::Registered, "KIRO_LineUnRegister", ESipAction::Unregister,
                        -2, "KIRO_RemoveLine|8193", ESipAction::Register, 0},
        // The server dropped the registration, so the library refuses to
        // unregister it (no forced failure here).
        SLibraryFailure{"UnregistrationOfADroppedLine", ESipReach::Expired, "", ESipAction::Unregister,
                        -2, "KIRO_RemoveLine|8193", ESipAction::Register, 0},
        // The line is forgotten anyway and its unregistration still comes.
        SLibraryFailure{"RemoveLine", ESipReach::Registered, "KIRO_RemoveLine", ESipAction::Unregister, -2,
                        "KIRO_RemoveLine|8193", ESipAction::Register, 0},
        SLibraryFailure{"CallCreate", ESipReach::Registered, "KIRO_CallCreate", ESipAction::MakeCall, -2,
                        "KIRO_CallCreate|4097|8193|100", ESipAction::MakeCall, 0},
        SLibraryFailure{"CallDestroy", ESipReach::Alerting, "KIRO_CallDestroy", ESipAction::HangUp, -2,
                        "KIRO_CallDestroy|12289", ESipAction::HangUp, 0},
        SLibraryFailure{"CallAnswer", ESipReach::Ringing, "KIRO_CallAnswer", ESipAction::OffHook, -2,
                        "KIRO_CallAnswer|12289", ESipAction::OffHook, 0}),
    [](const ::testing::TestParamInfo<SLibraryFailure> &info) { return info.param.szName; });
// clang-format on

// Regression: the line was forgotten at KIRO_RemoveLine, so an unregistration
// event arriving after it was ignored and the plug-in stayed registered.
TEST_F(SipLineTest, LateUnregistrationEventAfterRemoveLineIsStillRecognised) {
    ASSERT_EQ(Register(), 0);
    m_sim.SetEventDelay(KIRO_LINE_UNREGISTERED, 900);
    EXPECT_EQ(m_tv.UnInitialize(), 0);
    EXPECT_EQ(Register(), 0) << "registering again after the late unregistration";
}

// Regression: the library keeps AgentEventCallback after FreeLibrary (it
// has no call to remove a listener), so the next event ran unmapped code; a
// reload started the library again with a second listener. Twenty times
// load, TV_Initialize, a call, unload while events keep coming: the same
// agent each time, one library start, one listener.
TEST_F(SipLineTest, UnloadAndReloadWhileEventsComeFindTheSameAgent) {
    const int nCycles = 20;
    for (int i = 0; i < nCycles; ++i) {
        SCOPED_TRACE("cycle " + std::to_string(i));
        if (i > 0) {
            m_hPlugin = LoadLibraryA("BRAVIK32.dll");
            ASSERT_NE(m_hPlugin, nullptr);
            ASSERT_EQ(m_tv.Bind(m_hPlugin), "");
        }
        EXPECT_EQ(Register(), i == 0 ? 0 : -3) << "the line is still the agent's after a reload";
        EXPECT_EQ(m_tv.MakeCall("100"), 0);
        Settle();
        EXPECT_EQ(m_tv.HangUpCall(), 0);
        // Events for the line and of a type the agent only passes on, due while
        // the host holds no reference to the plug-in.
        uint32_t aWords[KIRO_RECORD_WORDS] = {0, m_sim.LatestLine(), KIRO_LINE_REGISTERED};
        for (int nDelayMs = 0; nDelayMs < 6; nDelayMs += 2) {
            m_sim.SendEvent(KIRO_EVENT_LINE, aWords, KIRO_RECORD_WORDS, nDelayMs);
            m_sim.SendEvent(8, aWords, KIRO_RECORD_WORDS, nDelayMs + 1);
        }
        ASSERT_TRUE(FreeLibrary(m_hPlugin));
        m_hPlugin = nullptr;
        Settle();
    }
    EXPECT_EQ(CountCalls("KIRO_Initialize"), 1u) << "one library start";
    EXPECT_EQ(CountCalls("KIRO_EventListenerAdd"), 1u);
    EXPECT_EQ(m_sim.ListenerCount(), 1) << "one listener";
    EXPECT_EQ(CountCalls("KIRO_CallDestroy"), 1u * nCycles) << "each call destroyed once";
}

// Regression: after the server dropped the registration (23000 unasked) the
// agent kept a line it could not use, and every TV_Initialize answered -3.
TEST_F(SipLineTest, RegistrationDroppedByTheServerIsRegisteredAgainOnANewLine) {
    ASSERT_EQ(Register(), 0);
    ASSERT_EQ(m_sim.ExpireLine(D_hFirstLine), 0);
    Settle();
    EXPECT_EQ(m_tv.MakeCall("100"), -2) << "unregistered";
    EXPECT_EQ(Register(), 0);
    std::vector<std::string> again = {"KIRO_RemoveLine|8193"};
    for (const std::string &strCall : ExpectedRegistrationCalls(false, D_hFirstLine + 1)) again.push_back(strCall);
    EXPECT_EQ(Tail(m_sim.Calls(), 4), again) << "the dropped line goes, a new one registers";
    EXPECT_EQ(m_tv.MakeCall("100"), 0);
}

// A failing renewal changes nothing until the server drops the line.
TEST_F(SipLineTest, FailingRenewalsKeepTheAgentRegistered) {
    ASSERT_EQ(Register(), 0);
    m_sim.SetMode(m_sim.GetMode() | KIROSIM_MODE_RENEWAL_FAILS);
    m_sim.SetRenewal(5);
    CStopwatch watch;
    while (m_sim.DispatchTime(KIROSIM_LINE_RENEWAL_FAILED) == 0 && watch.Ms() < D_nSimIdleMs) Sleep(5);
    m_sim.SetRenewal(0);
    Settle();
    ASSERT_NE(m_sim.DispatchTime(KIROSIM_LINE_RENEWAL_FAILED), 0) << "no renewal failed";
    EXPECT_EQ(m_tv.MakeCall("100"), 0);
}

// Regression: user and domain were formatted into the identity unbounded.
// One too long is refused (SipMissingArgumentTest); 254 characters fit.
TEST_F(SipLineTest, IdentityOfTheFullLengthRegistersWhole) {
    ASSERT_EQ(m_tv.Initialize("example.com", D_strUserThatFits.c_str(), "secret", "proxy", ""), 0);
    EXPECT_EQ(m_sim.CallsOf("KIRO_AddLine"),
              std::vector<std::string>{"KIRO_AddLine|4097|" + D_strUserThatFits + "@example.com"});
}

TEST_F(SipLineTest, ExportsBeforeInitializeNeedNoLibrary) {
    EXPECT_EQ(m_tv.Installed(), 1);
    EXPECT_EQ(m_tv.PickUp(), 0);
    EXPECT_EQ(m_tv.MakeCall("100"), -2);
    EXPECT_EQ(m_tv.HangUpCall(), -2);
    EXPECT_EQ(m_tv.OffHook(), -2);
    EXPECT_EQ(m_tv.StopPlayFile(), -1);
    EXPECT_TRUE(m_sim.Calls().empty()) << "no library call before TV_Initialize";
}
