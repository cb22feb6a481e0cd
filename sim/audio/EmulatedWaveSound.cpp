// The emulated wave devices: moving sound (see EmulatedWave.h). Output is
// played from the head of the queue and recorded per device; under Wine's
// stack it passes through the driver's bytes first, and a block is done once
// the driver has taken its last byte. Input is captured from the sample
// source into the head buffer. The clock thread moves both at the format's
// byte rate; on demand, the test moves them.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/EmulatedWave.h"
#include "audio/EmulatedWaveLock.h"

namespace {

const DWORD D_dwClockTick = 5;
const DWORD D_dwClockStopTimeout = 1000;

}  // namespace

void CEmulatedWave::SetClock(ESimWaveClock eClock) {
    CLock lock(m_cs);
    m_eClock = eClock;
    for (auto &entry : m_streams) {
        entry.second.llLastTick = NowMs();
        entry.second.dCredit = 0;
    }
}

void CEmulatedWave::SetInputSource(SimSampleSource source) {
    CLock lock(m_cs);
    m_source = std::move(source);
}

SimSampleSource CEmulatedWave::CountingSource(uint64_t nFirst) {
    return [nFirst](unsigned char *pDest, size_t nBytes, uint64_t nOffset) {
        for (size_t i = 0; i < nBytes; ++i) pDest[i] = static_cast<unsigned char>((nFirst + nOffset + i) % 251);
    };
}

SimSampleSource CEmulatedWave::ToneSource() {
    return [](unsigned char *pDest, size_t nBytes, uint64_t nOffset) {
        const double dStep = 2.0 * 3.14159265358979 * 440.0 / 8000.0;
        for (size_t i = 0; i < nBytes; ++i) {
            uint64_t nByte = nOffset + i;
            int nSample = static_cast<int>(8000.0 * std::sin(dStep * static_cast<double>(nByte / 2)));
            pDest[i] = static_cast<unsigned char>((nByte % 2) ? (nSample >> 8) & 0xFF : nSample & 0xFF);
        }
    };
}

int CEmulatedWave::PlayOutputBlocks(int nBlocks) {
    CLock lock(m_cs);
    int nPlayed = 0;
    for (auto &entry : m_streams) {
        Stream &stream = entry.second;
        if (stream.eDirection != ESimWaveDirection::Output || stream.bLost) continue;
        const int nBefore = stream.nReturned;
        while (stream.nReturned - nBefore < nBlocks && !stream.queue.empty()) {
            // With the driver full, hearing what is left of the head block
            // moves its last byte into the driver.
            FeedDriver(stream);
            if (stream.nReturned - nBefore >= nBlocks || stream.queue.empty()) break;
            PlayBytes(stream, stream.queue.front()->dwBufferLength - stream.nHeadDone);
        }
        nPlayed += stream.nReturned - nBefore;
    }
    return nPlayed;
}

size_t CEmulatedWave::CaptureInput(size_t nBytes) {
    CLock lock(m_cs);
    size_t nTaken = 0;
    for (auto &entry : m_streams) {
        if (entry.second.eDirection == ESimWaveDirection::Input && !entry.second.bLost)
            nTaken += CaptureBytes(entry.second, nBytes);
    }
    return nTaken;
}

// Under the lock. Windows' driver holds nothing here, so sound is heard
// straight from the head block.
void CEmulatedWave::FeedDriver(Stream &stream) {
    const size_t nRoom = m_eStack == ESimWaveStack::Wine ? D_nWineDriverBytes : 0;
    while (stream.driver.size() < nRoom && !stream.queue.empty()) {
        LPWAVEHDR pHdr = stream.queue.front();
        size_t nTake = std::min<size_t>(pHdr->dwBufferLength - stream.nHeadDone, nRoom - stream.driver.size());
        const unsigned char *pFrom = reinterpret_cast<unsigned char *>(pHdr->lpData) + stream.nHeadDone;
        stream.driver.insert(stream.driver.end(), pFrom, pFrom + nTake);
        stream.nHeadDone += nTake;
        if (stream.nHeadDone >= pHdr->dwBufferLength) ReturnHead(stream);
    }
}

// Under the lock.
void CEmulatedWave::DropDriverBytes(Stream &stream) {
    m_nDroppedDriverBytes += stream.driver.size();
    stream.driver.clear();
}

