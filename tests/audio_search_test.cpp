// Finding the handset among the wave devices by its exact name or, on
// Windows since Vista, by its endpoint name; opens the devices refuse.
#include "audio/HandsetWaveName.h"
#include "audio_support.h"
#include "platform/wave_api.h"

namespace {

const char *const D_pszHandset = CEmulatedWave::D_szHandsetName;

// ------------------------------------------------ names as szPname holds them

struct NameCase {
    const char *pszCase;
    std::string strReported;  // up to 32 bytes, GBK where Chinese
    EWaveNameMatch eMatch;
};
void PrintTo(const NameCase &c, std::ostream *pOut) { *pOut << c.pszCase; }

const std::string D_strSpeakersGbk = "\xD1\xEF\xC9\xF9\xC6\xF7";    // 扬声器
const std::string D_strMicrophoneGbk = "\xC2\xF3\xBF\xCB\xB7\xE7";  // 麦克风

// clang-format off
const NameCase D_NameCases[] = {
    {"ExactName", "C-Media USB Headphone Set  ", EWaveNameMatch::Exact},
    {"BareNameWithoutTheBlanks", "C-Media USB Headphone Set", EWaveNameMatch::None},
    {"Speakers", "Speakers (C-Media USB Headphone", EWaveNameMatch::Endpoint},
    {"Microphone", "Microphone (C-Media USB Headpho", EWaveNameMatch::Endpoint},
    {"SpeakersNumbered", "Speakers (2- C-Media USB Headph", EWaveNameMatch::Endpoint},
    {"MicrophoneNumbered", "Microphone (2- C-Media USB Head", EWaveNameMatch::Endpoint},
    {"NoBlankBeforeTheParenthesis", "Speakers(C-Media USB Headphone ", EWaveNameMatch::Endpoint},
    {"WholeWithItsParenthesis", "Mic (C-Media USB Headphone Set)", EWaveNameMatch::Endpoint},
    {"WholeWithBlanksFilling32Bytes", "Mic (C-Media USB Headphone Set  ", EWaveNameMatch::Endpoint},
    {"ChineseSpeakersFilling32Bytes", D_strSpeakersGbk + " (C-Media USB Headphone Se", EWaveNameMatch::Endpoint},
    {"ChineseMicrophoneNoBlank", D_strMicrophoneGbk + "(C-Media USB Headphone Set", EWaveNameMatch::Endpoint},
    {"ShortestProductPart", "Haut-parleurs (2- C-Media USB H", EWaveNameMatch::Endpoint},
    // Wine names a device "Out: " or "In: " and its ALSA name, cut to 31:
    // the endpoint form survives the cut, the exact name does not.
    {"WineOutputEndpoint", "Out: Headset (C-Media USB Headp", EWaveNameMatch::Endpoint},
    {"WineInputEndpoint", "In: Headset (C-Media USB Headph", EWaveNameMatch::Endpoint},
    {"WineCutExactName", "Out: C-Media USB Headphone Set ", EWaveNameMatch::None},
    {"ProductPartTooShort", "Haut-parleurs (12- C-Media USB ", EWaveNameMatch::None},
    {"OtherCMediaProduct", "Speakers (C-Media USB Audio Devi", EWaveNameMatch::None},
    {"OtherProductOfTheSameStart", "Speakers (C-Media USB Headset)", EWaveNameMatch::None},
    {"NoEndpointName", "(C-Media USB Headphone Set)", EWaveNameMatch::None},
    {"BlankEndpointName", "  (C-Media USB Headphone Set)", EWaveNameMatch::None},
    {"OtherCase", "Speakers (c-media usb headphone", EWaveNameMatch::None},
    {"TextAfterTheParenthesis", "Spk (C-Media USB Headphone Set)x", EWaveNameMatch::None},
    {"NumberWithoutItsDash", "Speakers (2 C-Media USB Headphon", EWaveNameMatch::None},
};
// clang-format on

class HandsetWaveNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(HandsetWaveNameTest, IsRecognisedOnlyInTheExactOrTheEndpointForm) {
    // As szPname: 32 bytes, terminated only when the name is shorter.
    char szPname[D_nWaveNameBytes];
    memset(szPname, 0, sizeof(szPname));
    ASSERT_LE(GetParam().strReported.size(), sizeof(szPname));
    memcpy(szPname, GetParam().strReported.data(), GetParam().strReported.size());
    EXPECT_EQ(MatchHandsetWaveName(szPname), GetParam().eMatch);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Names, HandsetWaveNameTest, ::testing::ValuesIn(D_NameCases),
                         [](const ::testing::TestParamInfo<NameCase> &info) { return std::string(info.param.pszCase); });
// clang-format on

// ---------------------------------------------------------- the device search

struct SearchCase {
    const char *pszName;
    std::vector<const char *> names;  // UTF-8, as the system names them
    UINT nDefault;
    UINT nStoredId;  // what the search leaves in the module's device id
    UINT nOpenedId;  // the device that is opened
    UINT nCodePage = 1252;
};

void PrintTo(const SearchCase &c, std::ostream *pOut) { *pOut << c.pszName; }

// clang-format off
const SearchCase D_SearchCases[] = {
    {"HandsetAmongOthers", {"Speakers (High Definition Audio Device)", D_pszHandset, "Other"}, 0, 1, 1},
    {"NameWithoutTheTrailingBlanksOpensTheDefault", {"Speakers", "C-Media USB Headphone Set"}, 0, WAVE_MAPPER, 0},
    {"NameInOtherCaseOpensTheDefault", {"c-media usb headphone set  ", "Speakers"}, 1, WAVE_MAPPER, 1},
    {"NameWithAThirdBlankOpensTheDefault", {"Speakers", "C-Media USB Headphone Set   "}, 0, WAVE_MAPPER, 0},
    {"TwoHandsetsTheLowerIdWins", {"Speakers", D_pszHandset, "Other", D_pszHandset}, 0, 1, 1},
    {"HandsetAtIdZero", {D_pszHandset, "Speakers"}, 1, 0, 0},
    {"EndpointName", {"Speakers (Realtek High Definition Audio)", "Speakers (C-Media USB Headphone Set)"}, 0, 1, 1},
    {"NumberedEndpointName", {"Speakers", "Speakers (3- C-Media USB Headphone Set)"}, 0, 1, 1},
    {"ExactNameWinsOverAnEarlierEndpointName", {"Speakers (C-Media USB Headphone Set)", "Other", D_pszHandset}, 0, 2, 2},
    {"FirstOfTwoEndpointNames", {"Other", "Speakers (2- C-Media USB Headphone Set)",
                                 "Speakers (C-Media USB Headphone Set)"}, 0, 1, 1},
    {"ChineseEndpointNameInGbk", {u8"扬声器 (Realtek High Definition Audio)", u8"扬声器 (C-Media USB Headphone Set)"},
     0, 1, 1, 936},
};
// clang-format on

class AudioSearchTest : public AudioDeviceTest,
                        public ::testing::WithParamInterface<std::tuple<const WaveDirectionOps *, SearchCase>> {};

TEST_P(AudioSearchTest, OpenFindsTheHandsetByItsExactName) {
    const WaveDirectionOps &ops = *std::get<0>(GetParam());
    const SearchCase &c = std::get<1>(GetParam());
    Sim().Reset();
    Sim().SetAnsiCodePage(c.nCodePage);
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

// clang-format off
INSTANTIATE_TEST_SUITE_P(Names, AudioSearchTest,
                         ::testing::Combine(::testing::Values(&D_OutputOps, &D_InputOps),
                                            ::testing::ValuesIn(D_SearchCases)),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param)->pszName) + "_" +
                                    std::get<1>(info.param).pszName;
                         });
