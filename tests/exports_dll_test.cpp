// BRAVIK32.dll as the host sees it: loaded with LoadLibraryA from the test
// executable's folder, every export bound by its exact name, results, log
// lines in the log beside the executable and the 1134 notifications, with
// no handset attached (Wine's own HID devices are searched and rejected).
#include "bravik32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "log_files.h"
#include "process_threads.h"
#include "stopwatch.h"

namespace {

using namespace logfiles;

const char *const D_szPlugin = "BRAVIK32.dll";

// clang-format off
const char *const D_aszExportNames[] = {
    "TV_Installed", "TV_Initialize", "TV_Disable", "TV_CompressRatio", "TV_ConnectChannels",
    "TV_ConnectTo", "TV_Disconnect", "TV_DisconnectChannels", "TV_FlushDTMF", "TV_GetDTMFChar",
    "TV_HangUpCtrl", "TV_OffHookCtrl", "TV_StartDial", "TV_GetDLLVersion", "CT_StartMonitor",
    "_CT_StopMonitor@0", "CT_Flash", "CT_Bell", "CT_Keyboard", "CT_Mic", "CT_Spk",
    "_CT_RingOn@0", "_CT_RingOff@0", "_CT_MicMute@4", "_CT_EarMute@4", "_CT_KeyLock@4",
    "_CT_SendDTMF@4", "CT_GetANI", "CT_GetKeys", "CT_GetDTMFStr", "CT_SetStopIO",
    "?CT_GetErrorDesc@@YGHPAD@Z", "?CT_GetStatus@@YGHXZ", "TV_StartPlayFile", "TV_StopPlayFile",
    "TV_PlayFileRest", "TV_StartRecordFile", "TV_StopRecordFile", "TV_RecordFileRest"};
// clang-format on

// Messages of the lines written since nFrom by host threads. The link
// thread's search lines (Chinese, so not plain ASCII) run in between.
std::vector<std::string> MessagesSince(size_t nFrom, bool bFromHostThreads) {
    std::vector<std::string> messages;
    std::vector<std::string> files = LogFiles();
    if (files.empty()) return messages;
    std::vector<std::string> lines = ReadLines(files.back());
    for (size_t i = nFrom; i < lines.size(); ++i) {
        std::string strMessage = MessageOf(lines[i]);
        bool bAscii = true;
        for (char c : strMessage) bAscii = bAscii && static_cast<unsigned char>(c) < 0x80;
        if (bAscii == bFromHostThreads) messages.push_back(strMessage);
    }
    return messages;
}

std::vector<std::string> HostMessagesSince(size_t nFrom) { return MessagesSince(nFrom, true); }

size_t LogLineCount() {
    std::vector<std::string> files = LogFiles();
    return files.empty() ? 0 : ReadLines(files.back()).size();
}

// GetProcAddress answers with a generic function pointer; the export's own
// type is the caller's to know.
template <typename PFN>
PFN As(FARPROC pfn) {
    return reinterpret_cast<PFN>(reinterpret_cast<void *>(pfn));
}

// Handles of the threads that run now but did not run before.
std::vector<HANDLE> OpenThreadsStartedSince(const std::set<DWORD> &before) {
    std::vector<HANDLE> handles;
    for (DWORD dwId : ThreadsOfThisProcess()) {
        if (before.count(dwId)) continue;
        HANDLE hThread = OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, dwId);
        if (hThread) handles.push_back(hThread);
    }
    return handles;
}

// The plug-in loaded once for the suite, as a host keeps it.
class LoadedPlugin : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        RemoveLogEntries();
        s_hPlugin = LoadLibraryA(D_szPlugin);
    }
    static void TearDownTestSuite() {
        if (s_hPlugin) FreeLibrary(s_hPlugin);
        s_hPlugin = nullptr;
        RemoveLogEntries();
    }
    void SetUp() override {
        ASSERT_NE(s_hPlugin, nullptr) << D_szPlugin << " must load beside the test executable";
        m_nLogMark = LogLineCount();
    }
    template <typename PFN>
    static PFN Bind(const char *szName) {
        return As<PFN>(GetProcAddress(s_hPlugin, szName));
    }
    std::vector<std::string> HostMessages() const { return HostMessagesSince(m_nLogMark); }

    static HMODULE s_hPlugin;
    size_t m_nLogMark = 0;
};
HMODULE LoadedPlugin::s_hPlugin = nullptr;

TEST_F(LoadedPlugin, EveryExportResolvesByItsExactName) {
    for (const char *szName : D_aszExportNames)
        EXPECT_NE(GetProcAddress(s_hPlugin, szName), nullptr) << "export not found: " << szName;
    EXPECT_EQ(GetProcAddress(s_hPlugin, "CT_RingOn"), nullptr)
        << "the host binds the decorated name; the plain one must not exist";
}

