// The library's detach step, as a host that unloads the plug-in and goes on
// runs it, again and again: nothing may hang, and each cycle must leave the
// process with the threads and handles it had before.
#include <gtest/gtest.h>

#include "unload_cycles.h"

namespace {

struct UnloadCase {
    const char *szName;
    UnloadCycleOptions options;
};

void PrintTo(const UnloadCase &unload, std::ostream *pStream) { *pStream << unload.szName; }

class UnloadCycles : public ::testing::TestWithParam<UnloadCase> {};

TEST_P(UnloadCycles, LeaveNoThreadNoHandleAndNoDeviceOpen) {
    UnloadCycleOptions options = GetParam().options;
    options.uRandomStart = GetTickCount();
    const UnloadCycleReport report = RunUnloadCycles(options);
    printf("  %s (random start %u)\n", Describe(report).c_str(), options.uRandomStart);
    EXPECT_EQ("", report.strProblem) << Describe(report);
    EXPECT_EQ(options.nCycles, report.nCyclesRun);
    EXPECT_EQ(0, report.nThreadsLeftMax) << Describe(report);
    EXPECT_EQ(0, report.nHandlesLeftMax) << Describe(report);
}

INSTANTIATE_TEST_SUITE_P(
    Detach, UnloadCycles,
    ::testing::Values(UnloadCase{"AtRandomMomentsOfASearchOfThousandsOfDevices", {8, 3000, false, 0}},
                      UnloadCase{"DuringAPlaybackAndARecording", {6, 3, true, 0}}),
    [](const ::testing::TestParamInfo<UnloadCase> &info) { return std::string(info.param.szName); });

}  // namespace
