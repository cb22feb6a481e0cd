// The host console's wave device listing over the emulated desks: every
// device by id with its reported name, and the one the plug-in would open.
#include "WaveDeviceCommand.h"
#include "audio_support.h"
#include "platform/wave_api.h"

namespace {

struct ListingCase {
    const char *pszName;
    void (*pfnLayOut)(CEmulatedWave &);
    std::vector<std::string> expected;  // in this order, among the lines
};
void PrintTo(const ListingCase &c, std::ostream *pOut) { *pOut << c.pszName; }

// clang-format off
const ListingCase D_ListingCases[] = {
    {"ExactNames", [](CEmulatedWave &sim) { sim.AddTypicalDevices(); },
     {"output 1 \"C-Media USB Headphone Set  \"  <- the handset", "the plug-in plays through output 1 (exact name)",
      "input 1 \"C-Media USB Headphone Set  \"  <- the handset", "the plug-in records from input 1 (exact name)"}},
    {"ChineseEndpointNames", [](CEmulatedWave &sim) { sim.AddEndpointDevices(ESimDeskLanguage::Chinese); },
     {"output 1 \"\xD1\xEF\xC9\xF9\xC6\xF7 (C-Media USB Headphone Se\"  <- the handset",
      "the plug-in plays through output 1 (endpoint name of Windows since Vista)",
      "input 1 \"\xC2\xF3\xBF\xCB\xB7\xE7 (C-Media USB Headphone Se\"  <- the handset",
      "the plug-in records from input 1 (endpoint name of Windows since Vista)"}},
    {"NoHandset",
     [](CEmulatedWave &sim) {
         sim.AddTypicalDevices();
         sim.UnplugHandset();
     },
     {"output 1 \"Digital Output (S/PDIF)\"", "no output has the handset's name: the plug-in plays through the default",
      "no input has the handset's name: the plug-in records from the default"}},
};
// clang-format on

class AudioConsoleTest : public AudioDeviceTest, public ::testing::WithParamInterface<ListingCase> {};

TEST_P(AudioConsoleTest, ListsTheDevicesAndTheOneThePlugInWouldOpen) {
    Sim().Reset();
    GetParam().pfnLayOut(Sim());
    std::vector<std::string> lines = DescribeWaveDevices(g_Wave);
    std::string strAll;
    for (const std::string &strLine : lines) strAll += strLine + "\n";
    size_t nPosition = 0;
    for (const std::string &strExpected : GetParam().expected) {
        size_t nFound = strAll.find(strExpected, nPosition);
        ASSERT_NE(nFound, std::string::npos) << "missing, in order: " << strExpected << "\nlisting:\n" << strAll;
        nPosition = nFound + strExpected.size();
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Desks, AudioConsoleTest, ::testing::ValuesIn(D_ListingCases),
                         [](const ::testing::TestParamInfo<ListingCase> &info) { return std::string(info.param.pszName); });
// clang-format on

}  // namespace
