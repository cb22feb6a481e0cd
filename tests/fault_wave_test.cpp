// The fault campaign over the wave API seam: every function of the wave
// table fails, with each error winmm really returns there, in each scenario
// that calls it (playback start, refill and stop, recording start, capture
// and stop). Each case checks that nothing crashes, that the step answers
// within its documented bound and writes its export's log line, and that
// once the fault is lifted the next playback and recording work end to end
// and every device, abandoned ones too, is closed in the end.
//
// Which functions a scenario calls is found by running it without a fault,
// so a new member of the wave table needs only its row of errors (the
// static_assert below insists on it). Every case prints its outcome as
// "MATRIX|function|scenario|error|outcome" for the campaign's matrix.
#include <cstdio>

#include "audio/FileJob.h"
#include "audio/WaveRetired.h"
#include "bravik32.h"
#include "fault/WaveFaults.h"
#include "file_audio_support.h"
#include "link_support.h"
#include "stopwatch.h"

namespace {

struct FunctionErrors {
    int nSlot;
    const char *pszName;
    std::vector<MMRESULT> errors;
};
void PrintTo(const FunctionErrors &row, std::ostream *pOut) { *pOut << row.pszName; }

#define TV_WAVE_ROW(Member, Errors) \
    FunctionErrors { TV_SEAM_SLOT(WAVE_API, Member), #Member, Errors }

// What winmm returns from each kind of function when it fails; the
// GetNumDevs functions fail by counting no device.
const std::vector<MMRESULT> D_NoDevices = {0};
const std::vector<MMRESULT> D_CapsErrors = {MMSYSERR_BADDEVICEID, MMSYSERR_NODRIVER, MMSYSERR_NOMEM};
const std::vector<MMRESULT> D_OpenErrors = {MMSYSERR_ALLOCATED, MMSYSERR_BADDEVICEID, MMSYSERR_NODRIVER, MMSYSERR_NOMEM,
                                            WAVERR_BADFORMAT};
const std::vector<MMRESULT> D_HandleErrors = {MMSYSERR_INVALHANDLE, MMSYSERR_NODRIVER, MMSYSERR_NOMEM};
const std::vector<MMRESULT> D_BusyErrors = {MMSYSERR_INVALHANDLE, MMSYSERR_NODRIVER, MMSYSERR_NOMEM,
                                            WAVERR_STILLPLAYING};
const std::vector<MMRESULT> D_QueueErrors = {MMSYSERR_INVALHANDLE, MMSYSERR_NODRIVER, MMSYSERR_NOMEM,
                                             WAVERR_UNPREPARED};

// clang-format off
const FunctionErrors D_Functions[] = {
    TV_WAVE_ROW(waveInGetNumDevs, D_NoDevices),        TV_WAVE_ROW(waveInGetDevCapsA, D_CapsErrors),
    TV_WAVE_ROW(waveInOpen, D_OpenErrors),             TV_WAVE_ROW(waveInPrepareHeader, D_HandleErrors),
    TV_WAVE_ROW(waveInUnprepareHeader, D_BusyErrors),  TV_WAVE_ROW(waveInAddBuffer, D_QueueErrors),
    TV_WAVE_ROW(waveInStart, D_HandleErrors),          TV_WAVE_ROW(waveInReset, D_HandleErrors),
    TV_WAVE_ROW(waveInClose, D_BusyErrors),            TV_WAVE_ROW(waveOutGetNumDevs, D_NoDevices),
    TV_WAVE_ROW(waveOutGetDevCapsA, D_CapsErrors),     TV_WAVE_ROW(waveOutOpen, D_OpenErrors),
    TV_WAVE_ROW(waveOutPrepareHeader, D_HandleErrors), TV_WAVE_ROW(waveOutUnprepareHeader, D_BusyErrors),
    TV_WAVE_ROW(waveOutWrite, D_QueueErrors),          TV_WAVE_ROW(waveOutReset, D_HandleErrors),
    TV_WAVE_ROW(waveOutClose, D_BusyErrors),
};
// clang-format on
static_assert(sizeof(D_Functions) / sizeof(D_Functions[0]) == sizeof(WAVE_API) / sizeof(void *),
              "every function of the wave table has its row of errors");

std::string ErrorName(MMRESULT nError) {
    switch (nError) {
    case 0: return "no devices";
    case MMSYSERR_BADDEVICEID: return "BADDEVICEID";
    case MMSYSERR_ALLOCATED: return "ALLOCATED";
    case MMSYSERR_INVALHANDLE: return "INVALHANDLE";
    case MMSYSERR_NODRIVER: return "NODRIVER";
    case MMSYSERR_NOMEM: return "NOMEM";
    case WAVERR_BADFORMAT: return "BADFORMAT";
    case WAVERR_STILLPLAYING: return "STILLPLAYING";
    case WAVERR_UNPREPARED: return "UNPREPARED";
    default: return std::to_string(nError);
    }
}

// Room for a busy machine on top of a documented bound.
const DWORD D_dwMargin = 1000;
const DWORD D_dwSettleTimeout = 3000;

class FaultWaveTest;

struct Scenario {
    const char *pszName;
    void (FaultWaveTest::*pfnPrepare)();      // runs without the fault
    std::string (FaultWaveTest::*pfnStep)();  // runs with it; the outcome
    DWORD dwBound;                            // the step's documented wait
    const wchar_t *pszLogLine;                // how its export's line starts
};
void PrintTo(const Scenario *pScenario, std::ostream *pOut) { *pOut << pScenario->pszName; }

class FaultWaveTest : public FileAudioTest,
                      public ::testing::WithParamInterface<std::tuple<const Scenario *, FunctionErrors>> {
public:
    void PreparePrompt() { m_strPrompt = WritePrompt(CountingSamples(200000)); }
    void PreparePlayback() {
        PreparePrompt();
        ASSERT_EQ(StartCountedPlayback(m_strPrompt), 0);
    }
    void PrepareRunningPlayback() {
        PreparePlayback();
        PlayOneBlock();
    }
    void PreparePath() { m_strRecording = TestTempPath(); }
    void PrepareRecording() {
        PreparePath();
        ASSERT_EQ(StartRecordFile(m_strRecording.c_str()), 0);
    }
    void PrepareRunningRecording() {
        PrepareRecording();
        CaptureBuffers(1);
    }

    std::string StartPlayback() {
        std::string strResult = "start " + std::to_string(TV_StartPlayFile(0, m_strPrompt.c_str(), 0, 0));
        return strResult + (IsPlayingFile() ? ", job stays" : ", job ended") + Where(g_WaveOut.m_nDevice);
    }
    std::string Refill() {
        LONG nBefore = s_nPlayerReturns;
        Sim().PlayOutputBlocks(1);
        ExpectWithin([nBefore] { return s_nPlayerReturns > nBefore; }, D_dwMargin, "the player's refill");
        if (!IsPlayingFile()) return "playback ended";
        return "plays on with " + std::to_string(g_WaveOut.m_nHeld) + " blocks queued";
    }
    std::string StopPlayback() {
        TV_StopPlayFile(0);
        ExpectWithin([] { return !g_WaveOut.m_bOpen; }, D_dwMargin, "the output closed or abandoned");
        return "stopped";
    }
    std::string StartRecording() {
        std::string strResult = "start " + std::to_string(TV_StartRecordFile(0, m_strRecording.c_str(), 0, 0));
        return strResult + (IsRecordingFile() ? ", job stays" : ", no job") + Where(g_WaveIn.m_nDevice);
    }
    std::string Capture() {
        Sim().CaptureInput(D_nRecordBuf);
        ExpectWithin([this] { return Sim().QueuedBlocks(ESimWaveDirection::Input) == g_WaveIn.m_nHeld; }, D_dwMargin,
                     "the recorder's handling of the buffer");
        return "records on with " + std::to_string(g_WaveIn.m_nHeld) + " buffers";
    }
    std::string StopRecording() {
        TV_StopRecordFile(0);
        return "stopped";
    }

protected:
    static std::string Where(UINT nDevice) { return nDevice == WAVE_MAPPER ? " (on the default device)" : ""; }
    static void SetUpTestSuite() { CLogLines::Get(); }
    void SetUp() override {
        FileAudioTest::SetUp();
        InstallWaveFaults(m_plan);
    }
    void TearDown() override {
        m_plan.Reset();
        UninstallWaveFaults();
        FileAudioTest::TearDown();
    }
    const Scenario &Scene() const { return *std::get<0>(GetParam()); }
    const FunctionErrors &Function() const { return std::get<1>(GetParam()); }

    // The scenario run once without a fault: does its step call the function?
    bool StepCallsTheFunction();
    // Whatever the step left running ends, and what a device still holds
    // is played or captured out of it, so that it can give everything back.
    void Settle();
    void RunWithFault(MMRESULT nError);

    CFaultPlan m_plan;
    std::string m_strPrompt;
    std::string m_strRecording;
};

bool FaultWaveTest::StepCallsTheFunction() {
    (this->*Scene().pfnPrepare)();
    int nBefore = m_plan.Calls(Function().nSlot);
    (this->*Scene().pfnStep)();
    bool bCalled = m_plan.Calls(Function().nSlot) > nBefore;
    Settle();
    return bCalled;
}

void FaultWaveTest::Settle() {
    StopPlayFile(CDeadline(CFileJob::D_dwLockBoundMs));
    StopRecordFile(CDeadline(CFileJob::D_dwLockBoundMs));
    ExpectWithin([] { return !g_WaveOut.m_bOpen && !g_WaveIn.m_bOpen; }, D_dwSettleTimeout, "both directions closed");
    ExpectWithin(
        [this] {
            if (Sim().QueuedBlocks(ESimWaveDirection::Output) + Sim().QueuedBlocks(ESimWaveDirection::Input) == 0)
                return true;
            Sim().PlayOutputBlocks(4);
            Sim().CaptureInput(4 * D_nRecordBuf);
            return false;
        },
        D_dwSettleTimeout, "abandoned devices giving back what they held");
}

void FaultWaveTest::RunWithFault(MMRESULT nError) {
    SCOPED_TRACE(ErrorName(nError));
    // As after the load: the handset not yet found.
    g_WaveOut.m_nDevice = g_WaveIn.m_nDevice = WAVE_MAPPER;
    (this->*Scene().pfnPrepare)();
    int nAbandoned = WaveDevicesAbandoned();
    CLogLines::Get().Mark();
    m_plan.FailFrom(Function().nSlot, nError);
    CStopwatch sinceStart;
    std::string strOutcome = (this->*Scene().pfnStep)();
    DWORD dwElapsed = sinceStart.ElapsedMs();
    m_plan.Lift();
    EXPECT_LT(dwElapsed, Scene().dwBound + D_dwMargin) << "the step waited past its bound";
    if (Scene().pszLogLine) {
        bool bLogged = false;
        for (const std::wstring &line : CLogLines::Get().Since()) bLogged |= line.rfind(Scene().pszLogLine, 0) == 0;
        EXPECT_TRUE(bLogged) << "the export's log line is missing";
    }
    if (WaveDevicesAbandoned() > nAbandoned) strOutcome += "; device abandoned";
    std::printf("MATRIX|%s|%s|%s|%s\n", Function().pszName, Scene().pszName, ErrorName(nError).c_str(),
                strOutcome.c_str());
    Settle();
    ExpectPlaybackAndRecordingWork();
    ExpectWithin(
        [this] {
            return Sim().OpenStreams(ESimWaveDirection::Output) + Sim().OpenStreams(ESimWaveDirection::Input) == 0 &&
                   RetiredWaveDevices() == 0;
        },
        D_dwSettleTimeout, "every device closed in the end, abandoned ones too");
    EXPECT_EQ(Sim().OpenStreams(ESimWaveDirection::Output), 0) << "outputs left open";
    EXPECT_EQ(Sim().OpenStreams(ESimWaveDirection::Input), 0) << "inputs left open";
    EXPECT_EQ(RetiredWaveDevices(), 0) << "abandoned devices still awaited";
}

TEST_P(FaultWaveTest, FailsWithinItsBoundAndRecoversOnceLifted) {
    if (!StepCallsTheFunction()) GTEST_SKIP() << "the scenario does not call " << Function().pszName;
    for (MMRESULT nError : Function().errors) {
        RunWithFault(nError);
        if (HasFailure()) break;
    }
}

// clang-format off
const Scenario D_Scenarios[] = {
    {"PlaybackStart", &FaultWaveTest::PreparePrompt, &FaultWaveTest::StartPlayback, D_dwCloseWaitTimeout,
     L"TV_StartPlayFile "},
    {"Refill", &FaultWaveTest::PreparePlayback, &FaultWaveTest::Refill, 0, nullptr},
    {"PlaybackStop", &FaultWaveTest::PrepareRunningPlayback, &FaultWaveTest::StopPlayback, 0,
     L"TV_StopPlayFile "},
    {"RecordingStart", &FaultWaveTest::PreparePath, &FaultWaveTest::StartRecording, D_dwCloseWaitTimeout,
     L"TV_StartRecordFile "},
    {"Capture", &FaultWaveTest::PrepareRecording, &FaultWaveTest::Capture, 0, nullptr},
    {"RecordingStop", &FaultWaveTest::PrepareRunningRecording, &FaultWaveTest::StopRecording, D_dwRecordStopTimeout,
     L"TV_StopRecordFile "},
};
// clang-format on

std::string CaseName(const ::testing::TestParamInfo<std::tuple<const Scenario *, FunctionErrors>> &info) {
    return std::string(std::get<0>(info.param)->pszName) + "_" + std::get<1>(info.param).pszName;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(WaveApi, FaultWaveTest,
                         ::testing::Combine(::testing::Values(&D_Scenarios[0], &D_Scenarios[1], &D_Scenarios[2],
                                                              &D_Scenarios[3], &D_Scenarios[4], &D_Scenarios[5]),
                                            ::testing::ValuesIn(D_Functions)),
                         CaseName);
// clang-format on

}  // namespace
