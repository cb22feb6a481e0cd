// Main of the SIP black-box suites: every test runs in a process of its own.
//
// Once TV_Initialize has handed its callback to the SIP library the plug-in
// stays mapped, with its agent, until the process ends; a test that needs a
// plug-in fresh from its load (library not started, log never written) needs
// a fresh process. The first pass runs the suite with the fixture only
// noting which tests the command line selects (filter, shuffle and repeat
// flags apply as usual); then each of them runs alone in a child, which
// inherits the output and reports as a one-test suite would. Run the
// executable like any other GoogleTest program.
#include <gtest/gtest.h>
#include <windows.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "sip_fixture.h"

namespace {
const char D_szChildVariable[] = "SIP_TEST_ISOLATED";
// One test's bound, its own waits included.
const DWORD D_dwChildBoundMs = 60000;

std::vector<std::string> g_selected;

bool IsChild() { return GetEnvironmentVariableA(D_szChildVariable, nullptr, 0) != 0; }

// Once each, however often a repeat flag runs the pass over it.
void NoteSelected(const std::string &strName) {
    for (const std::string &strSeen : g_selected)
        if (strSeen == strName) return;
    g_selected.push_back(strName);
}

// A child's report: its failures only, as the brief printer words them; the
// parent sums up.
class CFailurePrinter : public testing::EmptyTestEventListener {
    void OnTestPartResult(const testing::TestPartResult &result) override {
        if (!result.failed()) return;
        printf("%s:%d: Failure\n%s\n", result.file_name() ? result.file_name() : "?", result.line_number(),
               result.message());
        fflush(stdout);
    }
    void OnTestEnd(const testing::TestInfo &info) override {
        if (info.result()->Failed()) printf("[  FAILED  ] %s.%s\n", info.test_suite_name(), info.name());
        fflush(stdout);
    }
};

// Runs the command line this process got, narrowed to one test; true when
// the child passed. The last --gtest_filter given wins.
bool RunInOwnProcess(const std::string &strTest) {
    std::string strCommand = std::string(GetCommandLineA()) + " --gtest_filter=" + strTest;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &strCommand[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        printf("[  FAILED  ] %s: no process of its own (error %lu)\n", strTest.c_str(),
               static_cast<unsigned long>(GetLastError()));
        return false;
    }
    DWORD dwExit = 1;
    if (WaitForSingleObject(process.hProcess, D_dwChildBoundMs) != WAIT_OBJECT_0) {
        printf("[  FAILED  ] %s: still running after %lu ms, ended\n", strTest.c_str(),
               static_cast<unsigned long>(D_dwChildBoundMs));
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, D_dwChildBoundMs);
    } else {
        GetExitCodeProcess(process.hProcess, &dwExit);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (dwExit != 0)
        printf("[  FAILED  ] %s (in its own process, exit %lu)\n", strTest.c_str(), static_cast<unsigned long>(dwExit));
    return dwExit == 0;
}
}  // namespace

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
    // The selection pass prints nothing, a child only its failures.
    testing::TestEventListeners &listeners = testing::UnitTest::GetInstance()->listeners();
    delete listeners.Release(listeners.default_result_printer());
    if (IsChild()) {
        listeners.Append(new CFailurePrinter);
        return RUN_ALL_TESTS();
    }
    CSipPluginTest::SetSelectionPass(&NoteSelected);
    int nSelection = RUN_ALL_TESTS();
    if (nSelection != 0) return nSelection;

    SetEnvironmentVariableA(D_szChildVariable, "1");
    size_t nFailed = 0;
    for (const std::string &strTest : g_selected)
        if (!RunInOwnProcess(strTest)) ++nFailed;
    printf("[==========] %zu tests, each in its own process: %zu passed, %zu failed.\n", g_selected.size(),
           g_selected.size() - nFailed, nFailed);
    return nFailed == 0 ? 0 : 1;
}
