// The fault campaign over the HID/SetupAPI seam: every function of the HID
// table fails, with each error Windows returns there, in each scenario that
// calls it (the search, a command line, the event reads, the link's start
// after a load, its stop at an unload). Each case checks that nothing
// crashes, that the scenario ends within its bound, the log lines it writes,
// and that, once the fault is lifted, the link finds the handset again and
// commands and events work. Each case prints its outcome, a row of the
// campaign's matrix. A new member of the seam gets its rows here.
#include <algorithm>
#include <functional>
#include <vector>

#include "fault/HidFaults.h"
#include "link_support.h"
#include "stopwatch.h"

namespace {

enum class EScenario { Search, CommandSend, EventRead, Load, Unload };
const char *const D_aszScenarios[] = {"search", "command send", "event read", "load", "unload"};

const UINT D_nRing = 1124, D_nNoHandset = 1134;
const wchar_t *const D_wszNoInfo = L"获取HID设备信息失败!";
const wchar_t *const D_wszNoDetail = L"获取HID设备细节信息失败!";
const wchar_t *const D_wszNoHandle = L"获取HID设备句柄失败!";
const wchar_t *const D_wszNoAttributes = L"获取HID设备属性失败!";
const wchar_t *const D_wszSendFailed = L"发送数据失败!";

// Bounds of each scenario (documented waits plus a margin for a busy
// machine): a search runs through, a command line waits behind no other,
// a lost connection is searched again after 200 ms, a stop takes 100 ms and
// its safe point at most D_dwSafeEndWaitMs.
const DWORD D_dwSearchBoundMs = 1000;
const DWORD D_dwReconnectBoundMs = 3000;
const DWORD D_dwStopBoundMs = 100 + CThreadEnd::D_dwSafeEndWaitMs;
// A failed search is tried again 200 + 2000 ms later.
const DWORD D_dwSearchAgainBoundMs = 4000;

struct HidFaultCase {
    const char *szFunction;
    int nSlot;
    DWORD dwError;
    int nPassCalls;  // calls of the function that go through first
    EScenario eScenario;
    std::vector<std::wstring> lines;  // what the case writes to the log
    bool bFindsHandset;               // search and load: found anyway
};

std::string NameOf(const HidFaultCase &c) {
    static const char *const aszIds[] = {"Search", "Command", "Read", "Load", "Unload"};
    return std::string(aszIds[static_cast<int>(c.eScenario)]) + "_" + c.szFunction + "_" + std::to_string(c.dwError) +
           (c.nPassCalls ? "_after" + std::to_string(c.nPassCalls) : "");
}

void PrintTo(const HidFaultCase &c, std::ostream *pStream) { *pStream << NameOf(c); }

class HidFaultTest : public LinkFixture, public ::testing::WithParamInterface<HidFaultCase> {
protected:
    void SetUp() override {
        LinkFixture::SetUp();
        // The handset behind another model of the vendor: one device is
        // opened, read and closed before the handset is found.
        Desk().SetDevices({CEmulatedHid::OtherDevice(0x0C70, 0x0001, 0x0100), CEmulatedHid::Handset()});
        InstallHidFaults(m_plan);
    }
    void TearDown() override {
        StopLink();
        UninstallHidFaults();
        LinkFixture::TearDown();
    }
    void Arm() {
        const HidFaultCase &c = GetParam();
        m_plan.FailOnce(c.nSlot, c.dwError, c.nPassCalls);
    }
    void ExpectLines(const char *szWhen) {
        EXPECT_EQ(GetParam().lines, CLogLines::Get().Since()) << szWhen << "; " << Describe(CLogLines::Get().Since());
    }
    void ExpectFaultTaken() {
        EXPECT_EQ(1, m_plan.Failures(GetParam().nSlot)) << "the scenario did not call " << GetParam().szFunction;
    }
    void ExpectFullRecovery();
    void Report(const std::string &strOutcome) {
        printf("  [matrix] %s | %s | %lu | %s\n", GetParam().szFunction,
               D_aszScenarios[static_cast<int>(GetParam().eScenario)], static_cast<unsigned long>(GetParam().dwError),
               strOutcome.c_str());
    }

    void RunSearch();
    void RunCommandSend();
    void RunEventRead();
    void RunLoad();
    void RunUnload();

