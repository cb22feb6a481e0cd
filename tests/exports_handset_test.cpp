// The control exports over the emulated handset: which command lines each
// export sends, the queue drains, the stop digit and the caller number, and
// host threads calling at once. The exports are called directly (they are
// part of the handset library) and drive the plug-in's own handset link.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "bravik32.h"
#include "core/Halvex.h"
#include "link_support.h"
#include "stopwatch.h"

namespace {

using Lines = std::vector<std::string>;

// Starts the plug-in's link over a fresh emulated desk and waits until it
// reads from the handset.
void StartLinkConnected(HWND hWnd) {
    CLogLines::Get();  // the log is open before the link writes to it
    g_Halvex.SetNotifyWindow(hWnd);
    g_Halvex.Start(0);
    ASSERT_TRUE(CEmulatedHid::Instance().WaitUntilReading(D_dwHandsetFoundBoundMs))
        << "the link should open the emulated handset";
}

// One link for the whole suite: a search costs 200 ms, and the cases only
// need a connected handset with nothing left over from the case before.
class ExportsOverHandset : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_pDesk = new CDeskInstalled;
        s_pWindow = new CHostWindow;
        StartLinkConnected(s_pWindow->Handle());
    }
    static void TearDownTestSuite() {
        g_Halvex.Stop(CDeadline(CBaseThread::D_dwStopBoundMs));
        delete s_pWindow;
        delete s_pDesk;
    }
    void SetUp() override {
        // An event line of the case before is followed by a 500 ms pause.
        ASSERT_TRUE(Desk().WaitUntilReading(2000)) << "the link is not reading from the handset";
        Desk().ClearReports();
        Desk().SetFeatureDelay(0);
        g_Halvex.m_qDTMF.Clear();
        g_Halvex.m_qKeys.Clear();
        g_Halvex.m_cStopIO = 0;
        g_Halvex.SetNotifyWindow(Window().Handle());
    }
    static CEmulatedHid &Desk() { return CEmulatedHid::Instance(); }
    static CHostWindow &Window() { return *s_pWindow; }

    // Every report of the lines sent so far must be 06 <character> 06.
    static void ExpectWellFormedReports() {
        for (const SimFeatureReport &report : Desk().FeatureReports()) {
            EXPECT_EQ(report.nLength, 3u);
            EXPECT_EQ(report.abReport[0], 6);
            EXPECT_EQ(report.abReport[2], 6);
        }
    }

    static CDeskInstalled *s_pDesk;
    static CHostWindow *s_pWindow;
};
CDeskInstalled *ExportsOverHandset::s_pDesk = nullptr;
CHostWindow *ExportsOverHandset::s_pWindow = nullptr;

// ------------------------------------------------ what each export sends

struct CommandCase {
    const char *szCase;
    void (*pfnCall)();
    Lines lines;  // the command lines the handset receives, in order
};

void PrintTo(const CommandCase &c, std::ostream *os) { *os << c.szCase; }

const std::string D_str26Digits = "01234567890123456789012345";
const std::string D_str27Digits = D_str26Digits + "6";

