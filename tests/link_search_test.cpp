// The search for the handset among the HID devices: each way a search can
// fail, with its log line and the 1134 notification that follows it, the
// devices that must not be taken for the handset, and what the search
// leaves behind (no open sets, no stray handles).
#include <functional>
#include <vector>

#include "link_support.h"
#include "stopwatch.h"

namespace {

const UINT D_nNoHandset = 1134;
const wchar_t *const D_wszNoInfo = L"获取HID设备信息失败!";
const wchar_t *const D_wszNoDetail = L"获取HID设备细节信息失败!";
const wchar_t *const D_wszNoHandle = L"获取HID设备句柄失败!";
const wchar_t *const D_wszNoAttributes = L"获取HID设备属性失败!";

SimHidDevice WithUnreadablePath(SimHidDevice device) {
    device.bDetailFails = true;
    return device;
}

struct SearchCase {
    const char *szName;
    std::function<void(CEmulatedHid &)> layOut;
    std::vector<std::wstring> logLines;
    bool bFindsHandset;
};

void PrintTo(const SearchCase &search, std::ostream *pStream) { *pStream << search.szName; }

class SearchTest : public LinkFixture, public ::testing::WithParamInterface<SearchCase> {};

// One search by the link thread: the handset is found (the link starts
// reading) or the search fails and the host hears 1134.
TEST_P(SearchTest, LogsItsOutcomeAndTellsTheHostOfAMiss) {
    const SearchCase &search = GetParam();
    search.layOut(Desk());
    m_link.Start(0);
    m_bStarted = true;
    if (search.bFindsHandset) {
        ASSERT_TRUE(Desk().WaitUntilReading(D_dwHandsetFoundBoundMs)) << "the handset should be found and read";
        EXPECT_TRUE(m_link.IsOpen());
    } else {
        ASSERT_TRUE(m_window.WaitFor(D_nNoHandset, 1000)) << "expected 1134 after the search";
        EXPECT_FALSE(m_link.IsOpen());
    }
    EXPECT_TRUE(StopLink()) << "the link thread ends by itself";
    EXPECT_EQ(search.logLines, CLogLines::Get().Since()) << Describe(CLogLines::Get().Since());
    EXPECT_EQ(0, Desk().OpenSetCount()) << "every search releases its device set";
    EXPECT_EQ(0, Desk().OpenHandleCount()) << "no device handle stays open";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Outcomes, SearchTest,
    ::testing::Values(
        SearchCase{"FoundAfterSkippingTheKeyboard", [](CEmulatedHid &) {}, {D_wszNoHandle}, true},
        SearchCase{"NoDeviceSet", [](CEmulatedHid &desk) { desk.FailDeviceSet(); },
                   {D_wszNoInfo}, false},
        SearchCase{"NoHandsetAttached",
                   [](CEmulatedHid &desk) { desk.UseDeskWithoutHandset(); },
                   {D_wszNoHandle, D_wszNoInfo}, false},
        SearchCase{"NoHidDeviceAtAll", [](CEmulatedHid &desk) { desk.SetDevices({}); },
                   {D_wszNoInfo}, false},
        SearchCase{"PathUnreadable",
                   [](CEmulatedHid &desk) {
                       desk.SetDevices({WithUnreadablePath(CEmulatedHid::OtherDevice(1, 2, 3)),
                                        CEmulatedHid::Handset()});
                   },
                   {D_wszNoDetail}, false},
        SearchCase{"AttributesUnreadableStopTheSearch",
                   [](CEmulatedHid &desk) {
                       desk.SetDevices({CEmulatedHid::Keyboard(), CEmulatedHid::BrokenDevice(),
                                        CEmulatedHid::Handset()});
                   },
                   {D_wszNoHandle, D_wszNoAttributes}, false},
        SearchCase{"NearMissesAreNotTheHandset",
                   [](CEmulatedHid &desk) {
                       desk.SetDevices({CEmulatedHid::OtherDevice(0x0C71, 0x0000, 0x0100),
                                        CEmulatedHid::OtherDevice(0x0C70, 0x0001, 0x0100),
                                        CEmulatedHid::OtherDevice(0x0C70, 0x0000, 0x0101)});
                   },
                   {D_wszNoInfo}, false},
        // The search now reaches the broken device behind the handset.
        SearchCase{"UnpluggedHandsetIsNotListed", [](CEmulatedHid &desk) { desk.Unplug(); },
                   {D_wszNoHandle, D_wszNoAttributes}, false}),
    [](const ::testing::TestParamInfo<SearchCase> &info) { return std::string(info.param.szName); });
// clang-format on

class OpenDeviceTest : public LinkFixture {};

TEST_F(OpenDeviceTest, SecondOpenKeepsTheFirstHandle) {
    const HANDLE hFirst = m_link.OpenDevice(0x0C70, 0x0000, 0x0100);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFirst);
    CLogLines::Get().Mark();
    EXPECT_EQ(INVALID_HANDLE_VALUE, m_link.OpenDevice(0x0C70, 0x0000, 0x0100));
    EXPECT_EQ(std::vector<std::wstring>{L"话机已打开!"}, CLogLines::Get().Since())
        << Describe(CLogLines::Get().Since());
    EXPECT_EQ(1, Desk().SearchCount()) << "the second call does not search";
    Desk().ClearReports();
    m_link.SendCommand('Z', 0, nullptr);
    EXPECT_EQ(std::vector<std::string>{"ATZ\r\n"}, Desk().CommandLines())
        << "commands still reach the handset through the first handle";
}