// One call of one export: its result and the log lines it writes.
struct ExportCall {
    const char *szCase;
    const char *szExport;
    int (*pfnCall)(FARPROC pfn);
    int nResult;
    std::vector<std::string> lines;
};

void PrintTo(const ExportCall &call, std::ostream *os) { *os << call.szCase; }

template <typename PFN, typename... Args>
int Call(FARPROC pfn, Args... args) {
    return As<PFN>(pfn)(args...);
}

char g_szOut[64];
const std::string D_strTooLong(27, '5');

class ExportWithoutHandset : public LoadedPlugin, public ::testing::WithParamInterface<ExportCall> {};

TEST_P(ExportWithoutHandset, ReturnsItsResultAndLogsItsLines) {
    const ExportCall &c = GetParam();
    FARPROC pfn = GetProcAddress(s_hPlugin, c.szExport);
    ASSERT_NE(pfn, nullptr) << c.szExport;
    EXPECT_EQ(c.pfnCall(pfn), c.nResult) << c.szExport;
    EXPECT_EQ(HostMessages(), c.lines) << c.szExport << " must write exactly these log lines";
}

using V = BRAVIK32_PFN_VOID;
using I = BRAVIK32_PFN_INT;
using II = BRAVIK32_PFN_INT_INT;
using IS = BRAVIK32_PFN_INT_STRING;
using S = BRAVIK32_PFN_STRING;
using B = BRAVIK32_PFN_BUFFER;
using W = BRAVIK32_PFN_WINDOW;

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Table, ExportWithoutHandset,
    ::testing::Values(
        ExportCall{"Installed", "TV_Installed", [](FARPROC p) { return Call<V>(p); }, 1, {"TV_Installed"}},
        ExportCall{"Initialize", "TV_Initialize", [](FARPROC p) { return Call<V>(p); }, 0, {"TV_Initialize"}},
        ExportCall{"Disable", "TV_Disable", [](FARPROC p) { return Call<V>(p); }, 0, {"TV_Disable"}},
        ExportCall{"CompressRatio", "TV_CompressRatio", [](FARPROC p) { return Call<I>(p, 5); }, 0,
                   {"TV_CompressRatio"}},
        ExportCall{"ConnectChannels", "TV_ConnectChannels", [](FARPROC p) { return Call<II>(p, 1, 2); },
                   0, {"TV_ConnectChannels:1 2"}},
        ExportCall{"ConnectTo", "TV_ConnectTo", [](FARPROC p) { return Call<II>(p, 1, 2); }, 0,
                   {"TV_ConnectTo :1 2"}},
        ExportCall{"Disconnect", "TV_Disconnect", [](FARPROC p) { return Call<I>(p, 3); }, 0,
                   {"TV_Disconnect :3 "}},
        ExportCall{"DisconnectChannels", "TV_DisconnectChannels",
                   [](FARPROC p) { return Call<II>(p, -1, 7); }, 0, {"TV_DisconnectChannels :-1 7"}},
        ExportCall{"FlushDTMF", "TV_FlushDTMF", [](FARPROC p) { return Call<I>(p, 0); }, 0, {"TV_FlushDTMF"}},
        ExportCall{"GetDTMFCharOnEmptyQueue", "TV_GetDTMFChar", [](FARPROC p) { return Call<I>(p, 0); },
                   -1, {"TV_GetDTMFChar"}},
        ExportCall{"HangUpCtrl", "TV_HangUpCtrl", [](FARPROC p) { return Call<I>(p, 0); }, 0,
                   {"TV_HangUpCtrl"}},
        ExportCall{"OffHookCtrl", "TV_OffHookCtrl", [](FARPROC p) { return Call<I>(p, 0); }, 0,
                   {"TV_OffHookCtrl"}},
        ExportCall{"StartDial", "TV_StartDial", [](FARPROC p) { return Call<IS>(p, 0, "123"); }, 0,
                   {"TV_StartDial:123"}},
        ExportCall{"StartDialNullDigits", "TV_StartDial",
                   [](FARPROC p) { return Call<IS>(p, 0, static_cast<const char *>(nullptr)); }, 0,
                   {"TV_StartDial:(null)"}},
        ExportCall{"GetDLLVersion", "TV_GetDLLVersion", [](FARPROC p) { return Call<B>(p, g_szOut); }, 0,
                   {"TV_GetDLLVersion"}},
        ExportCall{"GetDLLVersionNullBuffer", "TV_GetDLLVersion",
                   [](FARPROC p) { return Call<B>(p, static_cast<char *>(nullptr)); }, 0, {"TV_GetDLLVersion"}},
        ExportCall{"StartMonitor", "CT_StartMonitor",
                   [](FARPROC p) { return Call<W>(p, static_cast<HWND>(nullptr)); }, 1, {"CT_StartMonitor"}},
        ExportCall{"StopMonitor", "_CT_StopMonitor@0", [](FARPROC p) { return Call<V>(p); }, 0,
                   {"CT_StopMonitor"}},
        ExportCall{"Flash", "CT_Flash", [](FARPROC p) { return Call<V>(p); }, 1, {"CT_Flash"}},
        ExportCall{"BellOn", "CT_Bell", [](FARPROC p) { return Call<I>(p, 1); }, 1, {"CT_Bell:Open"}},
        ExportCall{"Bell256IsOff", "CT_Bell", [](FARPROC p) { return Call<I>(p, 256); }, 1,
                   {"CT_Bell:Close"}},
        ExportCall{"Bell0x1FFIsOn", "CT_Bell", [](FARPROC p) { return Call<I>(p, 0x1FF); }, 1,
                   {"CT_Bell:Open"}},
        ExportCall{"KeyboardOff", "CT_Keyboard", [](FARPROC p) { return Call<I>(p, 0); }, 1,
                   {"CT_Keyboard:Close"}},
        ExportCall{"MicOn", "CT_Mic", [](FARPROC p) { return Call<I>(p, 1); }, 1, {"CT_Mic:Open"}},
        ExportCall{"SpkOff", "CT_Spk", [](FARPROC p) { return Call<I>(p, 0); }, 1, {"CT_Spk:Close"}},
        ExportCall{"RingOn", "_CT_RingOn@0", [](FARPROC p) { return Call<V>(p); }, 1,
                   {"CT_RingOn ", "CT_Bell:Open"}},
        ExportCall{"RingOff", "_CT_RingOff@0", [](FARPROC p) { return Call<V>(p); }, 1,
                   {"CT_RingOff ", "CT_Bell:Close"}},
        ExportCall{"MicMute", "_CT_MicMute@4", [](FARPROC p) { return Call<I>(p, 1); }, 1,
                   {"CT_MicMute", "CT_Mic:Open"}},
        ExportCall{"EarMute", "_CT_EarMute@4", [](FARPROC p) { return Call<I>(p, 0); }, 1,
                   {"CT_EarMute", "CT_Spk:Close"}},
        ExportCall{"KeyLock256IsOff", "_CT_KeyLock@4", [](FARPROC p) { return Call<I>(p, 256); }, 1,
                   {"CT_KeyLock", "CT_Keyboard:Close"}},
        ExportCall{"SendDTMF", "_CT_SendDTMF@4", [](FARPROC p) { return Call<S>(p, "12#"); }, 1,
                   {"CT_SendDTMF:12#"}},
        ExportCall{"SendDTMFNull", "_CT_SendDTMF@4",
                   [](FARPROC p) { return Call<S>(p, static_cast<const char *>(nullptr)); }, 1,
                   {"CT_SendDTMF:(null)"}},
        ExportCall{"GetANI", "CT_GetANI", [](FARPROC p) { return Call<B>(p, g_szOut); }, 0, {"CT_GetANI "}},
        ExportCall{"GetANINullBuffer", "CT_GetANI",
                   [](FARPROC p) { return Call<B>(p, static_cast<char *>(nullptr)); }, 0, {"CT_GetANI "}},
        ExportCall{"GetKeys", "CT_GetKeys", [](FARPROC p) { return Call<B>(p, g_szOut); }, 1, {"CT_GetKeys"}},
        ExportCall{"GetKeysNullBuffer", "CT_GetKeys",
                   [](FARPROC p) { return Call<B>(p, static_cast<char *>(nullptr)); }, 1, {"CT_GetKeys"}},
        ExportCall{"GetDTMFStrOnEmptyQueue", "CT_GetDTMFStr", [](FARPROC p) { return Call<B>(p, g_szOut); },
                   0, {"CT_GetDTMF"}},
        ExportCall{"GetDTMFStrNullBuffer", "CT_GetDTMFStr",
                   [](FARPROC p) { return Call<B>(p, static_cast<char *>(nullptr)); }, 0, {"CT_GetDTMF"}},
        ExportCall{"SetStopIO", "CT_SetStopIO", [](FARPROC p) { return Call<I>(p, '#'); }, 0,
                   {"CT_SetStopIO"}},
        ExportCall{"GetErrorDesc", "?CT_GetErrorDesc@@YGHPAD@Z", [](FARPROC p) { return Call<B>(p, g_szOut); },
                   0, {"CT_GetErrorDesc"}},
        ExportCall{"GetStatus", "?CT_GetStatus@@YGHXZ", [](FARPROC p) { return Call<V>(p); }, 0,
                   {"CT_GetStatus"}},
        ExportCall{"PlayFileRestWithoutPlayback", "TV_PlayFileRest", [](FARPROC p) { return Call<I>(p, 0); }, 0,
                   {"TV_PlayFileRest"}},
        ExportCall{"RecordFileRestWithoutRecording", "TV_RecordFileRest",
                   [](FARPROC p) { return Call<I>(p, 0); }, 0, {"TV_RecordFileRest"}}),
    [](const ::testing::TestParamInfo<ExportCall> &info) { return info.param.szCase; });