class ExportCommand : public ExportsOverHandset, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(ExportCommand, SendsItsLines) {
    GetParam().pfnCall();
    EXPECT_EQ(Desk().CommandLines(), GetParam().lines) << GetParam().szCase;
    ExpectWellFormedReports();
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Table, ExportCommand,
    ::testing::Values(
        CommandCase{"HangUp", [] { TV_HangUpCtrl(0); }, {"ATH\r\n"}},
        CommandCase{"OffHook", [] { TV_OffHookCtrl(0); }, {"ATZ\r\n"}},
        CommandCase{"Flash", [] { CT_Flash(); }, {"ATF\r\n"}},
        CommandCase{"BellOn", [] { CT_Bell(1); }, {"ATO\r\n"}},
        CommandCase{"BellOff", [] { CT_Bell(0); }, {"ATC\r\n"}},
        CommandCase{"Bell256IsOff", [] { CT_Bell(256); }, {"ATC\r\n"}},
        CommandCase{"Bell0x1FFIsOn", [] { CT_Bell(0x1FF); }, {"ATO\r\n"}},
        CommandCase{"KeyboardOn", [] { CT_Keyboard(1); }, {"ATE\r\n"}},
        CommandCase{"KeyboardOff", [] { CT_Keyboard(0); }, {"ATG\r\n"}},
        CommandCase{"MicOn", [] { CT_Mic(1); }, {"ATL\r\n"}},
        CommandCase{"MicOff", [] { CT_Mic(0); }, {"ATK\r\n"}},
        CommandCase{"SpkOn", [] { CT_Spk(1); }, {"ATJ\r\n"}},
        CommandCase{"SpkOff", [] { CT_Spk(0); }, {"ATI\r\n"}},
        CommandCase{"RingOn", [] { CT_RingOn(); }, {"ATO\r\n"}},
        CommandCase{"RingOff", [] { CT_RingOff(); }, {"ATC\r\n"}},
        CommandCase{"MicMuteOn", [] { CT_MicMute(1); }, {"ATL\r\n"}},
        CommandCase{"MicMuteOff", [] { CT_MicMute(0); }, {"ATK\r\n"}},
        CommandCase{"EarMuteOn", [] { CT_EarMute(1); }, {"ATJ\r\n"}},
        CommandCase{"EarMuteOff", [] { CT_EarMute(0); }, {"ATI\r\n"}},
        CommandCase{"KeyLockOn", [] { CT_KeyLock(1); }, {"ATE\r\n"}},
        CommandCase{"KeyLock256IsOff", [] { CT_KeyLock(256); }, {"ATG\r\n"}},
        CommandCase{"Dial", [] { TV_StartDial(0, "123"); }, {"ATZ\r\n", "ATB123\r\n"}},
        CommandCase{"DialEmpty", [] { TV_StartDial(0, ""); }, {"ATZ\r\n", "ATB\r\n"}},
        CommandCase{"Dial26Digits", [] { TV_StartDial(0, D_str26Digits.c_str()); },
                    {"ATZ\r\n", "ATB" + D_str26Digits + "\r\n"}},
        CommandCase{"Dial27DigitsIsRefusedWhole", [] { TV_StartDial(0, D_str27Digits.c_str()); }, {}},
        CommandCase{"DialNullIsRefused", [] { TV_StartDial(0, nullptr); }, {}},
        CommandCase{"SendDTMFSendsNothing", [] { CT_SendDTMF("123"); }, {}},
        CommandCase{"StopMonitorSendsNothing", [] { CT_StopMonitor(); }, {}}),
    [](const ::testing::TestParamInfo<CommandCase> &info) { return info.param.szCase; });
// clang-format on

// The 300 ms pause between Z and B holds no lock: another host thread's
// command goes out in between.
TEST_F(ExportsOverHandset, DialPauseLetsAnotherThreadsCommandThrough) {
    std::thread dialler([] { TV_StartDial(0, "42"); });
    // Into the pause once ATZ has gone out, however late the dialler starts.
    const CStopwatch sinceStart;
    while (Desk().CommandLines().empty() && sinceStart.ElapsedMs() < 2000) Sleep(1);
    CT_Flash();
    dialler.join();
    EXPECT_EQ(Desk().CommandLines(), (Lines{"ATZ\r\n", "ATF\r\n", "ATB42\r\n"}));
}

TEST_F(ExportsOverHandset, TwoHostThreadsSendingAtOnceNeverInterleaveReports) {
    Desk().SetFeatureDelay(1);
    const int nEach = 25;
    std::thread bell([] {
        for (int i = 0; i < nEach; ++i) CT_Bell(1);
    });
    for (int i = 0; i < nEach; ++i) CT_Mic(0);
    bell.join();
    Lines lines = Desk().CommandLines();
    ASSERT_EQ(lines.size(), 2u * nEach) << "every line must arrive whole";
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "ATO\r\n"), nEach);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "ATK\r\n"), nEach);
}

