// Play and record through Wine's ALSA driver and snd-aloop, checked sample
// for sample against the known signal (KnownSignal.h). The capture is walked
// once: any three samples place it in the signal (a map from sample triples
// to signal positions), the following ones must then go on at the same
// offset; a new offset is a jump (samples lost, or repeated), silence (0,
// which the signal never holds) is a pause, anything else is foreign.
#include <cstdint>
#include <cstdio>
#include <map>

#include "KnownSignal.h"
#include "RealHandset.h"

namespace {

struct SMatch {
    long nMatched = 0;       // samples of the signal found in place
    long nSegments = 0;      // runs at one offset
    long nLost = 0;          // signal samples skipped between runs
    long nRepeated = 0;      // signal samples heard twice
    long nForeign = 0;       // neither signal nor silence
    long nFirstCaptured = -1, nFirstSignal = -1, nLastSignal = -1;
};

uint64_t Triple(int16_t a, int16_t b, int16_t c) {
    return (uint64_t)(uint16_t)a << 32 | (uint64_t)(uint16_t)b << 16 | (uint16_t)c;
}

SMatch Match(const std::vector<int16_t> &captured, uint32_t nSeed, long nSignalLength) {
    std::map<uint64_t, long> where;
    for (long i = 0; i + 2 < nSignalLength; ++i)
        where[Triple(KnownSignalSample(nSeed, i), KnownSignalSample(nSeed, i + 1), KnownSignalSample(nSeed, i + 2))] = i;
    SMatch m;
    long nOffset = 0;
    bool bAligned = false;
    for (long p = 0; p < static_cast<long>(captured.size()); ++p) {
        if (bAligned && p + nOffset < nSignalLength && captured[p] == KnownSignalSample(nSeed, p + nOffset)) {
            ++m.nMatched;
            m.nLastSignal = p + nOffset;
            continue;
        }
        bAligned = false;
        if (captured[p] == 0) continue;
        auto it = p + 2 < static_cast<long>(captured.size())
                      ? where.find(Triple(captured[p], captured[p + 1], captured[p + 2]))
                      : where.end();
        if (it == where.end()) {
            ++m.nForeign;
            continue;
        }
        const long nStart = it->second;
        if (m.nFirstSignal < 0) m.nFirstCaptured = p, m.nFirstSignal = nStart;
        else if (nStart > m.nLastSignal) m.nLost += nStart - m.nLastSignal - 1;
        else m.nRepeated += m.nLastSignal + 1 - nStart;
        nOffset = nStart - p;
        bAligned = true;
        ++m.nSegments;
        ++m.nMatched;
        m.nLastSignal = nStart;
    }
    return m;
}

bool WriteWav(const char *pszPath, uint32_t nSeed, long nSamples) {
    FILE *p = fopen(pszPath, "wb");
    if (!p) return false;
    const uint32_t nData = static_cast<uint32_t>(nSamples * 2);
    const uint32_t aHeader[] = {0x46464952, 36 + nData, 0x45564157, 0x20746d66, 16, 0x00010001, 8000, 16000,
                                0x00100002, 0x61746164, nData};
    fwrite(aHeader, sizeof aHeader, 1, p);
    for (long i = 0; i < nSamples; ++i) {
        int16_t s = KnownSignalSample(nSeed, static_cast<uint32_t>(i));
        fwrite(&s, 2, 1, p);
    }
    return fclose(p) == 0;
}

// The samples of a 16-bit mono WAV (its "data" chunk), or of a raw file.
std::vector<int16_t> ReadSamples(const char *pszPath, bool bWav) {
    std::vector<int16_t> samples;
    FILE *p = fopen(pszPath, "rb");
    if (!p) return samples;
    if (bWav) {
        char acId[4];
        uint32_t nSize = 0;
        fseek(p, 12, SEEK_SET);
        while (fread(acId, 4, 1, p) == 1 && fread(&nSize, 4, 1, p) == 1 && memcmp(acId, "data", 4) != 0)
            fseek(p, static_cast<long>(nSize + (nSize & 1)), SEEK_CUR);
    }
    int16_t s;
    while (fread(&s, 2, 1, p) == 1) samples.push_back(s);
    fclose(p);
    return samples;
}

bool ReportsAre(int nFrom, const char *pszLine) {
    std::vector<std::string> hex;
    std::vector<double> times;
    const std::vector<std::string> expected = ReportsOfLine(pszLine);
    ReportsSince(nFrom, static_cast<int>(expected.size()), 5000, hex, times);
    return hex == expected;
}

long Frames(const char *pszRequest) {
    std::vector<std::string> reply;
    return Device(pszRequest, reply) && !reply.empty() ? atol(reply[0].c_str()) : -1;
}

// Until Wine's side of the loopback is closed: the plug-in closed its device.
bool AwaitWineSideClosed(DWORD dwMs) {
    const CStopwatch sinceStart;
    std::vector<std::string> reply;
    for (;;) {
        if (Device("alsa", reply) && !reply.empty() && reply[0] == "closed") return true;
        if (sinceStart.ElapsedMs() >= dwMs) return false;
        PumpFor(50);
    }
}

void PrintMatch(const char *pszWhat, const SMatch &m, long nExpected) {
    Figure("%s: %ld of %ld signal samples in place, %ld run(s), %ld lost between runs, %ld repeated, %ld foreign",
           pszWhat, m.nMatched, nExpected, m.nSegments, m.nLost, m.nRepeated, m.nForeign);
}

const long D_nPlaySamples = 3 * KNOWN_SIGNAL_RATE;
// Sound that must arrive, of the signal played or recorded. The rest is
// counted, not required: Wine's ALSA driver under- and overruns when the
// emulated CPU falls behind (its log says so), Wine drops the capture that
// finds none of the plug-in's four buffers queued, and it reports an output
// block done while its last ALSA period may still be in the driver, which
// the close drops (64 to 192 samples, up to 24 ms, of a playback's end seen
// before the plug-in ended each playback with 100 ms of silence: the goal
// for the end is 0 now, and the silence that follows counts as a pause).
const double D_dMustArrive = 0.9;

void CheckStopWhilePlaying(const SPlugin &plugin) {
    const int nFrom = ReportCount();
    const int nStarted = plugin.pfnStartPlay(0, "play.wav", 0, 0);
    const bool bPlaying = nStarted == 0 && ReportsAre(nFrom, "ATP\r\n") && !AwaitWineSideClosed(0);
    const int nBeforeStop = ReportCount();
    plugin.pfnStopPlay(0);
    Check(bPlaying && ReportsAre(nBeforeStop, "ATS\r\n") && plugin.pfnPlayRest(0) == 0 && AwaitWineSideClosed(5000),
          "TV_StopPlayFile during a playback sends ATS, ends the job and closes the device");
}

}  // namespace

