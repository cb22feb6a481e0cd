// SIP agent, white-box: the tone player. Every PlaySoundA call goes to a
// recorder installed in the sound table, so the tests see each path and set
// of flags; the agent is driven by its event callback or set directly.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "KiroSim.h"
#include "TonePlayer.h"
#include "marenta.h"
#include "sip_agent_probe.h"
#include "sound_api.h"

namespace {
const KIRO_HANDLE D_hLine = 0x2001;
const KIRO_HANDLE D_hCall = 0x3001;
const char D_szFolder[] = "C:\\tones";
const char D_szToneDir[] = "C:\\tones\\res\\";
const DWORD D_dwLooped = 0x20009;
const DWORD D_dwOnce = 0x20001;
const DWORD D_dwStop = 0x10000;

// One PlaySoundA call as "path|flags in hex", "(null)" for no sound name.
std::vector<std::string> g_played;

BOOL WINAPI RecordPlaySound(LPCSTR pszSound, HMODULE hModule, DWORD fdwSound) {
    char szFlags[32];
    snprintf(szFlags, sizeof szFlags, "|%#lx%s", static_cast<unsigned long>(fdwSound), hModule ? "|module" : "");
    g_played.push_back(std::string(pszSound ? pszSound : "(null)") + szFlags);
    return TRUE;
}

std::string Played(const std::string &strPath, DWORD dwFlags) {
    char szFlags[32];
    snprintf(szFlags, sizeof szFlags, "|%#lx", static_cast<unsigned long>(dwFlags));
    return strPath + szFlags;
}

const std::string D_strStop = Played("(null)", D_dwStop);

void SendCall(uint32_t nCode, uint32_t nStatus) {
    uint32_t aWords[KIRO_RECORD_WORDS] = {0, D_hCall, 0, nCode, nStatus};
    AgentEventCallback(KIRO_EVENT_CALL, aWords, nullptr);
}

std::string ExeFolder() {
    char szPath[MAX_PATH];
    std::string strPath(szPath, GetModuleFileNameA(nullptr, szPath, sizeof szPath));
    return strPath.substr(0, strPath.find_last_of('\\') + 1);
}
}  // namespace

class SipToneTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_sim.Bind(GetModuleHandleA("KIRO.dll"))) << "the simulated KIRO.dll";
        m_sim.Reset();
        static const SOUND_API recorder = {RecordPlaySound};
        InstallSoundApi(&recorder);
        g_played.clear();
        CSipAgentProbe::Restart(STATE_REGISTERED, D_hLine, D_hCall);
        CSipAgent::Instance().AddObserver(&m_player);
    }
    void TearDown() override {
        m_sim.Reset();
        CSipAgentProbe::Restart(STATE_UNINITIALISED, 0, 0);
        InstallSoundApi(nullptr);
    }

    CKiroSimControls m_sim;
    CTonePlayer m_player{D_szFolder, "Ringtone.wav", "Ringback.wav", "DialTones.wav", "RemoteBusy.wav"};
};

// The sound for each state, with the status word of the latest call event.
struct SToneCase {
    const char *szName;
    uint32_t nState;
    int nStatus;
    const char *szPlayed;  // the one call expected, "" for none
};
inline void PrintTo(const SToneCase &c, std::ostream *pOut) { *pOut << c.szName; }

class SipToneTableTest : public SipToneTest, public ::testing::WithParamInterface<SToneCase> {};

TEST_P(SipToneTableTest, PlaysTheStatesTone) {
    CSipAgentProbe::Restart(static_cast<AgentState>(GetParam().nState), D_hLine, D_hCall);
    CSipAgentProbe::SetCallStatus(GetParam().nStatus);
    m_player.OnAgentChanged(CSipAgent::Instance());
    std::vector<std::string> expected;
    if (*GetParam().szPlayed) expected.push_back(GetParam().szPlayed);
    EXPECT_EQ(g_played, expected);
}