// clang-format on

TEST_F(LoadedPlugin, OutputBuffersGetExactlyTheirBytes) {
    char acBuffer[40];
    memset(acBuffer, 'x', sizeof acBuffer);
    EXPECT_EQ(Bind<B>("TV_GetDLLVersion")(acBuffer), 0);
    EXPECT_EQ(std::string(acBuffer, 10), std::string("20060601\0x", 10))
        << "the version and its NUL, 9 bytes, nothing beyond";

    for (const char *szExport : {"CT_GetDTMFStr", "CT_GetKeys", "?CT_GetErrorDesc@@YGHPAD@Z"}) {
        memset(acBuffer, 'x', sizeof acBuffer);
        Bind<B>(szExport)(acBuffer);
        EXPECT_EQ(std::string(acBuffer, sizeof acBuffer), std::string(sizeof acBuffer, 'x'))
            << szExport << " must leave the buffer untouched when it has nothing to give";
    }
    memset(acBuffer, 'x', sizeof acBuffer);
    Bind<B>("CT_GetANI")(acBuffer);
    EXPECT_EQ(acBuffer[0], '\0') << "no caller number yet: an empty string";
}

TEST_F(LoadedPlugin, StartDialPauses300msUnlessTheNumberIsRefused) {
    auto pfnStartDial = Bind<IS>("TV_StartDial");
    CStopwatch sinceStart;
    EXPECT_EQ(pfnStartDial(0, ""), 0);
    DWORD dwElapsed = sinceStart.ElapsedMs();
    EXPECT_GE(dwElapsed, 280u) << "an empty number still goes off hook, pauses, then dials";
    EXPECT_LT(dwElapsed, 1000u);

    sinceStart.Restart();
    EXPECT_EQ(pfnStartDial(0, D_strTooLong.c_str()), 0);
    EXPECT_LT(sinceStart.ElapsedMs(), 150u) << "a 27-digit number is refused at once";
    EXPECT_EQ(HostMessages(), (std::vector<std::string>{"TV_StartDial:", "TV_StartDial:" + D_strTooLong}));
}