void CheckPlayback(const SPlugin &plugin) {
    std::vector<std::string> reply;
    if (!WriteWav("play.wav", 7, D_nPlaySamples) || !Device("earpiece-start earpiece.raw", reply) || reply.empty()) {
        Check(false, "playback: the known WAV and the earpiece capture are ready");
        return;
    }
    const double dCaptureStart = atof(reply[0].c_str());
    const int nFrom = ReportCount();
    const double dCall = NowUnix();
    const int nStarted = plugin.pfnStartPlay(0, "play.wav", 0, 0);
    Check(nStarted == 0 && ReportsAre(nFrom, "ATP\r\n"), "TV_StartPlayFile gives %d and sends ATP", nStarted);
    const CStopwatch sinceStart;
    while (plugin.pfnPlayRest(0) == 1 && sinceStart.ElapsedMs() < 20000) PumpFor(50);
    Figure("playback: TV_PlayFileRest reached 0 after %.3f s for a %.3f s file", NowUnix() - dCall,
           D_nPlaySamples / 8000.0);
    const bool bClosed = AwaitWineSideClosed(5000);
    // Three more periods of capture, so that the last sound is read out.
    const long nAtClose = Frames("earpiece-frames");
    while (bClosed && Frames("earpiece-frames") < nAtClose + 3 * 320 && sinceStart.ElapsedMs() < 30000) PumpFor(20);
    Device("earpiece-stop", reply);
    const SMatch m = Match(ReadSamples("earpiece.raw", false), 7, D_nPlaySamples);
    PrintMatch("playback at the earpiece", m, D_nPlaySamples);
    const double dLatency = dCaptureStart + (m.nFirstCaptured - m.nFirstSignal) / 8000.0 - dCall;
    Figure("playback: start latency %.0f ms (call to the first sample at the earpiece)", dLatency * 1000);
    Check(bClosed, "playback: the device is closed on the kernel side after the end");
    Figure("playback: %ld samples lost (goal 0), %ld of them at the end; %ld repeated",
           D_nPlaySamples - (m.nMatched - m.nRepeated), D_nPlaySamples - 1 - m.nLastSignal, m.nRepeated);
    Check(m.nForeign == 0 && m.nMatched - m.nRepeated >= D_dMustArrive * D_nPlaySamples,
          "playback reaches the earpiece unaltered (%ld foreign samples), %ld of %ld samples", m.nForeign,
          m.nMatched - m.nRepeated, D_nPlaySamples);
    CheckStopWhilePlaying(plugin);
}

