// The SIP plug-in's black-box fixture (see sip_fixture.h).
#include "sip_fixture.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>

namespace {
template <typename F>
bool BindExport(HMODULE hPlugin, F &pfn, const char *szName) {
    pfn = reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(hPlugin, szName)));
    return pfn != nullptr;
}

std::string NewScratchFolder() {
    static int s_nFolders = 0;
    char szTemp[MAX_PATH];
    GetTempPathA(sizeof szTemp, szTemp);
    char szFolder[MAX_PATH];
    snprintf(szFolder, sizeof szFolder, "%ssip_test_%lu_%d", szTemp, GetCurrentProcessId(), ++s_nFolders);
    CreateDirectoryA(szFolder, nullptr);
    return szFolder;
}

void RemoveScratchFolder(const std::string &strFolder) {
    WIN32_FIND_DATAA found;
    HANDLE hFind = FindFirstFileA((strFolder + "\\*").c_str(), &found);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA((strFolder + "\\" + found.cFileName).c_str());
        } while (FindNextFileA(hFind, &found));
        FindClose(hFind);
    }
    RemoveDirectoryA(strFolder.c_str());
}
}  // namespace

std::string CMarentaExports::Bind(HMODULE hPlugin) {
#define TV_BIND(member, name) \
    if (!BindExport(hPlugin, member, name)) return name
    TV_BIND(Initialize, "TV_Initialize");
    TV_BIND(UnInitialize, "TV_UnInitialize");
    TV_BIND(MakeCall, "TV_MakeCall");
    TV_BIND(HangUpCall, "TV_HangUpCall");
    TV_BIND(OffHook, "TV_OffHook");
    TV_BIND(PickUp, "TV_PickUp");
    TV_BIND(Installed, "TV_Installed");
    TV_BIND(StartPlayFile, "TV_StartPlayFile");
    TV_BIND(StopPlayFile, "TV_StopPlayFile");
    TV_BIND(StartRecordFile, "TV_StartRecordFile");
    TV_BIND(StopRecordFile, "TV_StopRecordFile");
#undef TV_BIND
    return "";
}

CSipPluginTest::PFN_NoteTest CSipPluginTest::s_pfnNoteTest = nullptr;

void CSipPluginTest::SetUp() {
    if (s_pfnNoteTest) {
        const ::testing::TestInfo *pInfo = ::testing::UnitTest::GetInstance()->current_test_info();
        s_pfnNoteTest(std::string(pInfo->test_suite_name()) + "." + pInfo->name());
        GTEST_SKIP();
    }
    m_hKiro = LoadLibraryA("KIRO.dll");
    ASSERT_NE(m_hKiro, nullptr) << "the simulated KIRO.dll beside the test";
    ASSERT_TRUE(m_sim.Bind(m_hKiro)) << "KIRO.dll lacks the KiroSim_ controls";
    if (m_bFreshLibrary) {
        m_sim.Reset();
        char szMode[16];
        DWORD dwLength = GetEnvironmentVariableA("KIROSIM_MODE", szMode, sizeof szMode);
        if (dwLength > 0 && dwLength < sizeof szMode) m_sim.SetMode(atoi(szMode));
    }
    char szHome[MAX_PATH];
    GetCurrentDirectoryA(sizeof szHome, szHome);
    m_strHomeFolder = szHome;
    m_strFolder = NewScratchFolder();
    SetCurrentDirectoryA(m_strFolder.c_str());
    m_hPlugin = LoadLibraryA("BRAVIK32.dll");
    ASSERT_NE(m_hPlugin, nullptr) << "BRAVIK32.dll (the SIP plug-in) did not load, error " << GetLastError();
    EXPECT_EQ(m_tv.Bind(m_hPlugin), "") << "export missing from BRAVIK32.dll";
}

void CSipPluginTest::TearDown() {
    // Nothing the test queued may reach the next one.
    if (m_sim.Reset && m_bFreshLibrary) m_sim.Reset();
    if (m_hPlugin) FreeLibrary(m_hPlugin);
    if (!m_strHomeFolder.empty()) SetCurrentDirectoryA(m_strHomeFolder.c_str());
    if (!m_strFolder.empty()) RemoveScratchFolder(m_strFolder);
    if (m_hKiro) FreeLibrary(m_hKiro);
}

int CSipPluginTest::Register() { return m_tv.Initialize("example.com", "1001", "secret", "proxy.example.com", ""); }

void CSipPluginTest::Settle() { ASSERT_EQ(m_sim.WaitIdle(D_nSimIdleMs), 1) << "the simulated library never went idle"; }

void CSipPluginTest::ReachAlerting() {
    ASSERT_EQ(Register(), 0) << "registration";
    ASSERT_EQ(m_tv.MakeCall("100"), 0) << "TV_MakeCall";
    Settle();
}

KIRO_HANDLE CSipPluginTest::ReachRinging() {
    EXPECT_EQ(Register(), 0) << "registration";
    KIRO_HANDLE hCall = m_sim.OfferCall(m_sim.LatestLine());
    EXPECT_NE(hCall, 0u) << "the simulated library offered no call";
    Settle();
    return hCall;
}