TEST(ExportsLosingTheHandset, InitializeReportsItAndCommandsWithoutItAreDroppedSilently) {
    CDeskInstalled desk;
    CHostWindow window;
    StartLinkConnected(window.Handle());
    EXPECT_EQ(TV_Initialize(), 1);
    CEmulatedHid::Instance().Unplug();
    for (int i = 0; i < 100 && g_Halvex.IsOpen(); ++i) Sleep(10);
    EXPECT_FALSE(g_Halvex.IsOpen()) << "the link should notice the unplug within 1 s";
    EXPECT_EQ(TV_Initialize(), 0);
    CEmulatedHid::Instance().ClearReports();
    CLogLines::Get().Mark();
    EXPECT_EQ(CT_Flash(), 1);
    EXPECT_TRUE(CEmulatedHid::Instance().FeatureReports().empty());
    std::vector<std::wstring> lines = CLogLines::Get().Since();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), L"CT_Flash"), 1) << Describe(lines);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), L"发送数据失败!"), 0)
        << "a command with no handset is dropped without a failure line; " << Describe(lines);
    g_Halvex.Stop(CDeadline(CBaseThread::D_dwStopBoundMs));
}

// The handset unplugged in the middle of a dial, between its off-hook line
// and its digits: the dial answers as usual within its pause, the lost
// read is logged, the host hears 1134 after the next search, and after the
// replug the next dial reaches the handset whole.
TEST(ExportsLosingTheHandset, UnplugDuringADialAnswersAsUsualAndTheNextDialWorksAfterTheReplug) {
    CDeskInstalled desk;
    CHostWindow window;
    StartLinkConnected(window.Handle());
    CEmulatedHid &hid = CEmulatedHid::Instance();
    CLogLines::Get().Mark();
    std::thread unplugger([&hid] {
        CStopwatch sinceStart;
        while (hid.CommandLines().empty() && sinceStart.ElapsedMs() < 5000) Sleep(1);
        hid.Unplug();
    });
    CStopwatch sinceStart;
    EXPECT_EQ(TV_StartDial(0, "123"), 0);
    EXPECT_LT(sinceStart.ElapsedMs(), 1000u) << "the dial pauses 300 ms, nothing more";
    unplugger.join();
    EXPECT_EQ(Lines{"ATZ\r\n"}, hid.CommandLines()) << "the digits never reach the unplugged handset";
    EXPECT_TRUE(window.WaitFor(BRAVIK32_MSG_NO_HANDSET, 3000)) << "expected 1134 after the next search";
    std::vector<std::wstring> lines = CLogLines::Get().Since();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), L"GetOverlappedResult例程错误: 1167"), 1) << Describe(lines);
    EXPECT_EQ(TV_Initialize(), 0);

    hid.Plug();
    ASSERT_TRUE(hid.WaitUntilReading(4000)) << "the next search should find the replugged handset";
    hid.ClearReports();
    EXPECT_EQ(TV_StartDial(0, "45"), 0);
    EXPECT_EQ((Lines{"ATZ\r\n", "ATB45\r\n"}), hid.CommandLines());
    g_Halvex.Stop(CDeadline(CBaseThread::D_dwStopBoundMs));
}

// ------------------------------------------------------- queues and events

TEST_F(ExportsOverHandset, DrainLeavesThe31stDigitQueuedForTheNextCall) {
    const std::string strDigits = "0123456789012345678901234567890";  // 31
    for (char c : strDigits) g_Halvex.m_qDTMF.Push(static_cast<BYTE>(c));
    char acOut[40];
    memset(acOut, 'x', sizeof acOut);
    ASSERT_EQ(CT_GetDTMFStr(acOut), 30);
    EXPECT_EQ(std::string(acOut, 31), strDigits.substr(0, 30) + "x") << "30 digits, no NUL";
    ASSERT_EQ(CT_GetDTMFStr(acOut), 1) << "the 31st digit must wait for the next call";
    EXPECT_EQ(acOut[0], '0');
    EXPECT_EQ(CT_GetDTMFStr(acOut), 0);

    for (char c : strDigits) g_Halvex.m_qKeys.Push(static_cast<BYTE>(c));
    EXPECT_EQ(CT_GetKeys(acOut), 1);
    EXPECT_EQ(g_Halvex.m_qKeys.Count(), 1) << "the 31st key must wait for the next call";
}