const std::string D_strDial = Played(std::string(D_szToneDir) + "DialTones.wav", D_dwLooped);
const std::string D_strRingback = Played(std::string(D_szToneDir) + "Ringback.wav", D_dwLooped);
const std::string D_strRing = Played(std::string(D_szToneDir) + "Ringtone.wav", D_dwLooped);
const std::string D_strBusy = Played(std::string(D_szToneDir) + "RemoteBusy.wav", D_dwOnce);

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    States, SipToneTableTest,
    ::testing::Values(
        SToneCase{"Uninitialised", STATE_UNINITIALISED, 1, D_strStop.c_str()},
        SToneCase{"Unregistered", STATE_UNREGISTERED, 1, D_strStop.c_str()},
        SToneCase{"Registered", STATE_REGISTERED, 1, ""},
        SToneCase{"Calling", STATE_CALLING, 1, D_strDial.c_str()},
        SToneCase{"Alerting", STATE_ALERTING, 1, D_strRingback.c_str()},
        SToneCase{"Ringing", STATE_RINGING, 1, D_strRing.c_str()},
        SToneCase{"Talking", STATE_TALKING, 1, D_strStop.c_str()},
        SToneCase{"Released", STATE_RELEASED, 1, D_strBusy.c_str()},
        SToneCase{"NoSuchState", 256, 1, ""},
        SToneCase{"RingingStatusZero", STATE_RINGING, 0, D_strStop.c_str()},
        SToneCase{"CallingStatusTwo", STATE_CALLING, 2, D_strStop.c_str()},
        SToneCase{"RegisteredStatusZero", STATE_REGISTERED, 0, D_strStop.c_str()}),
    [](const ::testing::TestParamInfo<SToneCase> &info) { return info.param.szName; });
// clang-format on

// Regression: a call that closed without a release left its looped ringback
// playing, with no call, until the next tone.
TEST_F(SipToneTest, RingbackStopsWhenTheCallClosesWithoutARelease) {
    SendCall(2000, 1);
    SendCall(3000, 1);
    SendCall(11000, 1);
    EXPECT_EQ(g_played, (std::vector<std::string>{D_strDial, D_strRingback, D_strStop}))
        << "registered straight from alerting stops the looped ringback";
}

TEST_F(SipToneTest, ReleaseReplacesTheLoopedToneWithOneBusyTone) {
    SendCall(10000, 1);
    SendCall(8000, 1);
    SendCall(11000, 1);
    EXPECT_EQ(g_played, (std::vector<std::string>{D_strRing, D_strBusy}));
}

TEST_F(SipToneTest, StatusZeroStopsTheRingToneAtOnce) {
    SendCall(10000, 1);
    SendCall(10000, 0);
    EXPECT_EQ(g_played, (std::vector<std::string>{D_strRing, D_strStop}));
}

// Regression: every TV_Initialize added the tone player again, so a host that
// registered again and again had each tone asked for as many times.
TEST_F(SipToneTest, InitializeAddsTheTonePlayerOnce) {
    CSipAgentProbe::Restart(STATE_UNINITIALISED, 0, 0);
    ASSERT_EQ(TV_Initialize("example.com", "1001", "secret", "proxy", ""), 0);
    EXPECT_EQ(TV_Initialize("example.com", "1001", "secret", "proxy", ""), -3);
    ASSERT_EQ(TV_UnInitialize(), 0);
    ASSERT_EQ(TV_Initialize("example.com", "1001", "secret", "proxy", ""), 0);
    ASSERT_EQ(CSipAgent::Instance().ObserverCount(), 1u) << "added once per process";
    EXPECT_EQ(CSipAgentProbe::Observer(0), &g_TonePlayer);
    ASSERT_FALSE(g_played.empty());
    EXPECT_EQ(g_played.front(), D_strStop) << "the library start stops any sound";
}

TEST_F(SipToneTest, StaticPlayerWithoutThePluginLoadedUsesTheHostsFolder) {
    // This suite links the agent's modules: no module named BRAVIK32.dll was
    // loaded when the static player was built.
    EXPECT_EQ(std::string(g_TonePlayer.ToneDir()), ExeFolder() + "res\\");
}

