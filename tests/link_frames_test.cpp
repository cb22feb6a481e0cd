// Command lines from the host's threads to the handset: frames of 3-byte
// feature reports, the send lock, and what happens when the device fails.
#include <thread>
#include <vector>

#include "link_support.h"

namespace {

const LONG D_nStatusUnsuccessful = static_cast<LONG>(0xC0000001);

// "06 41 06, 06 54 06, ..." for failure messages.
std::string DescribeReports(const std::vector<SimFeatureReport> &reports) {
    std::string str;
    char szReport[16];
    for (const SimFeatureReport &report : reports) {
        wsprintfA(szReport, "%02X %02X %02X, ", report.abReport[0], report.abReport[1], report.abReport[2]);
        str += report.nLength == 3 ? szReport : "(not 3 bytes), ";
    }
    return str;
}

class FramesTest : public LinkFixture {
protected:
    void SetUp() override {
        LinkFixture::SetUp();
        ASSERT_NE(INVALID_HANDLE_VALUE, m_link.OpenDevice(0x0C70, 0x0000, 0x0100))
            << "the standard desk has the handset";
        Desk().ClearReports();
        CLogLines::Get().Mark();
    }

    // Every report is 6, one character of strLine, 6, in line order.
    void ExpectFramed(const std::string &strLine) {
        const std::vector<SimFeatureReport> reports = Desk().FeatureReports();
        ASSERT_EQ(strLine.size(), reports.size()) << "one report per character; got " << DescribeReports(reports);
        for (size_t i = 0; i < reports.size(); ++i) {
            const SimFeatureReport &report = reports[i];
            EXPECT_TRUE(report.nLength == 3 && report.abReport[0] == 6 &&
                        report.abReport[1] == static_cast<BYTE>(strLine[i]) && report.abReport[2] == 6)
                << "report " << i << " should be 06 " << std::hex << static_cast<int>(static_cast<BYTE>(strLine[i]))
                << " 06; got " << DescribeReports(reports);
        }
    }
};

// The handset's report lengths as each HID stack takes them (Wine in the
// 32-bit guest gave InputLen 2, FeatureLen 3): a feature report shorter than
// 3 bytes is refused with 87 and a read into 1 byte with 1784 by both; Wine
// also sends a longer feature report, of which the handset gets 3 bytes.
struct LengthCase {
    const char *szName;
    ESimHidStack eStack;
    ULONG nFeatureLength;
    DWORD dwFeatureError;  // 0: sent
};

void PrintTo(const LengthCase &c, std::ostream *pStream) { *pStream << c.szName; }

class ReportLengthTest : public FramesTest, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(ReportLengthTest, FeatureAndInputLengthsAreTakenAsTheStackDoes) {
    Desk().SetStack(GetParam().eStack);
    HANDLE hDevice = Desk().Open(CEmulatedHid::Handset().strPath.c_str(), GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, hDevice);
    BYTE abReport[4] = {6, 'A', 6, 0};
    const BOOLEAN bSent = Desk().SetFeature(hDevice, abReport, GetParam().nFeatureLength);
    EXPECT_EQ(GetParam().dwFeatureError, bSent ? 0 : GetLastError()) << GetParam().nFeatureLength << " bytes";
    const std::vector<SimFeatureReport> reports = Desk().FeatureReports();
    ASSERT_EQ(1u, reports.size());
    EXPECT_EQ(bSent != 0, reports[0].bAccepted);
    if (bSent) {
        EXPECT_EQ(0, memcmp(reports[0].abReport, "\x06" "A" "\x06", 3)) << "the handset gets 06 41 06";
    }
    OVERLAPPED overlapped = {};
    BYTE abInput[2];
    EXPECT_FALSE(Desk().Read(hDevice, abInput, 1, nullptr, &overlapped));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_USER_BUFFER), GetLastError()) << "a read smaller than InputLen 2";
    Desk().Close(hDevice);
}

INSTANTIATE_TEST_SUITE_P(Stacks, ReportLengthTest,
                         ::testing::Values(LengthCase{"WindowsExact", ESimHidStack::Windows, 3, 0},
                                           LengthCase{"WindowsShort", ESimHidStack::Windows, 2, ERROR_INVALID_PARAMETER},
                                           LengthCase{"WineExact", ESimHidStack::Wine, 3, 0},
                                           LengthCase{"WineShort", ESimHidStack::Wine, 2, ERROR_INVALID_PARAMETER},
                                           LengthCase{"WineLong", ESimHidStack::Wine, 4, 0}),
                         [](const ::testing::TestParamInfo<LengthCase> &info) { return info.param.szName; });

class CommandLetterTest : public FramesTest, public ::testing::WithParamInterface<char> {};

