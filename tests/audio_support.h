// Shared by the audio device suites: the fixture that puts the emulated wave
// devices under the wave device module, sinks that record what reaches the
// player and the recorder, and a gate that holds the wave message thread
// inside a sink so that notifications queue up behind it.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <vector>

#include "audio/EmulatedWave.h"
#include "audio/WaveDirection.h"
#include "audio/waveinout.h"
#include "audio/WaveMsgThread.h"

using Bytes = std::vector<unsigned char>;

struct SinkCall {
    DWORD dwThreadId;
    Bytes bytes;
    LONG nQueuedAtCall;  // output blocks still counted when the sink ran
    int nClosesAtCall;   // device closes the emulation had seen by then
};

class CSinkRecorder {
public:
    CSinkRecorder();
    ~CSinkRecorder();
    void Record(ESimWaveDirection eDirection, const char *pBytes, int nLength);
    void Clear();
    std::vector<SinkCall> Calls() const;
    size_t Count() const;
    // The next sink call waits (at most 5 s) until ReleaseGate.
    void ArmGate();
    bool WaitUntilHeld(DWORD dwMilliseconds);
    void ReleaseGate();

private:
    mutable CRITICAL_SECTION m_cs;
    std::vector<SinkCall> m_calls;
    std::atomic<bool> m_bGateArmed;
    HANDLE m_hGateOpen;
    HANDLE m_hHeld;
};

extern CSinkRecorder g_InSink;
extern CSinkRecorder g_OutSink;

// Polls until bCondition holds; false after dwMilliseconds.
bool WaitUntil(const std::function<bool()> &bCondition, DWORD dwMilliseconds);

// One direction of the module, so that a case can run for both.
struct WaveDirectionOps {
    ESimWaveDirection eDirection;
    const char *pszName;
    MMRESULT (*pfnOpen)();
    void (*pfnStop)(const CDeadline &);
    const std::atomic<BYTE> *pbOpen;
    UINT *pnDevice;
};
extern const WaveDirectionOps D_OutputOps;
extern const WaveDirectionOps D_InputOps;

class AudioDeviceTest : public ::testing::Test {
protected:
    static CEmulatedWave &Sim() { return CEmulatedWave::Instance(); }
    void SetUp() override;
    void TearDown() override;

    // Waits for the condition; a failure names the notification missed.
    void ExpectWithin(const std::function<bool()> &bCondition, DWORD dwMilliseconds, const char *pszWhat);
    // Queues blocks of the given sizes (counting bytes, continuing) and
    // returns all their bytes in order.
    Bytes WriteBlocks(const std::vector<int> &sizes);
    // Holds the wave message thread in a sink of the other direction than
    // eFree: it handles nothing until ReleaseWaveThread.
    void HoldWaveThread(ESimWaveDirection eFree);
    void ReleaseWaveThread();
    // With the thread held and the direction closing: starts pfnOpen on
    // another thread, expects it to wait, releases the wave message thread
    // and returns what the open returned.
    MMRESULT OpenWhileClosing(MMRESULT (*pfnOpen)());

    uint64_t m_nWritten = 0;
};