    CFaultPlan m_plan;
};

void HidFaultTest::ExpectFullRecovery() {
    m_plan.Lift();
    if (!m_bStarted) {
        m_link.Start(0);
        m_bStarted = true;
    }
    ASSERT_TRUE(Desk().WaitUntilReading(D_dwSearchAgainBoundMs))
        << "after the fault the link should find and read the handset again";
    Desk().ClearReports();
    m_link.SendCommand('Z', 0, nullptr);
    EXPECT_EQ(std::vector<std::string>{"ATZ\r\n"}, Desk().CommandLines()) << "commands reach the handset again";
    m_window.Forget();
    ASSERT_TRUE(Desk().SendInput("ATR\r\n"));
    EXPECT_TRUE(m_window.WaitFor(D_nRing, 2000)) << "events reach the host again";
}

// The search alone, on a link of its own, as the link thread runs it.
void HidFaultTest::RunSearch() {
    Arm();
    CStopwatch sinceStart;
    bool bFound;
    {
        CTestableHalvex probe;
        bFound = probe.OpenDevice(0x0C70, 0x0000, 0x0100) != INVALID_HANDLE_VALUE;
    }
    EXPECT_LT(sinceStart.ElapsedMs(), D_dwSearchBoundMs);
    ExpectFaultTaken();
    EXPECT_EQ(GetParam().bFindsHandset, bFound);
    ExpectLines("the search");
    Report(bFound ? "handset found anyway" : "search fails, its line logged");
}

void HidFaultTest::RunCommandSend() {
    StartConnected();
    CLogLines::Get().Mark();
    Desk().ClearReports();
    Arm();
    CStopwatch sinceStart;
    m_link.SendCommand('F', 0, nullptr);
    EXPECT_LT(sinceStart.ElapsedMs(), Halvex::D_dwSendLockBoundMs);
    ExpectFaultTaken();
    ExpectLines("the command line");
    EXPECT_TRUE(Desk().CommandLines().empty()) << "the rest of the line is not sent";
    Report("rest of the line dropped, line logged");
}

// A read in flight when the fault is armed; an empty line (an LF alone,
// dropped) completes it and the next read (or its result) meets the fault.
void HidFaultTest::RunEventRead() {
    StartConnected();
    CLogLines::Get().Mark();
    Arm();
    const bool bCancel = GetParam().nSlot == TV_SEAM_SLOT(HID_API, CancelIo);
    // CancelIo is called when a read stays silent for a whole slice.
    if (!bCancel) {
        ASSERT_TRUE(Desk().SendInput("\n"));
    }
    const DWORD dwBound = bCancel ? Halvex::D_dwReadSliceMs + D_dwReconnectBoundMs : D_dwReconnectBoundMs;
    CStopwatch sinceStart;
    while (m_plan.Failures(GetParam().nSlot) == 0 && sinceStart.ElapsedMs() < dwBound) Sleep(10);
    ExpectFaultTaken();
    EXPECT_TRUE(Desk().WaitUntilReading(D_dwReconnectBoundMs)) << "the link should be reading again";
    ExpectLines("the read");
    Report(GetParam().lines.empty() ? "read again, nothing logged" : "line logged, device closed, found again");
}

// The link's first search after the library's attach step started it.
void HidFaultTest::RunLoad() {
    Arm();
    m_link.Start(0);
    m_bStarted = true;
    if (GetParam().bFindsHandset) {
        EXPECT_TRUE(Desk().WaitUntilReading(D_dwSearchBoundMs)) << "the first search finds the handset anyway";
    } else {
        EXPECT_TRUE(m_window.WaitFor(D_nNoHandset, D_dwSearchBoundMs)) << "expected 1134 after the first search";
    }
    ExpectFaultTaken();
    ExpectLines("the first search");
    Report(GetParam().bFindsHandset ? "handset found anyway" : "1134, line logged, found at the next search");
}

// The link's stop as the library's detach step makes it: in a read (the
// read is cancelled, the handset closed) or in a search (the set released).
void HidFaultTest::RunUnload() {
    const bool bInSearch = GetParam().nSlot == TV_SEAM_SLOT(HID_API, SetupDiDestroyDeviceInfoList);
    if (bInSearch) {
        Desk().SetOpenDelay(300);
        m_link.Start(0);
        m_bStarted = true;
        CStopwatch sinceStart;
        while (Desk().OpenAttemptCount() == 0 && sinceStart.ElapsedMs() < D_dwSearchBoundMs) Sleep(1);
    } else {
        StartConnected();
    }
    CLogLines::Get().Mark();
    Arm();
    CStopwatch sinceStart;
    EXPECT_TRUE(StopLink()) << "the link thread ends by itself";
    EXPECT_LT(sinceStart.ElapsedMs(), D_dwStopBoundMs);
    Desk().SetOpenDelay(0);
    ExpectFaultTaken();
    ExpectLines("the stop");
    Report("stop in time, ended by itself");
}

TEST_P(HidFaultTest, EndsWithinItsBoundAndRecovers) {
    switch (GetParam().eScenario) {
    case EScenario::Search: RunSearch(); break;
    case EScenario::CommandSend: RunCommandSend(); break;
    case EScenario::EventRead: RunEventRead(); break;
    case EScenario::Load: RunLoad(); break;
    case EScenario::Unload: RunUnload(); break;
    }
    ExpectFullRecovery();
}

#define SLOT(Member) #Member, TV_SEAM_SLOT(HID_API, Member)
using Lines = std::vector<std::wstring>;

// Every function of the HID table, and whether Windows lets it fail: each one
// that can fail has cases below (FunctionTable.EveryFunctionThatCanFailHasCases
// checks it), and a new member of the table needs its row here first.
struct HidFunction {
    const char *szName;
    int nSlot;
    bool bCanFail;
};

// clang-format off
const HidFunction D_HidFunctions[] = {
    {SLOT(HidD_GetHidGuid), false},           {SLOT(SetupDiGetClassDevsA), true},
    {SLOT(SetupDiEnumDeviceInterfaces), true}, {SLOT(SetupDiGetDeviceInterfaceDetailA), true},
    {SLOT(SetupDiDestroyDeviceInfoList), true}, {SLOT(HidD_GetAttributes), true},
    {SLOT(HidD_SetFeature), true},            {SLOT(CreateFileA), true},
    {SLOT(ReadFile), true},                   {SLOT(GetOverlappedResult), true},
    {SLOT(CancelIo), true},                   {SLOT(CloseHandle), true},
};
// clang-format on
static_assert(sizeof(D_HidFunctions) / sizeof(D_HidFunctions[0]) == sizeof(HID_API) / sizeof(void *),
              "every function of the HID table has its row");

// The functions of a search and the errors Windows gives there: out of
// memory, a device gone between the listing and the next step, a device that
// another program holds or that stalls.
// clang-format off
std::vector<HidFaultCase> SearchCases(EScenario eScenario) {
    return {
        {SLOT(SetupDiGetClassDevsA), ERROR_NOT_ENOUGH_MEMORY, 0, eScenario, {D_wszNoInfo}, false},
        {SLOT(SetupDiEnumDeviceInterfaces), ERROR_NO_MORE_ITEMS, 1, eScenario, {D_wszNoInfo}, false},
        {SLOT(SetupDiEnumDeviceInterfaces), ERROR_NOT_ENOUGH_MEMORY, 0, eScenario, {D_wszNoInfo}, false},
        {SLOT(SetupDiGetDeviceInterfaceDetailA), ERROR_NO_SUCH_DEVINST, 0, eScenario, {D_wszNoDetail}, false},
        {SLOT(SetupDiGetDeviceInterfaceDetailA), ERROR_INSUFFICIENT_BUFFER, 3, eScenario, {D_wszNoDetail}, false},
        {SLOT(CreateFileA), ERROR_SHARING_VIOLATION, 1, eScenario, {D_wszNoHandle, D_wszNoInfo}, false},
        {SLOT(CreateFileA), ERROR_ACCESS_DENIED, 1, eScenario, {D_wszNoHandle, D_wszNoInfo}, false},
        {SLOT(CreateFileA), ERROR_FILE_NOT_FOUND, 0, eScenario, {D_wszNoHandle}, true},
        {SLOT(HidD_GetAttributes), ERROR_GEN_FAILURE, 0, eScenario, {D_wszNoAttributes}, false},
        {SLOT(HidD_GetAttributes), ERROR_DEVICE_NOT_CONNECTED, 1, eScenario, {D_wszNoAttributes}, false},
        {SLOT(CloseHandle), ERROR_INVALID_HANDLE, 0, eScenario, {}, true},
        {SLOT(SetupDiDestroyDeviceInfoList), ERROR_INVALID_HANDLE, 0, eScenario, {}, true},
    };
}

std::vector<HidFaultCase> AllCases() {
    std::vector<HidFaultCase> cases = SearchCases(EScenario::Search);
    // After a load, one error a function: the same search, but every miss
    // costs the link's 2.2 s before the next.
    for (const HidFaultCase &c : SearchCases(EScenario::Load))
        if (c.dwError != ERROR_ACCESS_DENIED && c.dwError != ERROR_NO_SUCH_DEVINST &&
            c.dwError != ERROR_DEVICE_NOT_CONNECTED && c.dwError != ERROR_NO_MORE_ITEMS)
            cases.push_back(c);
    const std::vector<HidFaultCase> others = {
        // A stalled control transfer, an unplugged handset, a timed-out one.
        {SLOT(HidD_SetFeature), ERROR_GEN_FAILURE, 2, EScenario::CommandSend, {D_wszSendFailed}, true},
        {SLOT(HidD_SetFeature), ERROR_DEVICE_NOT_CONNECTED, 0, EScenario::CommandSend, {D_wszSendFailed}, true},
        {SLOT(HidD_SetFeature), ERROR_ACCESS_DENIED, 0, EScenario::CommandSend, {D_wszSendFailed}, true},
        {SLOT(HidD_SetFeature), ERROR_SEM_TIMEOUT, 4, EScenario::CommandSend, {D_wszSendFailed}, true},
        // Hard read errors close the handset and search again; a read that
        // was cancelled, or refused without a hard error, is simply retried.
        {SLOT(ReadFile), ERROR_DEVICE_NOT_CONNECTED, 0, EScenario::EventRead, {L"读操作错误: 1167"}, true},
        {SLOT(ReadFile), ERROR_INVALID_HANDLE, 0, EScenario::EventRead, {L"读操作错误: 6"}, true},
        {SLOT(ReadFile), ERROR_NO_SYSTEM_RESOURCES, 0, EScenario::EventRead, {L"读操作错误: 1450"}, true},
        {SLOT(ReadFile), ERROR_OPERATION_ABORTED, 0, EScenario::EventRead, {}, true},
        {SLOT(GetOverlappedResult), ERROR_DEVICE_NOT_CONNECTED, 0, EScenario::EventRead, {L"GetOverlappedResult例程错误: 1167"}, true},
        // Wine's HID class driver ends the read of an unplugged handset so.
        {SLOT(GetOverlappedResult), ERROR_ACCESS_DENIED, 0, EScenario::EventRead, {L"GetOverlappedResult例程错误: 5"}, true},
        {SLOT(GetOverlappedResult), ERROR_GEN_FAILURE, 0, EScenario::EventRead, {L"GetOverlappedResult例程错误: 31"}, true},
        {SLOT(GetOverlappedResult), ERROR_OPERATION_ABORTED, 0, EScenario::EventRead, {}, true},
        {SLOT(CancelIo), ERROR_INVALID_HANDLE, 0, EScenario::EventRead, {}, true},
        // The stop cancels the read and closes the handset, or releases the
        // set of the search it cut short.
        {SLOT(CancelIo), ERROR_NOT_FOUND, 0, EScenario::Unload, {}, true},
        {SLOT(CloseHandle), ERROR_INVALID_HANDLE, 0, EScenario::Unload, {}, true},
        {SLOT(SetupDiDestroyDeviceInfoList), ERROR_INVALID_HANDLE, 0, EScenario::Unload, {}, true},
    };
    cases.insert(cases.end(), others.begin(), others.end());
    return cases;
}
// clang-format on

INSTANTIATE_TEST_SUITE_P(Campaign, HidFaultTest, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<HidFaultCase> &info) { return NameOf(info.param); });

TEST(FunctionTable, EveryFunctionThatCanFailHasCases) {
    const std::vector<HidFaultCase> cases = AllCases();
    for (const HidFunction &function : D_HidFunctions) {
        const int nCases = static_cast<int>(std::count_if(
            cases.begin(), cases.end(), [&](const HidFaultCase &c) { return c.nSlot == function.nSlot; }));
        if (function.bCanFail) {
            EXPECT_GT(nCases, 0) << function.szName << " can fail on Windows but no case makes it fail";
        } else {
            EXPECT_EQ(nCases, 0) << function.szName << " cannot fail; its wrapper is never armed";
        }
    }
}

}  // namespace