TEST_F(OpenDeviceTest, FailedSearchesRepeatAboutEvery2200Ms) {
    Desk().UseDeskWithoutHandset();
    m_link.Start(0);
    m_bStarted = true;
    const DWORD dwPeriod = m_window.MillisecondsBetween(D_nNoHandset, D_nNoHandset, 3500);
    ASSERT_NE(INFINITE, dwPeriod) << "expected two 1134 messages";
    EXPECT_GE(dwPeriod, 2100u) << "200 ms before and 2000 ms after each search";
    EXPECT_LE(dwPeriod, 2700u);
    EXPECT_TRUE(m_link.Stop(CDeadline(CBaseThread::D_dwStopBoundMs))) << "a stop in the 2000 ms pause is seen at once";
    m_bStarted = false;
}

TEST_F(OpenDeviceTest, WithoutAHostWindowNothingIsDeliveredLater) {
    Desk().UseDeskWithoutHandset();
    m_link.SetNotifyWindow(nullptr);
    m_link.Start(0);
    m_bStarted = true;
    for (int i = 0; i < 100 && Desk().SearchCount() == 0; ++i) Sleep(10);
    ASSERT_EQ(1, Desk().SearchCount()) << "the first search runs 200 ms after the start";
    Sleep(50);
    m_link.SetNotifyWindow(m_window.Handle());
    m_window.Pump(500);
    EXPECT_TRUE(m_window.Received().empty()) << "the 1134 of a search without a window is not delivered later; "
                                             << DescribeMessages(m_window.ReceivedNumbers());
}

// Fault "Unload can freeze the host": the search never looked at a stop
// request, so a stop that came during a search longer than 100 ms (a desk of
// thousands of HID interfaces, slow opens) ended the link thread by force,
// perhaps inside the log's lock, and the detach step then waited for ever to
// write its last line. The search now looks for a stop before each device.
TEST_F(OpenDeviceTest, RegressionUnloadCanFreezeTheHostStopDuringALongSearch) {
    const int nCrowd = 4000;
    Desk().UseCrowdedDesk(nCrowd, false);
    Desk().SetOpenDelay(1);
    m_link.Start(0);
    m_bStarted = true;
    CStopwatch sinceStart;
    while (Desk().OpenAttemptCount() < 20 && sinceStart.ElapsedMs() < 10000) Sleep(1);
    ASSERT_GE(Desk().OpenAttemptCount(), 20) << "the search should be under way";
    ASSERT_LT(Desk().OpenAttemptCount(), nCrowd) << "the search should not be over yet";
    CStopwatch sinceStopStart;
    EXPECT_TRUE(StopLink()) << "the link thread should end by itself between two devices";
    EXPECT_LT(sinceStopStart.ElapsedMs(), 100 + CThreadEnd::D_dwSafeEndWaitMs);
    m_window.Pump(100);
    EXPECT_TRUE(m_window.Received().empty())
        << "a search ended by a stop is not a failed search; " << DescribeMessages(m_window.ReceivedNumbers());
    EXPECT_EQ(0, CLogLines::Get().CountSince(D_wszNoInfo)) << "the interfaces did not run out";
    EXPECT_EQ(0, Desk().OpenSetCount()) << "the stopped search released its device set";
    EXPECT_EQ(0, Desk().OpenHandleCount());
}

// The handset unplugged while a search runs through the devices: the search
// fails as one without the handset does, and the replugged handset is found
// by the next one.
TEST_F(OpenDeviceTest, UnplugDuringASearchFailsItAndTheNextSearchFindsTheReplug) {
    Desk().SetDevices({CEmulatedHid::OtherDevice(0x0C70, 0x0001, 0x0100), CEmulatedHid::Handset()});
    Desk().SetOpenDelay(200);
    m_link.Start(0);
    m_bStarted = true;
    CStopwatch sinceStart;
    while (Desk().OpenAttemptCount() == 0 && sinceStart.ElapsedMs() < 10000) Sleep(1);
    Desk().Unplug();  // while the first device opens
    ASSERT_TRUE(m_window.WaitFor(D_nNoHandset, 2000)) << "expected 1134 after the search";
    EXPECT_EQ((std::vector<std::wstring>{D_wszNoHandle, D_wszNoInfo}), CLogLines::Get().Since())
        << Describe(CLogLines::Get().Since());
    Desk().SetOpenDelay(0);
    Desk().Plug();
    ASSERT_TRUE(Desk().WaitUntilReading(4000)) << "the next search should find the replugged handset";
    ASSERT_TRUE(Desk().SendInput("ATR\r\n"));
    EXPECT_TRUE(m_window.WaitFor(WM_USER + 100, 2000)) << "events flow again";
}

// The real SetupAPI and HID functions under Wine, which lists two virtual
// HID devices and no handset: the search runs through them and fails.
TEST(RealHidTest, FindsNoHandsetAmongWinesDevices) {
    CTestableHalvex link;
    CLogLines::Get().Mark();
    EXPECT_EQ(INVALID_HANDLE_VALUE, link.OpenDevice(0x0C70, 0x0000, 0x0100));
    const std::vector<std::wstring> lines = CLogLines::Get().Since();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(D_wszNoInfo, lines.back()) << "the interfaces ran out; " << Describe(lines);
    for (const std::wstring &line : lines) EXPECT_TRUE(line == D_wszNoInfo || line == D_wszNoHandle) << Describe(lines);
}

}  // namespace