TEST_F(LoadedPlugin, NoHandsetNoticesReachTheWindowAlsoAfterStopMonitor) {
    HWND hWnd = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(hWnd, nullptr);
    EXPECT_EQ(Bind<W>("CT_StartMonitor")(hWnd), 1);
    EXPECT_EQ(Bind<V>("_CT_StopMonitor@0")(), 0);
    // A search with no handset ends every 2.2 s at most.
    MSG msg = {};
    bool bNoticed = false;
    CStopwatch sinceStart;
    while (!bNoticed && sinceStart.ElapsedMs() < 3000) {
        if (PeekMessageA(&msg, hWnd, BRAVIK32_MSG_NO_HANDSET, BRAVIK32_MSG_NO_HANDSET, PM_REMOVE))
            bNoticed = true;
        else
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_POSTMESSAGE);
    }
    EXPECT_TRUE(bNoticed) << "message 1134 (no handset) did not arrive within 3 s";
    EXPECT_EQ(msg.wParam, 0u);
    EXPECT_EQ(msg.lParam, 0);
    Bind<W>("CT_StartMonitor")(nullptr);
    DestroyWindow(hWnd);
}

// ---------------------------------------------------------- load and unload

// Once running, the link thread sees the stop at once and ends with its own
// result (1); waiting for its handle under the loader lock, as a plain stop
// does, always timed out and ended it by force (exit code 0). Unloaded at
// once, the thread is still waiting in the loader to start: it has run none
// of our code, is let go and exits as soon as the unload has freed the
// loader lock (ended inside that wait, it left a later unload hanging).
// 50 ms after the load it is in its first pause, or on a busy machine still
// in the loader; once its search has written its lines it surely runs.
TEST(PluginLifecycle, LoadUseUnloadSeveralTimesLeavesNoThreadAndEndsTheLog) {
    RemoveLogEntries();
    struct UnloadMoment {
        DWORD dwAfterLoadMs;
        bool bAfterFirstSearch;
    };
    const UnloadMoment aMoments[] = {{0, false}, {50, false}, {0, true}};
    const int nCycles = 3;
    for (int nCycle = 0; nCycle < nCycles; ++nCycle) {
        const UnloadMoment moment = aMoments[nCycle];
        const std::set<DWORD> threadsBefore = ThreadsOfThisProcess();
        const size_t nLinesBefore = LogLineCount();
        HMODULE hPlugin = LoadLibraryA(D_szPlugin);
        ASSERT_NE(hPlugin, nullptr);
        EXPECT_EQ(As<V>(GetProcAddress(hPlugin, "TV_Initialize"))(), 0) << "right after load no search has run yet";
        EXPECT_EQ(As<V>(GetProcAddress(hPlugin, "CT_Flash"))(), 1);
        std::vector<HANDLE> pluginThreads = OpenThreadsStartedSince(threadsBefore);
        EXPECT_EQ(pluginThreads.size(), 1u) << "the plug-in runs one thread of its own: the link";
        Sleep(moment.dwAfterLoadMs);
        CStopwatch sinceSearchStart;
        while (moment.bAfterFirstSearch && MessagesSince(nLinesBefore, false).empty()) {
            ASSERT_LT(sinceSearchStart.ElapsedMs(), 10000u) << "the link thread's search wrote no line in 10 s";
            Sleep(10);
        }

        CStopwatch sinceStart;
        EXPECT_TRUE(FreeLibrary(hPlugin));
        EXPECT_LT(sinceStart.ElapsedMs(), 1000u) << "unloading must not hang";
        EXPECT_EQ(GetModuleHandleA(D_szPlugin), nullptr);
        for (HANDLE hThread : pluginThreads) {
            EXPECT_EQ(WaitForSingleObject(hThread, 5000), WAIT_OBJECT_0) << "a thread outlived the plug-in";
            DWORD dwExitCode = 0;
            GetExitCodeThread(hThread, &dwExitCode);
            if (moment.bAfterFirstSearch) {
                EXPECT_EQ(dwExitCode, 1u) << "the link thread must end by itself on the stop request; "
                                          << "unloaded in " << sinceStart.ElapsedMs() << " ms";
            }
            CloseHandle(hThread);
        }
        std::vector<std::string> messages = HostMessagesSince(0);
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages.back(), "HalvexV4 BRAVIK32.dll Log Exited") << "cycle " << nCycle;
    }
    std::vector<std::string> messages = HostMessagesSince(0);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "HalvexV4 BRAVIK32.dll Log Started"), nCycles)
        << "each load continues the same file with its own first line";
    ASSERT_EQ(LogFiles().size(), 1u);
    RemoveLogEntries();
}

