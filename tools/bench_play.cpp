// File playback and recording through the emulated handset audio device.
//
// Playback: a 7 s prompt played at real time while another thread keeps the
// second core busy. A monitor samples the device's output queue every
// millisecond and counts the moments it ran empty before the last sample had
// been played (goal 0), and reports the longest wait for a refill against the
// 640 ms that the block still queued lasts.
//
// Recording: 60 s of input captured on demand, as fast as the recorder takes
// it, the stop coming while the last buffers are still on their way. Bytes in
// the file against bytes captured (goal: equal, and the same bytes), and the
// time taken against writing the same buffers straight through WaveFile.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "audio/FileJob.h"
#include "audio/EmulatedWave.h"
#include "audio/FilePlayback.h"
#include "audio/FileRecording.h"
#include "audio/WaveFile.h"
#include "stopwatch.h"

namespace {

const UINT D_nHandsetId = 1;
const size_t D_nPromptBytes = 112000;  // 7 s: two opening blocks, three refills
const size_t D_nBuffer = 1280;
const int D_nRecordBuffers = 750;  // 60 s
const DWORD D_dwPlaybackTimeout = 15000;
const DWORD D_dwRoundTimeout = 2000;
const char D_szPrompt[] = "bench_play_prompt.wav";
const char D_szRecording[] = "bench_play_recording.wav";
const char D_szDirect[] = "bench_play_direct.wav";

CEmulatedWave &Sim() { return CEmulatedWave::Instance(); }

double Seconds(const LARGE_INTEGER &start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::vector<unsigned char> Counting(size_t nBytes) {
    std::vector<unsigned char> bytes(nBytes);
    CEmulatedWave::CountingSource()(bytes.data(), nBytes, 0);
    return bytes;
}

bool WritePrompt() {
    WaveFile file(D_szPrompt);
    std::vector<unsigned char> samples = Counting(D_nPromptBytes);
    bool bWritten = file.Open('w') && file.Write(samples.data(), static_cast<int>(samples.size())) == 0;
    file.Close();
    return bWritten;
}

volatile bool g_bBusy = false;

DWORD WINAPI BusyCore(LPVOID) {
    volatile unsigned long long nSpins = 0;
    while (g_bBusy) ++nSpins;
    return 0;
}

struct PlaybackFigures {
    int nUnderruns = 0;
    double dLongestRefillWait = 0;
    double dSeconds = 0;
    bool bWhole = false;
};

// Samples the output queue until the job ends. An empty queue counts as an
// underrun unless every sample has been played; a stretch one block deep
// that ends with the queue two deep again was a wait for a refill.
void MonitorPlayback(PlaybackFigures &figures) {
    LARGE_INTEGER start, oneDeepSince;
    QueryPerformanceCounter(&start);
    bool bWasEmpty = false, bOneDeep = false;
    while (IsPlayingFile() && Seconds(start) * 1000 < D_dwPlaybackTimeout) {
        int nQueued = Sim().QueuedBlocks(ESimWaveDirection::Output);
        bool bEmpty = nQueued == 0 && Sim().PlayedBytes(D_nHandsetId).size() < D_nPromptBytes;
        if (bEmpty && !bWasEmpty) ++figures.nUnderruns;
        bWasEmpty = bEmpty;
        if (nQueued == 1 && !bOneDeep) QueryPerformanceCounter(&oneDeepSince);
        if (nQueued >= 2 && bOneDeep && Seconds(oneDeepSince) > figures.dLongestRefillWait) {
            figures.dLongestRefillWait = Seconds(oneDeepSince);
        }
        bOneDeep = nQueued == 1;
        Sleep(1);
    }
    figures.dSeconds = Seconds(start);
}

PlaybackFigures PlayUnderLoad() {
    PlaybackFigures figures;
    Sim().SetClock(ESimWaveClock::RealTime);
    g_bBusy = true;
    HANDLE hBusy = CreateThread(nullptr, 0, BusyCore, nullptr, 0, nullptr);
    if (StartPlayFile(D_szPrompt) == 0) MonitorPlayback(figures);
    g_bBusy = false;
    if (hBusy) {
        WaitForSingleObject(hBusy, 1000);
        CloseHandle(hBusy);
    }
    StopPlayFile(CDeadline(CFileJob::D_dwLockBoundMs));
    const std::vector<unsigned char> prompt = Counting(D_nPromptBytes);
    figures.bWhole = CEmulatedWave::IsWholeThenSilence(Sim().PlayedBytes(D_nHandsetId), prompt.data(), prompt.size(),
                                                       D_nPlayEndSilenceBytes);
    return figures;
}

// Captures the buffers four at a time, each round handled before the next;
// the last round is not waited for: the stop must collect it.
size_t CaptureRecording() {
    size_t nCaptured = 0;
    for (int nLeft = D_nRecordBuffers; nLeft > 0; nLeft -= 4) {
        const CStopwatch sinceRound;
        while (Sim().QueuedBlocks(ESimWaveDirection::Input) < 4) {
            if (sinceRound.ElapsedMs() > D_dwRoundTimeout) return nCaptured;
            SwitchToThread();
        }
        nCaptured += Sim().CaptureInput(static_cast<size_t>(nLeft < 4 ? nLeft : 4) * D_nBuffer);
    }
    return nCaptured;
}

std::vector<unsigned char> ReadSamples(const char *pszPath) {
    std::vector<unsigned char> bytes;
    if (FILE *pFile = fopen(pszPath, "rb")) {
        fseek(pFile, 44, SEEK_SET);
        unsigned char chunk[4096];
        for (size_t nRead; (nRead = fread(chunk, 1, sizeof(chunk), pFile)) > 0;) {
            bytes.insert(bytes.end(), chunk, chunk + nRead);
        }
        fclose(pFile);
    }
    return bytes;
}

double TimeDirectWrites() {
    std::vector<unsigned char> samples = Counting(D_nRecordBuffers * D_nBuffer);
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    WaveFile file(D_szDirect);
    file.Open('w');
    for (int i = 0; i < D_nRecordBuffers; ++i) file.Write(samples.data() + i * D_nBuffer, static_cast<int>(D_nBuffer));
    file.Close();
    return Seconds(start);
}

}  // namespace

int main() {
    Sim().Reset();
    Sim().AddTypicalDevices();
    Sim().SetInputSource(CEmulatedWave::CountingSource());
    Sim().Install();
    if (!WritePrompt()) {
        printf("cannot write %s\n", D_szPrompt);
        return 1;
    }

    PlaybackFigures play = PlayUnderLoad();
    printf("playback of %.2f s at real time, second core busy: %.2f s\n", D_nPromptBytes / 16000.0, play.dSeconds);
    printf("  moments with no block queued before the end: %d (goal 0)\n", play.nUnderruns);
    printf(
        "  longest wait for a refill (sampled every ms): %.1f ms of the 640 ms the queued block lasts "
        "(ratio %.3f)\n",
        play.dLongestRefillWait * 1000, play.dLongestRefillWait / 0.64);
    printf("  every sample played, in order: %s\n", play.bWhole ? "yes" : "NO");

    Sim().SetClock(ESimWaveClock::OnDemand);
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    size_t nCaptured = 0;
    if (StartRecordFile(D_szRecording) == 0) nCaptured = CaptureRecording();
    StopRecordFile(CDeadline(CFileJob::D_dwLockBoundMs));
    double dRecord = Seconds(start);
    double dDirect = TimeDirectWrites();
    std::vector<unsigned char> recorded = ReadSamples(D_szRecording);
    printf("recording of %.0f s of emulated input: %.3f s\n", D_nRecordBuffers * D_nBuffer / 16000.0, dRecord);
    printf("  bytes captured %zu, bytes in the file %zu (goal: equal); same bytes: %s\n", nCaptured, recorded.size(),
           recorded == Counting(nCaptured) ? "yes" : "NO");
    printf("  time against WaveFile writes of the same buffers on one thread (%.3f s): ratio %.2f\n", dDirect,
           dRecord / dDirect);

    Sim().Uninstall();
    DeleteFileA(D_szPrompt);
    DeleteFileA(D_szRecording);
    DeleteFileA(D_szDirect);
    return 0;
}
