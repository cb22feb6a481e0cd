// Shared by the audio device suites: see audio_support.h.
#include "audio_support.h"

#include <thread>

#include "audio/WaveRetired.h"
#include "stopwatch.h"

CSinkRecorder g_InSink;
CSinkRecorder g_OutSink;

namespace {

const DWORD D_dwGateTimeout = 5000;
const DWORD D_dwHoldTimeout = 2000;
const DWORD D_dwCloseTimeout = 2000;

int RecordInputSink(const char *pBytes, int nLength) {
    g_InSink.Record(ESimWaveDirection::Input, pBytes, nLength);
    return 0;
}

int RecordOutputSink(const char *pBytes, int nLength) {
    g_OutSink.Record(ESimWaveDirection::Output, pBytes, nLength);
    return 0;
}

}  // namespace

const WaveDirectionOps D_OutputOps = {ESimWaveDirection::Output, "Output",         OpenWaveOut, StopWaveOut,
                                      &g_WaveOut.m_bOpen,           &g_WaveOut.m_nDevice};
const WaveDirectionOps D_InputOps = {ESimWaveDirection::Input, "Input",         OpenWaveIn, StopWaveIn,
                                     &g_WaveIn.m_bOpen,           &g_WaveIn.m_nDevice};

CSinkRecorder::CSinkRecorder()
    : m_bGateArmed(false), m_hGateOpen(CreateEventA(nullptr, TRUE, TRUE, nullptr)),
      m_hHeld(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    InitializeCriticalSection(&m_cs);
}

CSinkRecorder::~CSinkRecorder() {
    CloseHandle(m_hGateOpen);
    CloseHandle(m_hHeld);
    DeleteCriticalSection(&m_cs);
}

void CSinkRecorder::Record(ESimWaveDirection eDirection, const char *pBytes, int nLength) {
    SinkCall call{GetCurrentThreadId(), Bytes(pBytes, pBytes + nLength), g_WaveOut.m_nHeld,
                  CEmulatedWave::Instance().Closes(eDirection)};
    EnterCriticalSection(&m_cs);
    m_calls.push_back(call);
    LeaveCriticalSection(&m_cs);
    if (m_bGateArmed) {
        m_bGateArmed = false;
        SetEvent(m_hHeld);
        WaitForSingleObject(m_hGateOpen, D_dwGateTimeout);
    }
}

void CSinkRecorder::Clear() {
    EnterCriticalSection(&m_cs);
    m_calls.clear();
    LeaveCriticalSection(&m_cs);
}

std::vector<SinkCall> CSinkRecorder::Calls() const {
    EnterCriticalSection(&m_cs);
    std::vector<SinkCall> calls = m_calls;
    LeaveCriticalSection(&m_cs);
    return calls;
}

size_t CSinkRecorder::Count() const {
    EnterCriticalSection(&m_cs);
    size_t nCount = m_calls.size();
    LeaveCriticalSection(&m_cs);
    return nCount;
}

void CSinkRecorder::ArmGate() {
    ResetEvent(m_hGateOpen);
    ResetEvent(m_hHeld);
    m_bGateArmed = true;
}

bool CSinkRecorder::WaitUntilHeld(DWORD dwMilliseconds) {
    return WaitForSingleObject(m_hHeld, dwMilliseconds) == WAIT_OBJECT_0;
}

void CSinkRecorder::ReleaseGate() {
    m_bGateArmed = false;
    SetEvent(m_hGateOpen);
}

bool WaitUntil(const std::function<bool()> &bCondition, DWORD dwMilliseconds) {
    CStopwatch sinceStart;
    while (!bCondition()) {
        if (sinceStart.ElapsedMs() >= dwMilliseconds) return false;
        Sleep(1);
    }
    return true;
}

void AudioDeviceTest::SetUp() {
    // Streams an earlier case lost are dropped here, so nothing can come
    // back for what the module still keeps of them.
    Sim().Reset();
    ForgetRetiredWaveDevices();
    Sim().AddTypicalDevices();
    Sim().SetClock(ESimWaveClock::OnDemand);
    Sim().Install();
    g_WaveIn.m_nDevice = WAVE_MAPPER;
    g_WaveOut.m_nDevice = WAVE_MAPPER;
    g_pfnWaveInData = RecordInputSink;
    g_pfnWaveOutDone = RecordOutputSink;
    g_InSink.Clear();
    g_OutSink.Clear();
}

void AudioDeviceTest::TearDown() {
    ReleaseWaveThread();
    StopWaveOut(CDeadline(D_dwWaveLockBoundMs));
    StopWaveIn(CDeadline(D_dwWaveLockBoundMs));
    ExpectWithin([] { return !g_WaveOut.m_bOpen && !g_WaveIn.m_bOpen; }, D_dwCloseTimeout,
                 "the close notifications of both directions after the test");
    g_nBitsPerSample = 16;
    Sim().Uninstall();
}

void AudioDeviceTest::ExpectWithin(const std::function<bool()> &bCondition, DWORD dwMilliseconds, const char *pszWhat) {
    EXPECT_TRUE(WaitUntil(bCondition, dwMilliseconds)) << "no " << pszWhat << " within " << dwMilliseconds << " ms";
}

Bytes AudioDeviceTest::WriteBlocks(const std::vector<int> &sizes) {
    Bytes all;
    for (int nSize : sizes) {
        Bytes block(static_cast<size_t>(nSize));
        CEmulatedWave::CountingSource(m_nWritten)(block.data(), block.size(), 0);
        m_nWritten += block.size();
        EXPECT_EQ(WriteWaveOut(reinterpret_cast<const char *>(block.data()), nSize), 0)
            << "a block of " << nSize << " bytes on the open output";
        all.insert(all.end(), block.begin(), block.end());
    }
    return all;
}

void AudioDeviceTest::HoldWaveThread(ESimWaveDirection eFree) {
    if (eFree == ESimWaveDirection::Output) {
        ASSERT_EQ(OpenWaveIn(), MMSYSERR_NOERROR);
        g_InSink.ArmGate();
        Sim().CaptureInput(static_cast<size_t>(g_nInWaveBufSize));
        ASSERT_TRUE(g_InSink.WaitUntilHeld(D_dwHoldTimeout)) << "no input data notification to hold the thread in";
    } else {
        ASSERT_EQ(OpenWaveOut(), MMSYSERR_NOERROR);
        char cByte = 0;
        ASSERT_EQ(WriteWaveOut(&cByte, 1), 0);
        g_OutSink.ArmGate();
        Sim().PlayOutputBlocks(1);
        ASSERT_TRUE(g_OutSink.WaitUntilHeld(D_dwHoldTimeout)) << "no output done notification to hold the thread in";
    }
}

void AudioDeviceTest::ReleaseWaveThread() {
    g_InSink.ReleaseGate();
    g_OutSink.ReleaseGate();
}

MMRESULT AudioDeviceTest::OpenWhileClosing(MMRESULT (*pfnOpen)()) {
    std::atomic<LONG> nResult{-1};
    std::thread opener([&] { nResult = static_cast<LONG>(pfnOpen()); });
    Sleep(50);
    EXPECT_EQ(nResult, -1) << "the start must wait for the close, not return at once";
    ReleaseWaveThread();
    opener.join();
    return static_cast<MMRESULT>(nResult);
}