void CheckRecording(const SPlugin &plugin) {
    std::vector<std::string> reply;
    if (!Device("mic-start 11", reply) || reply.empty()) {
        Check(false, "recording: the microphone plays the known signal");
        return;
    }
    const double dMicStart = atof(reply[0].c_str());
    int nFrom = ReportCount();
    const double dCall = NowUnix();
    const int nStarted = plugin.pfnStartRecord(0, "rec.wav", 0, 0);
    Check(nStarted == 0 && ReportsAre(nFrom, "ATT\r\n"), "TV_StartRecordFile gives %d and sends ATT", nStarted);
    PumpFor(3000);
    nFrom = ReportCount();
    const double dStop = NowUnix();
    plugin.pfnStopRecord(0);
    const double dStopped = NowUnix();
    Check(ReportsAre(nFrom, "ATQ\r\n"), "TV_StopRecordFile sends ATQ (returned after %.0f ms)", (dStopped - dStop) * 1000);
    Device("mic-stop", reply);
    const std::vector<int16_t> recorded = ReadSamples("rec.wav", true);
    const long nSignal = static_cast<long>((NowUnix() - dMicStart + 1) * KNOWN_SIGNAL_RATE);
    const SMatch m = Match(recorded, 11, nSignal);
    Figure("recording: %.3f s recorded for a %.3f s start-stop interval", recorded.size() / 8000.0, dStop - dCall);
    PrintMatch("recording of the microphone", m, static_cast<long>(recorded.size()));
    const double dLatency = dMicStart + (m.nFirstSignal - m.nFirstCaptured) / 8000.0 - dCall;
    Figure("recording: start latency %.0f ms (call to the sound at the recording's first sample)", dLatency * 1000);
    Figure("recording: %ld samples lost (goal 0) in %ld gap(s)", m.nLost, m.nSegments - 1);
    Check(m.nForeign == 0 && m.nMatched >= D_dMustArrive * static_cast<double>(recorded.size()) &&
              m.nMatched > 2 * KNOWN_SIGNAL_RATE,
          "recording holds the microphone's signal unaltered (%ld foreign samples), %ld of %u samples", m.nForeign,
          m.nMatched, static_cast<unsigned>(recorded.size()));
    Check(AwaitWineSideClosed(5000), "recording: the device is closed on the kernel side after the stop");
}
