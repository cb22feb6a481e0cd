// Host threads against the wave message thread: two host threads start and
// stop jobs while a third moves sound through the device, so refills, ends
// of file, recorded buffers, stops and starts meet in every order. Nothing
// may deadlock (a start stalled by the player's or recorder's own lock shows
// as a slow case and failed starts), and the device must end closed and
// clean.
#include <atomic>
#include <thread>

#include "audio/FileJob.h"
#include "file_audio_support.h"
#include "stopwatch.h"

namespace {

struct Direction {
    const char *pszName;
    ESimWaveDirection eDirection;
    int (*pfnStart)(const char *);
    int (*pfnStop)(const CDeadline &);
    void (*pfnMoveSound)();
    const std::atomic<BYTE> *pbOpen;
};
void PrintTo(const Direction &direction, std::ostream *pOut) { *pOut << direction.pszName; }

const int D_nRoundsPerThread = 100;
// The rounds take about 150 ms; every start stalled by a lock costs the open's
// 1 s wait for a close that cannot come.
const DWORD D_dwRoundsTimeout = 2500;

class FileThreadsTest : public FileAudioTest, public ::testing::WithParamInterface<Direction> {};

TEST_P(FileThreadsTest, StartsAndStopsFromTwoHostThreadsWhileSoundMoves) {
    const Direction &direction = GetParam();
    std::string strPath = WritePrompt(CountingSamples(3000));
    std::atomic<bool> bRunning{true};
    std::atomic<LONG> nStarted{0};
    std::thread device([&] {
        while (bRunning) direction.pfnMoveSound();
    });
    auto host = [&] {
        for (int i = 0; i < D_nRoundsPerThread; ++i) {
            if (direction.pfnStart(strPath.c_str()) == 0) ++nStarted;
            if (i % 3 == 0) direction.pfnStop(CDeadline(CFileJob::D_dwLockBoundMs));
        }
    };
    CStopwatch sinceStart;
    std::thread other(host);
    host();
    other.join();
    DWORD dwElapsed = sinceStart.ElapsedMs();
    bRunning = false;
    device.join();
    direction.pfnStop(CDeadline(CFileJob::D_dwLockBoundMs));

    EXPECT_LT(dwElapsed, D_dwRoundsTimeout) << "starts and stops stalled against the sound's handling";
    EXPECT_GT(nStarted, 0);
    const std::atomic<BYTE> *pbOpen = direction.pbOpen;
    ExpectWithin([pbOpen] { return !*pbOpen; }, 2000, "close notification after the last stop");
    EXPECT_EQ(Sim().PreparedAtClose(), 0) << "a block or buffer was still prepared when the device closed";
    EXPECT_EQ(Sim().LostNotifications(), 0);
    EXPECT_EQ(g_WaveOut.m_nHeld, 0);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Directions, FileThreadsTest,
    ::testing::Values(Direction{"Playback", ESimWaveDirection::Output, StartPlayFile, StopPlayFile,
                                [] { CEmulatedWave::Instance().PlayOutputBlocks(1); }, &g_WaveOut.m_bOpen},
                      Direction{"Recording", ESimWaveDirection::Input, StartRecordFile, StopRecordFile,
                                [] { CEmulatedWave::Instance().CaptureInput(D_nRecordBuf); }, &g_WaveIn.m_bOpen}),
    [](const ::testing::TestParamInfo<Direction> &info) { return std::string(info.param.pszName); });
// clang-format on

}  // namespace