TEST_F(SipToneTest, FolderIsThatOfTheModuleLoadedAsBravik32) {
    std::string strFolder = ExeFolder() + "tone_folder_test";
    CreateDirectoryA(strFolder.c_str(), nullptr);
    std::string strPlugin = strFolder + "\\BRAVIK32.dll";
    ASSERT_TRUE(CopyFileA((ExeFolder() + "BRAVIK32.dll").c_str(), strPlugin.c_str(), FALSE));
    HMODULE hPlugin = LoadLibraryExA(strPlugin.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(hPlugin, nullptr) << "the plug-in copy did not load";
    CTonePlayer player(nullptr, "r", "b", "d", "x");
    EXPECT_EQ(std::string(player.ToneDir()), strFolder + "\\res\\");
    FreeLibrary(hPlugin);
    DeleteFileA(strPlugin.c_str());
    RemoveDirectoryA(strFolder.c_str());
}

struct SFolderCase {
    const char *szName;
    std::string strFolder;
    std::string strToneDir;
};
inline void PrintTo(const SFolderCase &c, std::ostream *pOut) { *pOut << c.szName; }

class SipToneFolderTest : public SipToneTest, public ::testing::WithParamInterface<SFolderCase> {};

// Regression: long folders overran the folder and path buffers.
TEST_P(SipToneFolderTest, IsCutSafelyToItsBuffers) {
    CTonePlayer player(GetParam().strFolder.c_str(), "Ringtone.wav", "Ringback.wav", "DialTones.wav", "RemoteBusy.wav");
    EXPECT_EQ(std::string(player.ToneDir()), GetParam().strToneDir);
    CSipAgentProbe::Restart(STATE_RELEASED, D_hLine, D_hCall);
    player.OnAgentChanged(CSipAgent::Instance());
    std::string strPath = (GetParam().strToneDir + "RemoteBusy.wav").substr(0, 255);
    EXPECT_EQ(g_played, std::vector<std::string>{Played(strPath, D_dwOnce)})
        << "the file names behind the folder are intact and the path is cut at 255";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Lengths, SipToneFolderTest,
    ::testing::Values(
        SFolderCase{"WithBackslash", "D:\\x\\", "D:\\x\\res\\"},
        SFolderCase{"Empty", "", "\\res\\"},
        SFolderCase{"PathPastTheBuffer", std::string(240, 'a'), std::string(240, 'a') + "\\res\\"},
        SFolderCase{"ResCut", std::string(251, 'b'), std::string(251, 'b') + "\\re"},
        SFolderCase{"FolderCut", std::string(300, 'c'), std::string(254, 'c')}),
    [](const ::testing::TestParamInfo<SFolderCase> &info) { return info.param.szName; });
// clang-format on

// The tones of whole calls on the simulated library when it delivers a
// request's events before the request returns: the call back the agent makes
// from an event (the destroy of a released call, the answer of a ringing one
// under auto-answer) brings the next event at once.
class SipEarlyToneTest : public SipToneTest {
protected:
    void SetUp() override {
        SipToneTest::SetUp();
        KIRO_HANDLE hInstance = 0, hLine = 0;
        ASSERT_EQ(KIRO_Initialize(&hInstance, 5060, 10000, 16, "kIRO", "", 0), 0);
        ASSERT_EQ(KIRO_EventListenerAdd(hInstance, AgentEventCallback, nullptr), 0);
        ASSERT_EQ(KIRO_AddLine(hInstance, &hLine, "1001@example.com"), 0);
        CSipAgentProbe::Restart(STATE_REGISTERED, hLine, 0);
        CSipAgent::Instance().AddObserver(&m_player);
        m_sim.SetMode(KIROSIM_MODE_EARLY);
    }
    // What the desk hears: a tone asked for again while it sounds (a stop
    // while silent) changes nothing.
    static std::vector<std::string> Heard() {
        std::vector<std::string> heard;
        for (const std::string &strCall : g_played)
            if (heard.empty() || heard.back() != strCall) heard.push_back(strCall);
        return heard;
    }
    KIRO_HANDLE RingingCall() {
        KIRO_HANDLE hCall = m_sim.OfferCall(CSipAgent::Instance().Line());
        EXPECT_NE(hCall, 0u) << "the library offers a call on the agent's line";
        EXPECT_TRUE(m_sim.WaitIdle(3000)) << "the offer, the accept and the ringing delivered";
        return hCall;
    }
};

// Fault: the observers heard of an event only after the agent's call back
// into the library, which had already delivered the next event: a released
// call was closed before the tone player looked, and the far end's hang-up
// played no busy tone.
TEST_F(SipEarlyToneTest, FarEndHangUpPlaysTheBusyTone) {
    KIRO_HANDLE hCall = RingingCall();
    ASSERT_EQ(TV_OffHook(), 0);
    ASSERT_EQ(m_sim.RemoteHangUp(hCall), 0);
    ASSERT_TRUE(m_sim.WaitIdle(3000)) << "the release and the close delivered";
    EXPECT_EQ(Heard(), (std::vector<std::string>{D_strRing, D_strStop, D_strBusy}));
}

// Fault: likewise, a call answered at once under auto-answer was connected
// before the tone player looked, and never rang.
TEST_F(SipEarlyToneTest, AutoAnsweredCallRingsBeforeItConnects) {
    ASSERT_EQ(TV_PickUp(), 0);
    RingingCall();
    EXPECT_EQ(Heard(), (std::vector<std::string>{D_strRing, D_strStop}));
}