// The drains used to copy a held 255 like any digit and go on; a popped
// 255 ends the drain and is lost, what follows waits for the next call.
TEST_F(ExportsOverHandset, DrainStopsAtA255AndLeavesWhatFollowsQueued) {
    for (CQueue *pQueue : {&g_Halvex.m_qDTMF, &g_Halvex.m_qKeys})
        for (char c : std::string("12\xFF"
                                  "3"))
            pQueue->Push(static_cast<BYTE>(c));
    char acOut[40];
    memset(acOut, 'x', sizeof acOut);
    ASSERT_EQ(CT_GetDTMFStr(acOut), 2);
    EXPECT_EQ(std::string(acOut, 3), "12x") << "the 255 is not written";
    ASSERT_EQ(CT_GetDTMFStr(acOut), 1);
    EXPECT_EQ(acOut[0], '3');
    EXPECT_EQ(CT_GetKeys(acOut), 1);
    EXPECT_EQ(g_Halvex.m_qKeys.Count(), 1) << "the key behind the 255 waits for the next call";
    g_Halvex.m_qKeys.Clear();
}

TEST_F(ExportsOverHandset, DigitsComeOutOneByOneOrFlushed) {
    for (char c : std::string("12#")) g_Halvex.m_qDTMF.Push(static_cast<BYTE>(c));
    EXPECT_EQ(TV_GetDTMFChar(0), '1');
    EXPECT_EQ(TV_GetDTMFChar(0), '2');
    TV_FlushDTMF(0);
    EXPECT_EQ(TV_GetDTMFChar(0), -1);
}

TEST_F(ExportsOverHandset, StopDigitByItsLow8BitsNotifiesAndQueues) {
    EXPECT_EQ(CT_SetStopIO(0x100 | '#'), 0);
    ASSERT_TRUE(Desk().SendInput("ATN12#\r\n"));
    ASSERT_TRUE(Window().WaitFor(BRAVIK32_MSG_STOP_DIGIT, 2000)) << "message 1125 did not arrive";
    char acOut[30];
    ASSERT_EQ(CT_GetDTMFStr(acOut), 3);
    EXPECT_EQ(std::string(acOut, 3), "12#");
}

TEST_F(ExportsOverHandset, NotificationsStillArriveAfterStopMonitor) {
    EXPECT_EQ(CT_StartMonitor(Window().Handle()), 1);
    EXPECT_EQ(CT_StopMonitor(), 0);
    ASSERT_TRUE(Desk().SendInput("ATR\r\n"));
    EXPECT_TRUE(Window().WaitFor(BRAVIK32_MSG_RING, 2000)) << "message 1124 did not reach the window";
}

struct CallerCase {
    const char *szCase;
    std::string strNumber;
    std::string strExpected;
};

void PrintTo(const CallerCase &c, std::ostream *os) { *os << c.szCase; }

class CallerNumber : public ExportsOverHandset, public ::testing::WithParamInterface<CallerCase> {};

TEST_P(CallerNumber, IsCopiedWithItsNulAndNeverBeyond32Bytes) {
    ASSERT_TRUE(Desk().SendInput("ATCI:" + GetParam().strNumber + "\r\n"));
    ASSERT_TRUE(Window().WaitFor(BRAVIK32_MSG_CALLER_ID, 2000)) << "message 1133 did not arrive";
    char acOut[64];
    memset(acOut, 'x', sizeof acOut);
    EXPECT_EQ(CT_GetANI(acOut), 0);
    EXPECT_EQ(std::string(acOut), GetParam().strExpected);
    EXPECT_EQ(std::string(acOut + 32, 32), std::string(32, 'x')) << "wrote past 32 bytes";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Numbers, CallerNumber,
    ::testing::Values(CallerCase{"Plain", "01085551234", "01085551234"},
                      CallerCase{"Empty", "", ""},
                      CallerCase{"LongerThan31IsCut", std::string(40, '7'), std::string(31, '7')}),
    [](const ::testing::TestParamInfo<CallerCase> &info) { return info.param.szCase; });
// clang-format on

}  // namespace