KIRO_HANDLE CSipPluginTest::ReachTalking() {
    KIRO_HANDLE hCall = ReachRinging();
    EXPECT_EQ(m_tv.OffHook(), 0) << "TV_OffHook on the ringing call";
    Settle();
    return hCall;
}

KIRO_HANDLE CSipPluginTest::Reach(ESipReach eWhere) {
    switch (eWhere) {
    case ESipReach::Nothing: return 0;
    case ESipReach::Registered: EXPECT_EQ(Register(), 0) << "registration"; return 0;
    case ESipReach::Calling:
        m_sim.SetEventDelay(KIRO_CALL_ALERTING, KIROSIM_DROP);
        ReachAlerting();
        return m_sim.LatestCall();
    case ESipReach::Alerting: ReachAlerting(); return m_sim.LatestCall();
    case ESipReach::Placed:
        EXPECT_EQ(Register(), 0) << "registration";
        m_sim.SetEventDelay(KIRO_CALL_CREATED, 1000);
        EXPECT_EQ(m_tv.MakeCall("100"), 0) << "TV_MakeCall";
        return m_sim.LatestCall();
    case ESipReach::Ringing: return ReachRinging();
    case ESipReach::Talking: return ReachTalking();
    case ESipReach::Released: {
        KIRO_HANDLE hCall = ReachTalking();
        m_sim.SetEventDelay(KIRO_CALL_CLOSED, KIROSIM_DROP);
        EXPECT_EQ(m_sim.RemoteHangUp(hCall), 0) << "far end hang-up";
        Settle();
        return hCall;
    }
    case ESipReach::Expired:
        EXPECT_EQ(Register(), 0) << "registration";
        EXPECT_EQ(m_sim.ExpireLine(m_sim.LatestLine()), 0) << "the server drops the registration";
        Settle();
        return 0;
    }
    return 0;
}

int CSipPluginTest::Do(ESipAction eAction) {
    switch (eAction) {
    case ESipAction::Register: return Register();
    case ESipAction::Unregister: return m_tv.UnInitialize();
    case ESipAction::MakeCall: return m_tv.MakeCall("100");
    case ESipAction::HangUp: return m_tv.HangUpCall();
    case ESipAction::OffHook: return m_tv.OffHook();
    }
    return 1;
}

void CSipPluginTest::AwaitRenewals(int nCount) {
    const int nEveryMs = 5;
    m_sim.SetRenewal(nEveryMs);
    int64_t llLast = m_sim.DispatchTime(KIRO_LINE_REGISTERED);
    CStopwatch watch;
    for (int nSeen = 0; nSeen < nCount && watch.Ms() < D_nSimIdleMs; Sleep(nEveryMs)) {
        int64_t llNow = m_sim.DispatchTime(KIRO_LINE_REGISTERED);
        if (llNow != llLast) ++nSeen;
        llLast = llNow;
    }
    m_sim.SetRenewal(0);
    Settle();
}

void CSipPluginTest::SendCallEvent(KIRO_HANDLE hCall, int nCode, int nStatus) {
    uint32_t aWords[KIRO_RECORD_WORDS] = {};
    aWords[KIRO_WORD_HANDLE] = hCall;
    aWords[KIRO_WORD_CALL_CODE] = static_cast<uint32_t>(nCode);
    aWords[KIRO_WORD_STATUS] = static_cast<uint32_t>(nStatus);
    m_sim.SendEvent(KIRO_EVENT_CALL, aWords, KIRO_RECORD_WORDS, 0);
    Settle();
}

void CSipPluginTest::SendLineEvent(KIRO_HANDLE hLine, int nCode) {
    uint32_t aWords[KIRO_RECORD_WORDS] = {};
    aWords[KIRO_WORD_HANDLE] = hLine;
    aWords[KIRO_WORD_LINE_CODE] = static_cast<uint32_t>(nCode);
    m_sim.SendEvent(KIRO_EVENT_LINE, aWords, KIRO_RECORD_WORDS, 0);
    Settle();
}

std::string CSipPluginTest::ReadLog() const {
    std::ifstream file(LogPath(), std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

bool CSipPluginTest::LogExists() const { return GetFileAttributesA(LogPath().c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::string> ExpectedRegistrationCalls(bool bLibraryStart, KIRO_HANDLE hLine) {
    std::vector<std::string> calls;
    if (bLibraryStart) {
        calls.push_back("KIRO_Initialize|5060|10000|16|kIRO||0");
        calls.push_back("KIRO_EventListenerAdd|4097|0");
    }
    calls.push_back("KIRO_AddLine|4097|1001@example.com");
    calls.push_back("KIRO_SetOutboundProxy|4097|proxy.example.com");
    calls.push_back("KIRO_LineRegister|" + std::to_string(hLine) + "|example.com|1001|secret|1001@example.com");
    return calls;
}
