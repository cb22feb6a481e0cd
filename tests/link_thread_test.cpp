// The link thread over the emulated handset: events read from the device,
// the pause after each line, a handset that goes away and comes back, and
// stopping the thread in each of its waits.
#include <functional>
#include <vector>

#include "link_support.h"
#include "stopwatch.h"

namespace {

const UINT D_nRing = 1124, D_nStopDigit = 1125, D_nHangUp = 1126, D_nOffHook = 1127, D_nNoHandset = 1134;
const LONG D_nStatusUnsuccessful = static_cast<LONG>(0xC0000001);

class LinkThreadTest : public LinkFixture {
protected:
    // Waits for the handset to be found again after it was plugged back in:
    // the search runs about every 2.2 s.
    void ExpectReconnected() { ASSERT_TRUE(Desk().WaitUntilReading(3000)) << "the link should find the handset again"; }
};

TEST_F(LinkThreadTest, EventsFromTheHandsetReachTheHost) {
    m_link.m_cStopIO = '#';
    StartConnected();
    ASSERT_TRUE(Desk().SendInput("ATR\r\n"));
    EXPECT_TRUE(m_window.WaitFor(D_nRing, 1000)) << "expected 1124 for ATR";
    ASSERT_TRUE(Desk().SendInput("ATN12#\r\n"));
    EXPECT_TRUE(m_window.WaitFor(D_nStopDigit, 1500)) << "expected 1125 for the stop digit";
    EXPECT_EQ('1', m_link.m_qDTMF.Pop());
    EXPECT_EQ('2', m_link.m_qDTMF.Pop());
    EXPECT_EQ('#', m_link.m_qDTMF.Pop());
    ASSERT_TRUE(Desk().SendInput("ATN9\r\nATH\r\n"));
    EXPECT_TRUE(m_window.WaitFor(D_nHangUp, 2000)) << "expected 1126 for ATH";
    EXPECT_EQ(CQueue::D_cEmpty, m_link.m_qDTMF.Pop()) << "the hang-up cleared the digit 9";
}

TEST_F(LinkThreadTest, EachLineIsFollowedByAHalfSecondPause) {
    StartConnected();
    ASSERT_TRUE(Desk().SendInput("ATR\r\nATZ\r\n"));
    const DWORD dwGap = m_window.MillisecondsBetween(D_nRing, D_nOffHook, 1500);
    ASSERT_NE(INFINITE, dwGap) << "expected 1124, then 1127";
    EXPECT_GE(dwGap, 450u) << "the second line waits out the 500 ms pause";
    EXPECT_LE(dwGap, 1000u);
}

TEST_F(LinkThreadTest, SilentReadIsCancelledEveryTwoSeconds) {
    StartConnected();
    Sleep(2500);  // the first slice ends at 2000 ms, the second at 4000 ms
    EXPECT_EQ(1, Desk().CancelCount()) << "one silent 2000 ms slice, one CancelIo";
    EXPECT_TRUE(Desk().WaitUntilReading(200)) << "and a new read right after it";
    ASSERT_TRUE(Desk().SendInput("ATR\r\n"));
    EXPECT_TRUE(m_window.WaitFor(D_nRing, 1000)) << "the new read takes the next event";
}

// An unplug under each HID stack: Windows ends the pending read with 1167,
// Wine (seen in the 32-bit guest with a kernel handset) with 5; either way
// the link logs the error, closes the handle, searches and finds the handset
// again after the replug.
struct UnplugCase {
    const char *szName;
    ESimHidStack eStack;
    const wchar_t *wszLogLine;
};

void PrintTo(const UnplugCase &unplug, std::ostream *pStream) { *pStream << unplug.szName; }

class UnplugTest : public LinkThreadTest, public ::testing::WithParamInterface<UnplugCase> {};

TEST_P(UnplugTest, UnplugLogsTheReadErrorAndReplugResumesEvents) {
    Desk().SetStack(GetParam().eStack);
    StartConnected();
    Desk().Unplug();
    ASSERT_TRUE(m_window.WaitFor(D_nNoHandset, 1000)) << "back to searching: expected 1134";
    EXPECT_EQ(1, CLogLines::Get().CountSince(GetParam().wszLogLine)) << Describe(CLogLines::Get().Since());
    EXPECT_FALSE(m_link.IsOpen());
    EXPECT_EQ(0, Desk().OpenHandleCount()) << "the dead handle was closed";
    m_window.Forget();
    Desk().Plug();
    ExpectReconnected();
    ASSERT_TRUE(Desk().SendInput("ATR\r\n"));
    ASSERT_TRUE(m_window.WaitFor(D_nRing, 1000)) << "events flow again after the replug";
    EXPECT_EQ(std::vector<UINT>{D_nRing}, m_window.ReceivedNumbers()) << "the reconnection itself is not announced";
}

INSTANTIATE_TEST_SUITE_P(EveryStack, UnplugTest,
                         ::testing::Values(UnplugCase{"Windows", ESimHidStack::Windows,
                                                      L"GetOverlappedResult例程错误: 1167"},
                                           UnplugCase{"Wine", ESimHidStack::Wine, L"GetOverlappedResult例程错误: 5"}),
                         [](const ::testing::TestParamInfo<UnplugCase> &info) { return info.param.szName; });

TEST_F(LinkThreadTest, FailedReadStartLogsItsErrorAndReconnects) {
    StartConnected();
    Desk().FailNextReadStart(CEmulatedHid::D_dwDeviceFailure);
    ASSERT_TRUE(Desk().SendInput("A"));  // completes this read; the next one fails
    ExpectReconnected();
    EXPECT_EQ(1, CLogLines::Get().CountSince(L"读操作错误: 31")) << Describe(CLogLines::Get().Since());
}

// Fault: the line buffer survived a lost connection, so the half line sent
// before an unplug was glued to the first line after the replug ("ATR" +
// "ATZ\r" read as a ring). The buffer is emptied when the connection is lost.
TEST_F(LinkThreadTest, HalfLineBeforeUnplugIsNotGluedToTheNextLine) {
    StartConnected();
    ASSERT_TRUE(Desk().SendInput("ATR"));
    ASSERT_TRUE(Desk().WaitUntilReading(500)) << "the three characters are read";
    Desk().Unplug();
    ASSERT_TRUE(m_window.WaitFor(D_nNoHandset, 1000)) << "expected 1134 after the unplug";
    Desk().Plug();
    ExpectReconnected();
    ASSERT_TRUE(Desk().SendInput("ATZ\r\n"));
    ASSERT_TRUE(m_window.WaitFor(D_nOffHook, 1000)) << "expected 1127 for ATZ";
    for (UINT nMessage : m_window.ReceivedNumbers())
        EXPECT_NE(D_nRing, nMessage) << "no ring from the half line before the unplug";
}

// Where the link thread is when the stop comes.
struct StopCase {
    const char *szName;
    std::function<void(LinkThreadTest &, CEmulatedHid &, CHostWindow &)> reach;
};

void PrintTo(const StopCase &stop, std::ostream *pStream) { *pStream << stop.szName; }

class StopTest : public LinkThreadTest, public ::testing::WithParamInterface<StopCase> {
public:
    void Start() {
        m_link.Start(0);
        m_bStarted = true;
    }
};

// Fault: the link thread slept through its pauses and read slices (up to
// 2000 ms) before looking at the stop request, so Stop's 100 ms ran out and
// the thread was killed, possibly holding the send lock or with a read in
// flight. Every wait now watches the stop event as well.
TEST_P(StopTest, LinkThreadEndsByItselfAtOnce) {
    GetParam().reach(*this, Desk(), m_window);
    CStopwatch sinceStart;
    EXPECT_TRUE(StopLink()) << "Stop should not have to end the link thread by force";
    EXPECT_LT(sinceStart.ElapsedMs(), 100u);
    EXPECT_EQ(0, Desk().OpenHandleCount()) << "the link closes the handset when it ends";
    EXPECT_FALSE(m_link.IsOpen());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    EveryWait, StopTest,
    ::testing::Values(
        StopCase{"InThePauseBeforeASearch",
                 [](LinkThreadTest &test, CEmulatedHid &, CHostWindow &) {
                     static_cast<StopTest &>(test).Start();
                     Sleep(50);
                 }},
        StopCase{"InThePauseAfterAFailedSearch",
                 [](LinkThreadTest &test, CEmulatedHid &desk, CHostWindow &window) {
                     desk.UseDeskWithoutHandset();
                     static_cast<StopTest &>(test).Start();
                     ASSERT_TRUE(window.WaitFor(D_nNoHandset, 1000)) << "expected 1134";
                 }},
        StopCase{"InASilentRead",
                 [](LinkThreadTest &test, CEmulatedHid &desk, CHostWindow &) {
                     static_cast<StopTest &>(test).Start();
                     ASSERT_TRUE(desk.WaitUntilReading(1000)) << "the link should be reading";
                 }},
        StopCase{"InThePauseAfterALine",
                 [](LinkThreadTest &test, CEmulatedHid &desk, CHostWindow &window) {
                     static_cast<StopTest &>(test).Start();
                     ASSERT_TRUE(desk.WaitUntilReading(1000)) << "the link should be reading";
                     desk.SendInput("ATR\r\n");
                     ASSERT_TRUE(window.WaitFor(D_nRing, 1000)) << "expected 1124";
                 }}),
    [](const ::testing::TestParamInfo<StopCase> &info) { return std::string(info.param.szName); });
// clang-format on

TEST_F(LinkThreadTest, LinkCanBeStartedAgainAfterAStop) {
    StartConnected();
    ASSERT_TRUE(StopLink());
    StartConnected();
    ASSERT_TRUE(Desk().SendInput("ATZ\r\n"));
    EXPECT_TRUE(m_window.WaitFor(D_nOffHook, 1000)) << "expected 1127 from the new thread";
}

// A link whose connection gets no read event.
class CLinkWithoutReadEvent : public CTestableHalvex {
protected:
    HANDLE CreateReadEvent() override { return nullptr; }
};

// The link used to close the handset when it could not read it; it ends
// with 0 and leaves the handset open, so that commands still reach it.
TEST(LinkWithoutReadEvent, RunEndsWith0AndCommandsStillReachTheHandset) {
    CDeskInstalled desk;
    CLinkWithoutReadEvent link;
    link.Start(0);
    // The thread's own handle: a snapshot taken while it starts is what
    // brought Wine's server down (process_threads.h).
    const HANDLE hThread = link.ThreadHandle();
    ASSERT_NE(hThread, nullptr) << "the link thread did not start";
    // Uncollected, the ended body leaves its park after a second.
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hThread, 10000)) << "the link thread did not end";
    DWORD dwExitCode = 1;
    GetExitCodeThread(hThread, &dwExitCode);
    EXPECT_EQ(0u, dwExitCode) << "Run ends with 0 without a read event";
    EXPECT_TRUE(link.IsOpen()) << "the handset stays open";
    link.SendCommand('Z', 0, nullptr);
    EXPECT_EQ(std::vector<std::string>{"ATZ\r\n"}, CEmulatedHid::Instance().CommandLines());
    EXPECT_TRUE(link.Stop(CDeadline(CBaseThread::D_dwStopBoundMs)));
}

TEST_F(LinkThreadTest, ReadErrorDuringAReadInFlightIsAHardError) {
    StartConnected();
    Desk().FailPendingRead(D_nStatusUnsuccessful);
    ExpectReconnected();
    EXPECT_EQ(1, CLogLines::Get().CountSince(L"GetOverlappedResult例程错误: 31")) << Describe(CLogLines::Get().Since());
}

}  // namespace
