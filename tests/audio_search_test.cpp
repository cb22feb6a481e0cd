// Finding the handset among the wave devices, and opens the devices refuse.
#include "audio_support.h"

namespace {

const char *const D_pszHandset = CEmulatedWave::D_szHandsetName;

struct SearchCase {
    const char *pszName;
    std::vector<const char *> names;
    UINT nDefault;
    UINT nStoredId;  // what the search leaves in the module's device id
    UINT nOpenedId;  // the device that is opened
};

void PrintTo(const SearchCase &c, std::ostream *pOut) { *pOut << c.pszName; }

const SearchCase D_SearchCases[] = {
    {"HandsetAmongOthers", {"Speakers (High Definition Audio Device)", D_pszHandset, "Other"}, 0, 1, 1},
    {"NameWithoutTheTrailingBlanksOpensTheDefault", {"Speakers", "C-Media USB Headphone Set"}, 0, WAVE_MAPPER, 0},
    {"NameInOtherCaseOpensTheDefault", {"c-media usb headphone set  ", "Speakers"}, 1, WAVE_MAPPER, 1},
    {"NameWithAThirdBlankOpensTheDefault", {"Speakers", "C-Media USB Headphone Set   "}, 0, WAVE_MAPPER, 0},
    {"TwoHandsetsTheLowerIdWins", {"Speakers", D_pszHandset, "Other", D_pszHandset}, 0, 1, 1},
    {"HandsetAtIdZero", {D_pszHandset, "Speakers"}, 1, 0, 0},
};

class AudioSearchTest : public AudioDeviceTest,
                        public ::testing::WithParamInterface<std::tuple<const WaveDirectionOps *, SearchCase>> {};

TEST_P(AudioSearchTest, OpenFindsTheHandsetByItsExactName) {
    const WaveDirectionOps &ops = *std::get<0>(GetParam());
    const SearchCase &c = std::get<1>(GetParam());
    Sim().Reset();
    for (const char *pszName : c.names) Sim().AddDevice(ops.eDirection, pszName);
    Sim().SetDefaultDevice(ops.eDirection, c.nDefault);
    Sim().SetClock(ESimWaveClock::OnDemand);

    ASSERT_EQ(ops.pfnOpen(), MMSYSERR_NOERROR);
    std::vector<SimWaveOpen> opens = Sim().Opens();
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].nRequestedId, c.nStoredId) << "device id passed to the open";
    EXPECT_EQ(opens[0].nDeviceId, c.nOpenedId) << "device opened";
    EXPECT_EQ(*ops.pnDevice, c.nStoredId);
    // The one device format, and notifications as thread messages.
    EXPECT_EQ(opens[0].format.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(opens[0].format.nChannels, 1);
    EXPECT_EQ(opens[0].format.nSamplesPerSec, 8000u);
    EXPECT_EQ(opens[0].format.nAvgBytesPerSec, 16000u);
    EXPECT_EQ(opens[0].format.nBlockAlign, 2);
    EXPECT_EQ(opens[0].format.wBitsPerSample, 16);
    EXPECT_EQ(opens[0].format.cbSize, 0);
    EXPECT_EQ(opens[0].fdwOpen, static_cast<DWORD>(CALLBACK_THREAD));
    EXPECT_EQ(opens[0].dwCallback, static_cast<DWORD_PTR>(g_dwWaveThreadId));
}

INSTANTIATE_TEST_SUITE_P(Names, AudioSearchTest,
                         ::testing::Combine(::testing::Values(&D_OutputOps, &D_InputOps),
                                            ::testing::ValuesIn(D_SearchCases)),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param)->pszName) + "_" +
                                    std::get<1>(info.param).pszName;
                         });

class AudioDirectionTest : public AudioDeviceTest, public ::testing::WithParamInterface<const WaveDirectionOps *> {};

TEST_P(AudioDirectionTest, AnIdFoundEarlierIsUsedAgainWhenNoDeviceMatches) {
    const WaveDirectionOps &ops = *GetParam();
    Sim().AddDevice(ops.eDirection, D_pszHandset);  // a second handset at id 3
    Sim().RenameDevice(ops.eDirection, 1, "Headset (Bluetooth Hands-Free)");
    ASSERT_EQ(ops.pfnOpen(), MMSYSERR_NOERROR);
    ASSERT_EQ(*ops.pnDevice, 3u);
    ops.pfnStop();
    ExpectWithin([&] { return !*ops.pbOpen; }, 1000, "close notification");

    Sim().RenameDevice(ops.eDirection, 3, "Speakers (USB Audio)");
    ASSERT_EQ(ops.pfnOpen(), MMSYSERR_NOERROR);
    std::vector<SimWaveOpen> opens = Sim().Opens();
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[1].nRequestedId, 3u) << "the id found at the first open, whatever device holds it now";
}

TEST_P(AudioDirectionTest, RefusedOpenReturnsTheDevicesCodeAndLeavesTheDirectionClosed) {
    const WaveDirectionOps &ops = *GetParam();
    Sim().RefuseOpen(ops.eDirection, 1, MMSYSERR_ALLOCATED);
    EXPECT_EQ(ops.pfnOpen(), MMSYSERR_ALLOCATED);
    EXPECT_FALSE(*ops.pbOpen);
    EXPECT_EQ(*ops.pnDevice, 1u) << "the search result stays stored";
    EXPECT_NE(g_dwWaveThreadId, 0u) << "the wave message thread stays started";
    char cByte = 0;
    EXPECT_EQ(WriteWaveOut(&cByte, 1), -1);
    ops.pfnStop();
    EXPECT_EQ(Sim().Resets(ops.eDirection), 0) << "a stop of a closed direction does nothing";

    Sim().RefuseOpen(ops.eDirection, 1, MMSYSERR_NOERROR);
    EXPECT_EQ(ops.pfnOpen(), MMSYSERR_NOERROR);
    EXPECT_TRUE(*ops.pbOpen);
}

TEST_P(AudioDirectionTest, WithoutAnyDeviceTheOpenFailsLikeWine) {
    const WaveDirectionOps &ops = *GetParam();
    Sim().Reset();
    EXPECT_EQ(ops.pfnOpen(), MMSYSERR_BADDEVICEID);
    EXPECT_FALSE(*ops.pbOpen);
    EXPECT_EQ(*ops.pnDevice, WAVE_MAPPER);
}

TEST_P(AudioDirectionTest, SecondOpenWhileOpenChangesNothing) {
    const WaveDirectionOps &ops = *GetParam();
    ASSERT_EQ(ops.pfnOpen(), MMSYSERR_NOERROR);
    int nQueued = Sim().QueuedBlocks(ops.eDirection);
    EXPECT_EQ(ops.pfnOpen(), MMSYSERR_NOERROR);
    EXPECT_EQ(Sim().Opens().size(), 1u) << "no second device open";
    EXPECT_EQ(Sim().QueuedBlocks(ops.eDirection), nQueued) << "the running buffers continue";
}

INSTANTIATE_TEST_SUITE_P(Directions, AudioDirectionTest, ::testing::Values(&D_OutputOps, &D_InputOps),
                         [](const auto &info) { return std::string(info.param->pszName); });

}  // namespace
