// Event lines from the handset: which lines are accepted, what each letter
// does to the digit queue and the caller number, which message it posts,
// and what becomes of lines and fields too long for their buffers. The
// characters go straight into the link thread's line assembly here; the
// link thread's own reading is in link_thread_test.cpp.
#include <vector>

#include "link_support.h"

namespace {

const UINT D_nRing = 1124, D_nStopDigit = 1125, D_nHangUp = 1126, D_nOffHook = 1127, D_nCallerNumber = 1133;

class DecodingTest : public LinkFixture {
protected:
    void SetUp() override {
        LinkFixture::SetUp();
        m_link.m_cStopIO = '#';
    }
    // Feeds the characters and collects what the link posted for them.
    std::vector<UINT> Posted(const std::string &strInput) {
        m_link.TakeText(strInput);
        m_window.Pump(20);
        return m_window.ReceivedNumbers();
    }
    std::string QueuedDigits() {
        char acDigits[CQueue::D_nCapacity];
        return std::string(acDigits, m_link.m_qDTMF.PopUpTo(acDigits, sizeof acDigits));
    }
    std::string GetANI() {
        char szANI[32];
        m_link.CopyANI(szANI);
        return szANI;
    }
};

struct LineCase {
    const char *szName;
    std::string strInput;
    std::vector<UINT> messages;
    std::string strDigitsQueued;
};

void PrintTo(const LineCase &line, std::ostream *pStream) { *pStream << line.szName; }

class EventLineTest : public DecodingTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(EventLineTest, PostsItsMessagesAndQueuesItsDigits) {
    const LineCase &line = GetParam();
    EXPECT_EQ(line.messages, Posted(line.strInput)) << DescribeMessages(Posted(""));
    EXPECT_EQ(line.strDigitsQueued, QueuedDigits());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Lines, EventLineTest,
    ::testing::Values(
        LineCase{"Ring", "ATR\r\n", {D_nRing}, ""},
        LineCase{"OnlyTheLetterCounts", "ATRING\r\n", {D_nRing}, ""},
        LineCase{"OffHook", "ATZ\r\n", {D_nOffHook}, ""},
        LineCase{"DigitsWithStopDigit", "ATN12#\r\n", {D_nStopDigit}, "12#"},
        LineCase{"EveryStopDigitNotifies", "ATN#1#\r\n", {D_nStopDigit, D_nStopDigit}, "#1#"},
        LineCase{"DigitsWithoutStopDigit", "ATN123\r\n", {}, "123"},
        LineCase{"DigitsEndAtTheFirstCR", "ATN12\r#\r\n", {}, "12"},
        LineCase{"NoDigits", "ATN\r\n", {}, ""},
        LineCase{"CallerNumber", "ATCI:5551234\r\n", {D_nCallerNumber}, ""},
        LineCase{"CWithoutI", "ATC5\r\n", {}, ""},
        LineCase{"Ping", "ATX\r\n", {}, ""},
        LineCase{"UnknownLetter", "ATQ\r\n", {}, ""},
        LineCase{"NoCRBeforeLF", "ATR\n", {}, ""},
        LineCase{"NotStartingWithAT", "XTR\r\n", {}, ""},
        LineCase{"LowerCaseAt", "atR\r\n", {}, ""},
        LineCase{"TooShort", "AT\r\n", {}, ""},
        LineCase{"EmptyLine", "\n", {}, ""},
        LineCase{"TwoLinesInARow", "ATZ\r\nATR\r\n", {D_nOffHook, D_nRing}, ""},
        // 50 characters with the CR is what the line buffer holds: accepted.
        LineCase{"LongestLine", "ATN" + std::string(46, '1') + "\r\n", {}, std::string(31, '1')},
        LineCase{"OverlongLine", "ATR" + std::string(47, 'x') + "\r\n", {}, ""}),
    [](const ::testing::TestParamInfo<LineCase> &info) { return std::string(info.param.szName); });
// clang-format on

TEST_F(DecodingTest, HangUpEmptiesTheDigitQueueAndNotifies) {
    Posted("ATN123\r\n");
    EXPECT_EQ(std::vector<UINT>{D_nHangUp}, Posted("ATH\r\n"));
    EXPECT_EQ(CQueue::D_cEmpty, m_link.m_qDTMF.Pop()) << "no digit survives the hang-up";
}

struct CallerCase {
    const char *szName;
    std::string strLine;
    std::string strNumber;
};

void PrintTo(const CallerCase &caller, std::ostream *pStream) { *pStream << caller.szName; }

class CallerNumberTest : public DecodingTest, public ::testing::WithParamInterface<CallerCase> {};

// wParam points at the NUL-terminated number, lParam is its length.
TEST_P(CallerNumberTest, TravelsInTheMessage) {
    const CallerCase &caller = GetParam();
    MSG msg = {};
    m_link.TakeText(caller.strLine);
    ASSERT_TRUE(m_window.WaitFor(D_nCallerNumber, 500, &msg)) << "expected 1133";
    EXPECT_EQ(static_cast<LPARAM>(caller.strNumber.size()), msg.lParam);
    EXPECT_EQ(caller.strNumber, reinterpret_cast<const char *>(msg.wParam));
    EXPECT_EQ(caller.strNumber, GetANI());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Lines, CallerNumberTest,
    ::testing::Values(CallerCase{"Number", "ATCI:5551234\r\n", "5551234"},
                      CallerCase{"Empty", "ATCI:\r\n", ""},
                      // Position 4 is skipped whatever it holds, even a CR.
                      CallerCase{"AnySeparator", "ATCI-0\r\n", "0"},
                      CallerCase{"CRAtPositionFour", "ATCI\r5551234\r\n", ""}),
    [](const ::testing::TestParamInfo<CallerCase> &info) { return std::string(info.param.szName); });
// clang-format on

TEST_F(DecodingTest, PingWritesItsLogLine) {
    Posted("ATX\r\n");
    EXPECT_EQ(std::vector<std::wstring>{L"收到Ping回应"}, CLogLines::Get().Since())
        << Describe(CLogLines::Get().Since());
}

// Fault: no event stored the caller number, so CT_GetANI always copied an
// empty string. The caller-number event now keeps its number for it.
TEST_F(DecodingTest, CallerNumberIsKeptForGetANI) {
    EXPECT_EQ("", GetANI()) << "nothing before the first caller-number event";
    Posted("ATCI:5551234\r\n");
    EXPECT_EQ("5551234", GetANI());
    Posted("ATN99\r\n");
    EXPECT_EQ("5551234", GetANI()) << "digit lines share ListBuf but leave the caller number";
    Posted("ATCI:\r\n");
    EXPECT_EQ("", GetANI()) << "a call without a number clears the last one";
}

// Fault: a caller number or digit run longer than the 32-byte ListBuf
// overran it (and m_szANI). Both are now cut to 31 characters and a NUL.
TEST_F(DecodingTest, LongFieldsAreCutToFitListBuf) {
    const std::string strLong = "0123456789012345678901234567890123456789";  // 40
    MSG msg = {};
    m_link.TakeText("ATCI:" + strLong + "\r\n");
    ASSERT_TRUE(m_window.WaitFor(D_nCallerNumber, 500, &msg));
    EXPECT_EQ(31, msg.lParam);
    EXPECT_EQ(strLong.substr(0, 31), reinterpret_cast<const char *>(msg.wParam));
    EXPECT_EQ(strLong.substr(0, 31), GetANI());
    Posted("ATN" + strLong + "\r\n");
    EXPECT_EQ(strLong.substr(0, 31), QueuedDigits());
}

// Fault: a line longer than the 50-byte DataBuf overran it. Such a line is
// now dropped whole, up to its LF, and the next line is read normally, even
// when the overlong line's tail looks like an event of its own.
TEST_F(DecodingTest, OverlongLineIsDroppedWhole) {
    EXPECT_TRUE(Posted("ATN" + std::string(60, '#') + "ATR\r\n").empty()) << DescribeMessages(Posted(""));
    EXPECT_EQ("", QueuedDigits()) << "no digit of the dropped line is queued";
    EXPECT_EQ(std::vector<UINT>{D_nOffHook}, Posted("ATZ\r\n")) << "the next line is whole again";
}

}  // namespace
