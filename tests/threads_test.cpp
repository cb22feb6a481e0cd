// The worker-thread base and the wave message thread.
#include <gtest/gtest.h>

#include <atomic>

#include "support/BaseThread.h"
#include "support/ThreadEnd.h"
#include "support/WaveMsgThread.h"

namespace {

class CCooperativeWorker : public CBaseThread {
public:
    std::atomic<int> nLoops{0};
    DWORD Run(DWORD dwParam) override {
        while (!IsStopRequested(0)) {
            ++nLoops;
            Sleep(1);
        }
        return dwParam + 1;
    }
};

// Sleeps far past the stop timeout between two looks at the run signal.
class CStuckWorker : public CBaseThread {
public:
    DWORD Run(DWORD) override {
        while (!IsStopRequested(0)) Sleep(5000);
        return 0;
    }
};

class CWaitingWorker : public CBaseThread {
public:
    DWORD Run(DWORD) override {
        while (!WaitForStop(2000)) {
        }
        return 7;
    }
};

DWORD ElapsedSince(DWORD dwStart) { return GetTickCount() - dwStart; }

// A bare thread that ends through a CThreadEnd after dwWorkMs.
struct ParkingBody {
    CThreadEnd *pEnd;
    DWORD dwWorkMs;
    static DWORD WINAPI Proc(LPVOID lpContext) {
        ParkingBody *pBody = static_cast<ParkingBody *>(lpContext);
        Sleep(pBody->dwWorkMs);
        pBody->pEnd->Park(42);
        return 42;
    }
};

}  // namespace

TEST(BaseThread, StopOfANeverStartedObjectReturnsAtOnce) {
    CCooperativeWorker worker;
    DWORD dwStart = GetTickCount();
    EXPECT_TRUE(worker.Stop());
    EXPECT_TRUE(worker.Stop()) << "a second Stop must also return 1";
    EXPECT_LT(ElapsedSince(dwStart), 50u);
}

TEST(BaseThread, CooperativeWorkerEndsByItself) {
    CCooperativeWorker worker;
    worker.Start(41);
    while (worker.nLoops.load() == 0) Sleep(1);
    EXPECT_FALSE(worker.HasEnded());
    EXPECT_TRUE(worker.Stop());
}

TEST(BaseThread, StuckWorkerIsEndedByForceAfterAbout100ms) {
    CStuckWorker worker;
    worker.Start(0);
    Sleep(20);
    DWORD dwStart = GetTickCount();
    EXPECT_FALSE(worker.Stop());
    DWORD dwElapsed = ElapsedSince(dwStart);
    EXPECT_GE(dwElapsed, 80u);
    EXPECT_LT(dwElapsed, 1000u);
}

TEST(BaseThread, StopCutsAWorkersPauseShort) {
    CWaitingWorker worker;
    worker.Start(0);
    Sleep(20);
    DWORD dwStart = GetTickCount();
    EXPECT_TRUE(worker.Stop());
    EXPECT_LT(ElapsedSince(dwStart), 100u);
}

TEST(BaseThread, IsStopRequestedWaitsOnlyOnceStopped) {
    CCooperativeWorker worker;
    worker.Start(0);
    DWORD dwStart = GetTickCount();
    EXPECT_FALSE(worker.IsStopRequested(300)) << "must answer at once while running";
    EXPECT_LT(ElapsedSince(dwStart), 100u);
    worker.Stop();
    dwStart = GetTickCount();
    EXPECT_TRUE(worker.IsStopRequested(150));
    EXPECT_GE(ElapsedSince(dwStart), 120u);
}

TEST(BaseThread, CanBeStartedAgainAfterStop) {
    CCooperativeWorker worker;
    worker.Start(0);
    EXPECT_TRUE(worker.Stop());
    worker.nLoops = 0;
    worker.Start(0);
    while (worker.nLoops.load() == 0) Sleep(1);
    EXPECT_TRUE(worker.Stop());
}

TEST(WaveMsgThread, StartTwiceGivesOneThreadAndQuitEndsIt) {
    ASSERT_EQ(StartWaveMsgThread(), 0);
    DWORD dwFirst = g_dwWaveThreadId;
    HANDLE hThread = g_hWaveThread;
    ASSERT_NE(dwFirst, 0u);
    ASSERT_EQ(StartWaveMsgThread(), 0);
    EXPECT_EQ(g_dwWaveThreadId, dwFirst);
    // The queue exists as soon as the start returns: a post cannot fail.
    EXPECT_TRUE(PostThreadMessageA(dwFirst, WM_USER, 0, 0));

    HANDLE hCopy = nullptr;
    DuplicateHandle(GetCurrentProcess(), hThread, GetCurrentProcess(), &hCopy, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    ASSERT_TRUE(PostThreadMessageA(dwFirst, WM_QUIT, 0, 0));
    ASSERT_EQ(WaitForSingleObject(hCopy, 2000), WAIT_OBJECT_0) << "WM_QUIT did not end the loop";
    DWORD dwExit = 1;
    GetExitCodeThread(hCopy, &dwExit);
    EXPECT_EQ(dwExit, 0u);
    CloseHandle(hCopy);
    StopWaveMsgThread();
    EXPECT_EQ(g_dwWaveThreadId, 0u);
    EXPECT_EQ(g_hWaveThread, nullptr);
}

// A finished body parks where ending it is clean; the controller learns of
// it at once (no wait for a thread exit that the loader lock would hold up)
// and the thread still ends with the body's result.
TEST(ThreadEnd, FinishedBodyIsCollectedAtOnceWithItsResult) {
    CThreadEnd end;
    ParkingBody body{&end, 0};
    HANDLE hThread = CreateThread(nullptr, 0, ParkingBody::Proc, &body, 0, nullptr);
    ASSERT_NE(hThread, nullptr);
    Sleep(20);
    DWORD dwStart = GetTickCount();
    EXPECT_TRUE(end.EndThread(hThread, 100));
    EXPECT_LT(ElapsedSince(dwStart), 50u);
    EXPECT_EQ(WaitForSingleObject(hThread, 0), WAIT_OBJECT_0) << "the parked thread must be gone";
    DWORD dwExit = 0;
    GetExitCodeThread(hThread, &dwExit);
    EXPECT_EQ(dwExit, 42u);
    CloseHandle(hThread);
}

TEST(ThreadEnd, BodyStillRunningAfterTheTimeoutIsEndedByForce) {
    CThreadEnd end;
    ParkingBody body{&end, 5000};
    HANDLE hThread = CreateThread(nullptr, 0, ParkingBody::Proc, &body, 0, nullptr);
    ASSERT_NE(hThread, nullptr);
    EXPECT_FALSE(end.EndThread(hThread, 100));
    EXPECT_EQ(WaitForSingleObject(hThread, 0), WAIT_OBJECT_0);
    DWORD dwExit = 42;
    GetExitCodeThread(hThread, &dwExit);
    EXPECT_EQ(dwExit, 0u) << "a forced end carries exit code 0";
    CloseHandle(hThread);
}