// Under the lock.
size_t CEmulatedWave::PlayBytes(Stream &stream, size_t nBytes) {
    std::vector<unsigned char> &played = m_played[stream.nDeviceId];
    size_t nPlayed = 0;
    FeedDriver(stream);
    while (nPlayed < nBytes) {
        if (!stream.driver.empty()) {
            auto end = stream.driver.begin() +
                       static_cast<std::ptrdiff_t>(std::min(stream.driver.size(), nBytes - nPlayed));
            nPlayed += static_cast<size_t>(end - stream.driver.begin());
            played.insert(played.end(), stream.driver.begin(), end);
            stream.driver.erase(stream.driver.begin(), end);
        } else if (!stream.queue.empty()) {
            LPWAVEHDR pHdr = stream.queue.front();
            size_t nTake = std::min<size_t>(pHdr->dwBufferLength - stream.nHeadDone, nBytes - nPlayed);
            const unsigned char *pFrom = reinterpret_cast<unsigned char *>(pHdr->lpData) + stream.nHeadDone;
            played.insert(played.end(), pFrom, pFrom + nTake);
            stream.nHeadDone += nTake;
            nPlayed += nTake;
            if (stream.nHeadDone >= pHdr->dwBufferLength) ReturnHead(stream);
        } else {
            break;
        }
        FeedDriver(stream);
    }
    return nPlayed;
}

// Under the lock. Bytes with no buffer to go to are lost, as with a real
// device whose owner is late re-queueing; the source's offset moves on.
size_t CEmulatedWave::CaptureBytes(Stream &stream, size_t nBytes) {
    if (!stream.bStarted) return 0;
    size_t nTaken = 0;
    while (nTaken < nBytes && !stream.queue.empty()) {
        LPWAVEHDR pHdr = stream.queue.front();
        size_t nTake = std::min<size_t>(pHdr->dwBufferLength - pHdr->dwBytesRecorded, nBytes - nTaken);
        m_source(reinterpret_cast<unsigned char *>(pHdr->lpData) + pHdr->dwBytesRecorded, nTake, stream.nCaptured);
        pHdr->dwBytesRecorded += static_cast<DWORD>(nTake);
        stream.nCaptured += nTake;
        nTaken += nTake;
        if (pHdr->dwBytesRecorded >= pHdr->dwBufferLength) ReturnHead(stream);
    }
    m_nOverrunBytes += nBytes - nTaken;
    stream.nCaptured += nBytes - nTaken;
    return nTaken;
}

bool CEmulatedWave::IsWholeThenSilence(const std::vector<unsigned char> &heard, const unsigned char *pExpected,
                                      size_t nExpected, size_t nSilence) {
    if (heard.size() < nExpected || heard.size() - nExpected > nSilence) return false;
    if (nExpected && memcmp(heard.data(), pExpected, nExpected) != 0) return false;
    return std::all_of(heard.begin() + static_cast<std::ptrdiff_t>(nExpected), heard.end(),
                       [](unsigned char cByte) { return cByte == 0; });
}

ULONGLONG CEmulatedWave::NowMs() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<ULONGLONG>(now.QuadPart / (frequency.QuadPart / 1000));
}

void CEmulatedWave::Tick() {
    CLock lock(m_cs);
    ULONGLONG llNow = NowMs();
    for (auto &entry : m_streams) {
        Stream &stream = entry.second;
        ULONGLONG llElapsed = llNow - stream.llLastTick;
        stream.llLastTick = llNow;
        bool bMoving = !stream.bLost && (stream.eDirection == ESimWaveDirection::Output
                                             ? !stream.queue.empty() || !stream.driver.empty()
                                             : stream.bStarted);
        // An idle output, a stopped input or a lost stream banks no time.
        if (m_eClock != ESimWaveClock::RealTime || !bMoving) {
            stream.dCredit = 0;
            continue;
        }
        stream.dCredit += static_cast<double>(llElapsed) * stream.format.nAvgBytesPerSec / 1000.0;
        size_t nAlign = stream.format.nBlockAlign ? stream.format.nBlockAlign : 1;
        size_t nBytes = static_cast<size_t>(stream.dCredit) / nAlign * nAlign;
        stream.dCredit -= static_cast<double>(nBytes);
        if (stream.eDirection == ESimWaveDirection::Output) {
            PlayBytes(stream, nBytes);
        } else {
            CaptureBytes(stream, nBytes);
        }
    }
}

DWORD WINAPI CEmulatedWave::ClockThread(LPVOID pContext) {
    CEmulatedWave *pWave = static_cast<CEmulatedWave *>(pContext);
    while (WaitForSingleObject(pWave->m_hClockStop, D_dwClockTick) == WAIT_TIMEOUT) pWave->Tick();
    return 0;
}

void CEmulatedWave::StartClock() {
    if (m_hClockThread) return;
    m_hClockStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (m_hClockStop) m_hClockThread = CreateThread(nullptr, 0, ClockThread, this, 0, nullptr);
}

void CEmulatedWave::StopClock() {
    if (m_hClockThread) {
        SetEvent(m_hClockStop);
        WaitForSingleObject(m_hClockThread, D_dwClockStopTimeout);
        CloseHandle(m_hClockThread);
        m_hClockThread = nullptr;
    }
    if (m_hClockStop) CloseHandle(m_hClockStop);
    m_hClockStop = nullptr;
}