TEST_P(CommandLetterTest, GoesOutAsFiveReports) {
    const char cLetter = GetParam();
    m_link.SendCommand(cLetter, 0, nullptr);
    ExpectFramed(std::string("AT") + cLetter + "\r\n");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(EveryLetter, CommandLetterTest,
                         ::testing::Values('C', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'O', 'P',
                                           'Q', 'S', 'T', 'Z'));
// clang-format on

struct DialCase {
    const char *szName;
    std::string strDigits;
    std::string strLineSent;
};

void PrintTo(const DialCase &dial, std::ostream *pStream) { *pStream << dial.szName; }

class DialPayloadTest : public FramesTest, public ::testing::WithParamInterface<DialCase> {};

TEST_P(DialPayloadTest, PutsTheDigitsBetweenLetterAndCR) {
    const DialCase &dial = GetParam();
    m_link.SendCommand('B', static_cast<BYTE>(dial.strDigits.size()), dial.strDigits.c_str());
    ExpectFramed(dial.strLineSent);
}

const std::string D_str26Digits = "12345678901234567890123456";

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Dial, DialPayloadTest,
    ::testing::Values(DialCase{"ThreeDigits", "123", "ATB123\r\n"},
                      DialCase{"NoDigits", "", "ATB\r\n"},
                      DialCase{"StarAndHash", "*0#", "ATB*0#\r\n"},
                      // 26 digits fill the 64-byte frame to its last byte.
                      DialCase{"TwentySixDigits", D_str26Digits, "ATB" + D_str26Digits + "\r\n"},
                      // More would run past the frame; the extra digits are cut.
                      DialCase{"TwentySevenDigitsAreCut", D_str26Digits + "7",
                               "ATB" + D_str26Digits + "\r\n"},
                      DialCase{"LongestPayloadIsCut", std::string(255, '9'),
                               "ATB" + std::string(26, '9') + "\r\n"}),
    [](const ::testing::TestParamInfo<DialCase> &info) { return std::string(info.param.szName); });
// clang-format on

TEST_F(FramesTest, PayloadOfOtherLettersIsIgnored) {
    m_link.SendCommand('Z', 3, "123");
    ExpectFramed("ATZ\r\n");
}

TEST_F(FramesTest, WithoutAHandsetNothingIsSentOrLogged) {
    CTestableHalvex unopened;
    unopened.SendCommand('H', 0, nullptr);
    EXPECT_TRUE(Desk().FeatureReports().empty()) << DescribeReports(Desk().FeatureReports());
    EXPECT_TRUE(CLogLines::Get().Since().empty()) << Describe(CLogLines::Get().Since());
}

TEST_F(FramesTest, FailedReportEndsTheLineWithALogLine) {
    Desk().FailFeatureReportAfter(2);
    m_link.SendCommand('H', 0, nullptr);
    const std::vector<SimFeatureReport> reports = Desk().FeatureReports();
    ASSERT_EQ(3u, reports.size()) << "A and T go out, H fails, CR LF are not tried: " << DescribeReports(reports);
    EXPECT_FALSE(reports[2].bAccepted);
    EXPECT_EQ(std::vector<std::wstring>{L"发送数据失败!"}, CLogLines::Get().Since())
        << Describe(CLogLines::Get().Since());
    Desk().ClearReports();
    m_link.SendCommand('H', 0, nullptr);
    ExpectFramed("ATH\r\n");
}

TEST_F(FramesTest, LinesOfTwoHostThreadsNeverInterleave) {
    Desk().SetFeatureDelay(1);
    auto sendMany = [this](char cLetter) {
        for (int i = 0; i < 15; ++i) m_link.SendCommand(cLetter, 0, nullptr);
    };
    std::thread first(sendMany, 'J');
    std::thread second(sendMany, 'K');
    first.join();
    second.join();
    const std::vector<std::string> lines = Desk().CommandLines();
    ASSERT_EQ(30u, lines.size());
    for (const std::string &strLine : lines)
        EXPECT_TRUE(strLine == "ATJ\r\n" || strLine == "ATK\r\n") << "mixed line: " << strLine;
}

class SendWhileReconnectingTest : public LinkFixture {};

// Fault: SendCommand used m_hDevice while the link thread closed it after a
// read error, so the rest of a command line went to a closed handle (or to
// whatever object reused its value). The link thread now swaps the handle
// out under the send lock, and a line in progress finishes first.
TEST_F(SendWhileReconnectingTest, CommandNeverReachesAClosedHandle) {
    StartConnected();
    Desk().SetFeatureDelay(3);
    std::thread host([this] { m_link.SendCommand('B', 26, D_str26Digits.c_str()); });
    for (int i = 0; i < 200 && Desk().FeatureReports().empty(); ++i) Sleep(1);
    Desk().FailPendingRead(D_nStatusUnsuccessful);  // a USB hiccup: the link reconnects
    host.join();
    EXPECT_EQ(0, Desk().ClosedHandleUseCount()) << DescribeReports(Desk().FeatureReports());
    EXPECT_EQ(std::vector<std::string>{"ATB" + D_str26Digits + "\r\n"}, Desk().CommandLines())
        << "the line started before the reconnect arrives whole";
    ASSERT_TRUE(Desk().WaitUntilReading(D_dwHandsetFoundBoundMs)) << "the link reconnects after the read error";
    Desk().ClearReports();
    m_link.SendCommand('H', 0, nullptr);
    EXPECT_EQ(std::vector<std::string>{"ATH\r\n"}, Desk().CommandLines())
        << "commands reach the handset through its new handle";
}

}  // namespace