// Each load continues the log it finds and counts that file's lines first,
// on the host's thread. Counted through a C++ stream, that made the thread
// runtime keep a record of the host's thread (a thread handle and an event)
// that no unload could free: two handles more after every unload.
TEST(PluginLifecycle, RegressionEachUnloadLeftTwoHandlesOfTheHostThreadBehind) {
    RemoveLogEntries();
    auto loadSearchUnload = [] {
        const size_t nLinesBefore = LogLineCount();
        HMODULE hPlugin = LoadLibraryA(D_szPlugin);
        ASSERT_NE(hPlugin, nullptr);
        CStopwatch sinceStart;
        while (MessagesSince(nLinesBefore, false).empty()) {
            // Wide for an emulated 32-bit guest, where a search takes up to 20 s.
            ASSERT_LT(sinceStart.ElapsedMs(), 60000u) << "the link thread's search wrote no line in 60 s";
            Sleep(10);
        }
        ASSERT_TRUE(FreeLibrary(hPlugin));
    };
    loadSearchUnload();  // the log file to continue, and the system's one-time handles
    const int nHandlesBefore = HandlesOfThisProcess();
    const int nCycles = 4;
    for (int nCycle = 0; nCycle < nCycles; ++nCycle) loadSearchUnload();
    int nHandlesAfter = 0;
    // A thread of the last cycle may still be on its way out.
    SettledWithin(
        [&] {
            nHandlesAfter = HandlesOfThisProcess();
            return nHandlesAfter <= nHandlesBefore;
        },
        5000);
    EXPECT_LE(nHandlesAfter, nHandlesBefore) << nCycles << " loads and unloads";
    RemoveLogEntries();
}

}  // namespace
