// The wave message thread's start when its starter gives up waiting, and
// its end by force.
#include "audio_support.h"
#include "stopwatch.h"

extern "C" {
LONG NTAPI LdrLockLoaderLock(ULONG ulFlags, ULONG *pulDisposition, ULONG_PTR *pCookie);
LONG NTAPI LdrUnlockLoaderLock(ULONG ulFlags, ULONG_PTR ulCookie);
}

namespace {

const DWORD D_dwHelperTimeout = 10000;

// Holds the loader lock on a thread of its own until Release, so that a new
// thread cannot get past its start (its thread-attach step needs the lock).
class CLoaderLockHolder {
public:
    CLoaderLockHolder()
        : m_hHeld(CreateEventA(nullptr, TRUE, FALSE, nullptr)), m_hRelease(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          m_hThread(CreateThread(nullptr, 0, Hold, this, 0, nullptr)) {}
    ~CLoaderLockHolder() {
        Release();
        WaitForSingleObject(m_hThread, D_dwHelperTimeout);
        CloseHandle(m_hThread);
        CloseHandle(m_hHeld);
        CloseHandle(m_hRelease);
    }
    bool WaitUntilHeld() { return WaitForSingleObject(m_hHeld, D_dwHelperTimeout) == WAIT_OBJECT_0; }
    void Release() { SetEvent(m_hRelease); }

private:
    static DWORD WINAPI Hold(LPVOID pContext) {
        CLoaderLockHolder *pThis = static_cast<CLoaderLockHolder *>(pContext);
        ULONG_PTR ulCookie = 0;
        if (LdrLockLoaderLock(0, nullptr, &ulCookie) != 0) return 1;
        SetEvent(pThis->m_hHeld);
        WaitForSingleObject(pThis->m_hRelease, D_dwHelperTimeout);
        LdrUnlockLoaderLock(0, ulCookie);
        return 0;
    }
    HANDLE m_hHeld;
    HANDLE m_hRelease;
    HANDLE m_hThread;
};

// Starts the thread from deep in the stack, below where the test's own
// waits will reach, and returns how long the start waited.
__attribute__((noinline)) DWORD StartFromDeepInTheStack() {
    volatile char acDepth[8192];
    acDepth[0] = 0;
    CStopwatch sinceStart;
    StartWaveMsgThread();
    DWORD dwWaited = sinceStart.ElapsedMs();
    return dwWaited + acDepth[0];
}

// Fills the stack where StartFromDeepInTheStack's frames lay with hValue.
__attribute__((noinline)) void FillStackBelow(HANDLE hValue) {
    volatile HANDLE ahFill[4096];
    for (volatile HANDLE &h : ahFill) h = hValue;
}

using WaveThreadTest = AudioDeviceTest;

TEST_F(WaveThreadTest, RegressionAStarterThatGaveUpWaitingLeavesNothingOnItsStackForTheThread) {
    StopWaveMsgThread(CDeadline(D_dwWaveThreadStopBoundMs));
    HANDLE hBystander = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    {
        CLoaderLockHolder loaderLock;
        ASSERT_TRUE(loaderLock.WaitUntilHeld()) << "the loader lock could not be taken";
        EXPECT_GE(StartFromDeepInTheStack(), D_dwQueueReadyTimeout - 100) << "the starter did not give up waiting";
        // Whatever the thread might still read from its starter's stack now
        // names the bystander.
        FillStackBelow(hBystander);
        loaderLock.Release();
        EXPECT_TRUE(WaitUntil([] { return PostThreadMessageA(g_dwWaveThreadId, WM_NULL, 0, 0) != FALSE; }, 5000))
            << "the wave message thread never got its queue";
    }
    EXPECT_EQ(WaitForSingleObject(hBystander, 500), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the thread signalled an event it found on its starter's stack";
    CloseHandle(hBystander);
    ASSERT_EQ(OpenWaveOut(), MMSYSERR_NOERROR);
    WriteBlocks({2});
    Sim().PlayOutputBlocks(1);
    ExpectWithin([] { return g_OutSink.Count() == 1; }, 1000, "done notification on the late-started thread");
}

TEST_F(WaveThreadTest, ThreadThatDoesNotEndInTimeIsEndedWithExitCodeMinusOne) {
    HoldWaveThread(ESimWaveDirection::Input);
    HANDLE hThread = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), g_hWaveThread, GetCurrentProcess(), &hThread, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    StopWaveMsgThread(CDeadline(D_dwWaveThreadStopBoundMs));
    DWORD dwExitCode = 0;
    EXPECT_TRUE(GetExitCodeThread(hThread, &dwExitCode));
    EXPECT_EQ(dwExitCode, 0xFFFFFFFFu) << "the thread held in a notification was not ended with -1";
    CloseHandle(hThread);
    // The output's notifications went to the ended thread: the next open
    // gives up on its close and starts afresh with a new thread.
    ReleaseWaveThread();
    StopWaveOut(CDeadline(D_dwWaveLockBoundMs));
    ASSERT_EQ(OpenWaveOut(), MMSYSERR_NOERROR);
    EXPECT_NE(g_dwWaveThreadId, 0u);
    WriteBlocks({2});
    Sim().PlayOutputBlocks(1);
    ExpectWithin([] { return g_OutSink.Count() == 2; }, 1000, "done notification on the new thread");
}

}  // namespace