// clang-format on

// The typical desk under Windows since Vista, English and Chinese, and the
// desk as Wine lists it: both directions of the handset found at id 1 by
// their endpoint names.
struct EndpointDesk {
    const char *pszName;
    void (*pfnAdd)();
    bool bFillsAllBytes;  // GBK fills all 32 bytes
};

class EndpointDeskTest : public AudioDeviceTest, public ::testing::WithParamInterface<EndpointDesk> {};

TEST_P(EndpointDeskTest, BothDirectionsOfTheHandsetAreFound) {
    Sim().Reset();
    GetParam().pfnAdd();
    Sim().SetClock(ESimWaveClock::OnDemand);
    WAVEOUTCAPSA caps = {};
    ASSERT_EQ(g_Wave.waveOutGetDevCapsA(1, &caps, sizeof(caps)), MMSYSERR_NOERROR);
    EXPECT_EQ(MatchHandsetWaveName(caps.szPname), EWaveNameMatch::Endpoint)
        << std::string(caps.szPname, strnlen(caps.szPname, sizeof(caps.szPname)));
    if (GetParam().bFillsAllBytes) {
        EXPECT_NE(caps.szPname[31], '\0') << "GBK fills all 32 bytes";
    }
    ASSERT_EQ(OpenWaveOut(), MMSYSERR_NOERROR);
    ASSERT_EQ(OpenWaveIn(), MMSYSERR_NOERROR);
    EXPECT_EQ(g_WaveOut.m_nDevice, 1u);
    EXPECT_EQ(g_WaveIn.m_nDevice, 1u);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Desks, EndpointDeskTest,
                         ::testing::Values(
                             EndpointDesk{"English", [] { CEmulatedWave::Instance().AddEndpointDevices(ESimDeskLanguage::English); }, false},
                             EndpointDesk{"Chinese", [] { CEmulatedWave::Instance().AddEndpointDevices(ESimDeskLanguage::Chinese); }, true},
                             EndpointDesk{"Wine", [] { CEmulatedWave::Instance().AddWineDevices(); }, false}),
                         [](const ::testing::TestParamInfo<EndpointDesk> &info) {
                             return std::string(info.param.pszName);
                         });
// clang-format on

class AudioDirectionTest : public AudioDeviceTest, public ::testing::WithParamInterface<const WaveDirectionOps *> {};

TEST_P(AudioDirectionTest, AnIdFoundEarlierIsUsedAgainWhenNoDeviceMatches) {
    const WaveDirectionOps &ops = *GetParam();
    Sim().AddDevice(ops.eDirection, D_pszHandset);  // a second handset at id 3
    Sim().RenameDevice(ops.eDirection, 1, "Headset (Bluetooth Hands-Free)");
    ASSERT_EQ(ops.pfnOpen(), MMSYSERR_NOERROR);
    ASSERT_EQ(*ops.pnDevice, 3u);
    ops.pfnStop(CDeadline(D_dwWaveLockBoundMs));
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
    ops.pfnStop(CDeadline(D_dwWaveLockBoundMs));
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

// clang-format off
INSTANTIATE_TEST_SUITE_P(Directions, AudioDirectionTest, ::testing::Values(&D_OutputOps, &D_InputOps),
                         [](const auto &info) { return std::string(info.param->pszName); });
// clang-format on

}  // namespace
