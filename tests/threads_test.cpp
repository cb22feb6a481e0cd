// The worker-thread base and the wave message thread. Workers tell the test
// when their body runs; a test never guesses how long a start takes.
#include <gtest/gtest.h>

#include <atomic>

#include "loader_lock.h"
#include "support/BaseThread.h"
#include "support/BoundedLock.h"
#include "support/ThreadEnd.h"
#include "audio/WaveMsgThread.h"
#include "stopwatch.h"

namespace {

const DWORD D_dwStartBoundMs = 10000;  // a thread start, however busy the machine
// A deadline that gives an end with either timeout below all its waits together.
const DWORD D_dwEndBoundMs = D_dwStartBoundMs + CThreadEnd::D_dwMostBeyondTimeoutMs;

// Sets its event when its body has begun.
class CSignallingWorker : public CBaseThread {
public:
    CSignallingWorker() : m_hRunning(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~CSignallingWorker() override { CloseHandle(m_hRunning); }
    // Starts the worker and waits until its body runs.
    ::testing::AssertionResult StartRunning(DWORD dwParam = 0) {
        ResetEvent(m_hRunning);
        Start(dwParam);
        if (WaitForSingleObject(m_hRunning, D_dwStartBoundMs) == WAIT_OBJECT_0) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the worker's body did not begin within 10 s";
    }

protected:
    void SignalRunning() { SetEvent(m_hRunning); }

private:
    HANDLE m_hRunning;
};

class CCooperativeWorker : public CSignallingWorker {
public:
    DWORD Run(DWORD dwParam) override {
        SignalRunning();
        while (!IsStopRequested(0)) Sleep(1);
        return dwParam + 1;
    }
};

// Waits far past the stop timeout, deaf to the stop, before it looks at the
// run signal; or (bInSystemCall) stays as long in a call that is not a wait,
// as a body does in a device open that does not return.
class CStuckWorker : public CSignallingWorker {
public:
    explicit CStuckWorker(bool bInSystemCall = false) : m_bInSystemCall(bInSystemCall) {}
    DWORD Run(DWORD) override {
        SignalRunning();
        const HANDLE hNever = GetCurrentProcess();  // signalled only at exit
        do {
            if (m_bInSystemCall)
                Sleep(5000);
            else
                WaitAllowingEnd(1, &hNever, 5000);
        } while (!IsStopRequested(0));
        return 0;
    }

private:
    const bool m_bInSystemCall;
};

class CWaitingWorker : public CSignallingWorker {
public:
    DWORD Run(DWORD) override {
        SignalRunning();
        while (!WaitForStop(2000)) {
        }
        return 7;
    }
};

// The loader runs thread-attach notifications, the executable's TLS
// callbacks among them, under the loader lock before a new thread reaches
// its entry function. This callback holds one chosen thread there for a
// while, as a slow DLL or a machine busy elsewhere can.
std::atomic<bool> g_bHoldNextAttach{false};
HANDLE g_hAttachHeld = CreateEventA(nullptr, TRUE, FALSE, nullptr);
const DWORD D_dwAttachHoldMs = 400;

// The thread whose thread-detach notification the callback looks for: a
// thread that exits runs them, a thread ended by force does not.
std::atomic<DWORD> g_dwDetachWatched{0};
HANDLE g_hWatchedDetached = CreateEventA(nullptr, TRUE, FALSE, nullptr);

void NTAPI HoldThreadAttach(PVOID, DWORD dwReason, PVOID) {
    if (dwReason == DLL_THREAD_DETACH && GetCurrentThreadId() == g_dwDetachWatched) SetEvent(g_hWatchedDetached);
    if (dwReason != DLL_THREAD_ATTACH || !g_bHoldNextAttach.exchange(false)) return;
    SetEvent(g_hAttachHeld);
    Sleep(D_dwAttachHoldMs);
}

extern "C" __attribute__((section(".CRT$XLF"), used))
const PIMAGE_TLS_CALLBACK g_pfnHoldThreadAttach = HoldThreadAttach;

DWORD WINAPI LoadAndFreeALibrary(LPVOID) {
    HMODULE hModule = LoadLibraryA("version.dll");
    if (hModule) FreeLibrary(hModule);
    return hModule ? 1 : 0;
}

// A bare thread that ends through a CThreadEnd after dwWorkMs.
struct ParkingBody {
    CThreadEnd *pEnd;
    DWORD dwWorkMs;
    // Restarted when the body parks; bParked says that it did.
    CStopwatch sinceParked;
    std::atomic<bool> bParked{false};
    static DWORD WINAPI Proc(LPVOID lpContext) {
        ParkingBody *pBody = static_cast<ParkingBody *>(lpContext);
        Sleep(pBody->dwWorkMs);
        pBody->sinceParked.Restart();
        pBody->bParked = true;
        pBody->pEnd->Park(42);
        return 42;
    }
};

}  // namespace

TEST(BaseThread, StopOfANeverStartedObjectReturnsAtOnce) {
    CCooperativeWorker worker;
    CStopwatch sinceStart;
    EXPECT_TRUE(worker.Stop(CDeadline(CBaseThread::D_dwStopBoundMs)));
    EXPECT_TRUE(worker.Stop(CDeadline(CBaseThread::D_dwStopBoundMs))) << "a second Stop must also return 1";
    EXPECT_LT(sinceStart.ElapsedMs(), 50u);
}

TEST(BaseThread, CooperativeWorkerEndsByItself) {
    CCooperativeWorker worker;
    ASSERT_TRUE(worker.StartRunning(41));
    EXPECT_FALSE(worker.HasEnded());
    EXPECT_TRUE(worker.Stop(CDeadline(CBaseThread::D_dwStopBoundMs)));
}

// Fault: the test stopped the worker 20 ms after Start, a guess; on a busy
// machine the worker had not started yet, saw the withdrawn run signal and
// ended by itself. The worker now says when it is stuck.
TEST(BaseThread, StuckWorkerIsEndedByForceAfterAbout100ms) {
    CStuckWorker worker;
    ASSERT_TRUE(worker.StartRunning());
    CStopwatch sinceStart;
    EXPECT_FALSE(worker.Stop(CDeadline(CBaseThread::D_dwStopBoundMs)));
    DWORD dwElapsed = sinceStart.ElapsedMs();
    EXPECT_GE(dwElapsed, 80u);
    EXPECT_LT(dwElapsed, 1000u);
}

// Ended inside a call into the system, a thread would take the locks it
// holds there with it; Stop waits for the call to return, within its bound.
TEST(BaseThread, WorkerStuckInASystemCallIsEndedOnlyAfterTheSafePointWait) {
    CStuckWorker worker(true);
    ASSERT_TRUE(worker.StartRunning());
    CStopwatch sinceStart;
    EXPECT_FALSE(worker.Stop(CDeadline(CBaseThread::D_dwStopBoundMs)));
    DWORD dwElapsed = sinceStart.ElapsedMs();
    EXPECT_GE(dwElapsed, CThreadEnd::D_dwSafeEndWaitMs);
    EXPECT_LT(dwElapsed, 100 + CThreadEnd::D_dwSafeEndWaitMs + CThreadEnd::D_dwTerminationMs);
}

TEST(BaseThread, StopCutsAWorkersPauseShort) {
    CWaitingWorker worker;
    ASSERT_TRUE(worker.StartRunning());
    CStopwatch sinceStart;
    EXPECT_TRUE(worker.Stop(CDeadline(CBaseThread::D_dwStopBoundMs)));
    EXPECT_LT(sinceStart.ElapsedMs(), 100u);
}

// Fault: processes hung at their exit after all their tests had passed. A
// stop that came while the worker was still starting (inside the loader's
// thread-attach notifications, a while on a busy machine) ended it by force
// there, and the loader lock it owned was never released: every later load
// and the process's exit waited for it. The stop now waits for the thread
// to leave the loader.
TEST(BaseThread, RegressionProcessesHangAtExitAfterAStopOfAStartingThread) {
    CCooperativeWorker worker;
    ResetEvent(g_hAttachHeld);
    g_bHoldNextAttach = true;
    worker.Start(0);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(g_hAttachHeld, D_dwStartBoundMs))
        << "the worker's thread-attach notification did not run";
    // Once out of the loader the body ends by itself, or, on a busy machine,
    // is ended before it begins: either way, never inside the loader.
    CStopwatch sinceStart;
    worker.Stop(CDeadline(CBaseThread::D_dwStopBoundMs));
    EXPECT_LT(sinceStart.ElapsedMs(), D_dwAttachHoldMs + CThreadEnd::D_dwSafeEndWaitMs);

    HANDLE hLoader = CreateThread(nullptr, 0, LoadAndFreeALibrary, nullptr, 0, nullptr);
    ASSERT_NE(hLoader, nullptr);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hLoader, D_dwStartBoundMs))
        << "a library load waits for ever: the loader lock died with the stopped thread";
    CloseHandle(hLoader);
}

TEST(BaseThread, IsStopRequestedWaitsOnlyOnceStopped) {
    CCooperativeWorker worker;
    ASSERT_TRUE(worker.StartRunning());
    CStopwatch sinceStart;
    EXPECT_FALSE(worker.IsStopRequested(300)) << "must answer at once while running";
    EXPECT_LT(sinceStart.ElapsedMs(), 100u);
    worker.Stop(CDeadline(CBaseThread::D_dwStopBoundMs));
    sinceStart.Restart();
    EXPECT_TRUE(worker.IsStopRequested(150));
    EXPECT_GE(sinceStart.ElapsedMs(), 120u);
}

TEST(BaseThread, CanBeStartedAgainAfterStop) {
    CCooperativeWorker worker;
    ASSERT_TRUE(worker.StartRunning());
    EXPECT_TRUE(worker.Stop(CDeadline(CBaseThread::D_dwStopBoundMs)));
    ASSERT_TRUE(worker.StartRunning());
    EXPECT_TRUE(worker.Stop(CDeadline(CBaseThread::D_dwStopBoundMs)));
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
    DuplicateHandle(GetCurrentProcess(), hThread, GetCurrentProcess(), &hCopy, 0, FALSE, DUPLICATE_SAME_ACCESS);
    ASSERT_TRUE(PostThreadMessageA(dwFirst, WM_QUIT, 0, 0));
    ASSERT_EQ(WaitForSingleObject(hCopy, 2000), WAIT_OBJECT_0) << "WM_QUIT did not end the loop";
    DWORD dwExit = 1;
    GetExitCodeThread(hCopy, &dwExit);
    EXPECT_EQ(dwExit, 0u);
    CloseHandle(hCopy);
    StopWaveMsgThread(CDeadline(D_dwWaveThreadStopBoundMs));
    EXPECT_EQ(g_dwWaveThreadId, 0u);
    EXPECT_EQ(g_hWaveThread, nullptr);
}

// A finished body parks where ending it is clean; the controller learns of
// it at once (no wait for a thread exit that the loader lock would hold up)
// and the thread still ends with the body's result.
TEST(ThreadEnd, FinishedBodyIsCollectedAtOnceWithItsResult) {
    CThreadEnd end;
    ParkingBody body{&end, 0, {}, {false}};
    HANDLE hThread = CreateThread(nullptr, 0, ParkingBody::Proc, &body, 0, nullptr);
    ASSERT_NE(hThread, nullptr);
    EXPECT_TRUE(end.EndThread(hThread, D_dwStartBoundMs, 0, CDeadline(D_dwEndBoundMs)));
    // Waiting for the thread's exit instead would take the park's full
    // second: the parked thread leaves it only then.
    ASSERT_TRUE(body.bParked);
    EXPECT_LT(body.sinceParked.ElapsedMs(), CThreadEnd::D_dwUncollectedParkMs);
    EXPECT_EQ(WaitForSingleObject(hThread, 0), WAIT_OBJECT_0) << "the parked thread must be gone";
    DWORD dwExit = 0;
    GetExitCodeThread(hThread, &dwExit);
    EXPECT_EQ(dwExit, 42u);
    CloseHandle(hThread);
}

// Fault: a host that unloaded the plug-in right after loading it had its
// later unload or its exit hang. The detach step, under the loader lock,
// found the link thread still waiting for that lock to start and ended it
// inside the wait; the lock's wait bookkeeping kept pointing at the dead
// thread's stack. The thread is now let go without running our code.
TEST(ThreadEnd, RegressionAThreadStoppedBeforeItLeftTheLoaderExitsInsteadOfBeingEndedInItsWait) {
    CThreadEnd end;
    ParkingBody body{&end, 0, {}, {false}};
    ULONG_PTR ulCookie = 0;
    ASSERT_EQ(0, LdrLockLoaderLock(0, nullptr, &ulCookie));
    ResetEvent(g_hWatchedDetached);
    DWORD dwThreadId = 0;
    HANDLE hThread = CreateThread(nullptr, 0, end.Rearm(ParkingBody::Proc), &body, 0, &dwThreadId);
    g_dwDetachWatched = dwThreadId;
    CStopwatch sinceStart;
    const bool bEndedByItself = hThread && end.EndThread(hThread, 100, 77, CDeadline(D_dwEndBoundMs));
    const DWORD dwStopMs = sinceStart.ElapsedMs();
    LdrUnlockLoaderLock(0, ulCookie);
    ASSERT_NE(hThread, nullptr);
    EXPECT_FALSE(bEndedByItself);
    EXPECT_LT(dwStopMs, 100 + CThreadEnd::D_dwSafeEndWaitMs) << "the stop must not wait for the loader lock it holds";
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hThread, D_dwStartBoundMs)) << "the let-go thread never exited";
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(g_hWatchedDetached, 0))
        << "the thread was ended by force instead of exiting (no thread-detach notification)";
    EXPECT_FALSE(body.bParked) << "the body ran after its stop";
    DWORD dwExit = 0;
    GetExitCodeThread(hThread, &dwExit);
    EXPECT_EQ(dwExit, 77u);
    CloseHandle(hThread);
    HANDLE hLoader = CreateThread(nullptr, 0, LoadAndFreeALibrary, nullptr, 0, nullptr);
    ASSERT_NE(hLoader, nullptr);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hLoader, D_dwStartBoundMs)) << "the loader lock is lost";
    CloseHandle(hLoader);
}

// Fault: each unload left a handle behind under Wine: the finished wave
// message thread was ended by force under the loader lock, so the system
// never freed its message queue. A worker now leaves through its start page
// and exits by itself once the lock is free, thread-detach notifications
// and its own exit code included.
TEST(BaseThread, RegressionAWorkerStoppedUnderTheLoaderLockExitsByItself) {
    CCooperativeWorker worker;
    ASSERT_TRUE(worker.StartRunning(41));
    HANDLE hThread = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), worker.ThreadHandle(), GetCurrentProcess(), &hThread, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    g_dwDetachWatched = worker.ThreadId();
    ResetEvent(g_hWatchedDetached);
    ULONG_PTR ulCookie = 0;
    ASSERT_EQ(0, LdrLockLoaderLock(0, nullptr, &ulCookie));
    const bool bEndedByItself = worker.Stop(CDeadline::ForUnload(true, 3000)) != FALSE;
    LdrUnlockLoaderLock(0, ulCookie);
    EXPECT_TRUE(bEndedByItself);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hThread, D_dwStartBoundMs)) << "the worker never exited";
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(g_hWatchedDetached, 0))
        << "the worker was ended by force instead of exiting (no thread-detach notification)";
    DWORD dwExit = 0;
    GetExitCodeThread(hThread, &dwExit);
    EXPECT_EQ(dwExit, 42u) << "Run's result";
    CloseHandle(hThread);
}

TEST(ThreadEnd, BodyStillRunningAfterTheTimeoutIsEndedByForce) {
    CThreadEnd end;
    ParkingBody body{&end, 5000, {}, {false}};
    HANDLE hThread = CreateThread(nullptr, 0, ParkingBody::Proc, &body, 0, nullptr);
    ASSERT_NE(hThread, nullptr);
    EXPECT_FALSE(end.EndThread(hThread, 100, 0, CDeadline(D_dwEndBoundMs)));
    EXPECT_EQ(WaitForSingleObject(hThread, 0), WAIT_OBJECT_0);
    DWORD dwExit = 42;
    GetExitCodeThread(hThread, &dwExit);
    EXPECT_EQ(dwExit, 0u) << "a forced end carries exit code 0";
    CloseHandle(hThread);
}

// A TerminateThread that, as the system may, ends the thread only a while
// after it has returned: it asks a thread of the test's to end it. That
// thread first gives a probe the chance to take the process heap; the probe
// notes whether the ended thread was already gone when it got it.
struct DelayedEnd {
    HANDLE hTarget;
    HANDLE hAsked = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE hHeapTaken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> bGoneWhenHeapTaken{false};
    ~DelayedEnd() {
        CloseHandle(hAsked);
        CloseHandle(hHeapTaken);
    }
    static DelayedEnd *s_pCurrent;
    static BOOL WINAPI Ask(HANDLE, DWORD) { return SetEvent(s_pCurrent->hAsked); }
    // Neither thread allocates: the heap may be locked while they run.
    static DWORD WINAPI Probe(LPVOID lpEnd) {
        DelayedEnd *pEnd = static_cast<DelayedEnd *>(lpEnd);
        if (WaitForSingleObject(pEnd->hAsked, D_dwStartBoundMs) != WAIT_OBJECT_0) return 1;
        HeapLock(GetProcessHeap());
        pEnd->bGoneWhenHeapTaken = WaitForSingleObject(pEnd->hTarget, 0) == WAIT_OBJECT_0;
        HeapUnlock(GetProcessHeap());
        SetEvent(pEnd->hHeapTaken);
        return 0;
    }
    static DWORD WINAPI Ender(LPVOID lpEnd) {
        DelayedEnd *pEnd = static_cast<DelayedEnd *>(lpEnd);
        if (WaitForSingleObject(pEnd->hAsked, D_dwStartBoundMs) != WAIT_OBJECT_0) return 1;
        // How long the fault has to show: a heap unlocked too early is
        // taken at once. The stop waits far longer for the end to come.
        WaitForSingleObject(pEnd->hHeapTaken, 100);
        TerminateThread(pEnd->hTarget, 0);
        return 0;
    }
};
DelayedEnd *DelayedEnd::s_pCurrent = nullptr;

// Fault: the stop gave the heaps' locks back as soon as TerminateThread
// returned, but that call only asks for the end; the thread, still running,
// could then take a heap's lock and die holding it. The heaps now stay
// locked until the thread is gone.
TEST(ThreadEnd, RegressionTheHeapsStayLockedUntilAThreadEndedByForceIsGone) {
    CThreadEnd end;
    ParkingBody body{&end, 5000, {}, {false}};
    HANDLE hThread = CreateThread(nullptr, 0, ParkingBody::Proc, &body, 0, nullptr);
    ASSERT_NE(hThread, nullptr);
    DelayedEnd delayed;
    delayed.hTarget = hThread;
    DelayedEnd::s_pCurrent = &delayed;
    const HANDLE ahHelpers[2] = {CreateThread(nullptr, 0, DelayedEnd::Probe, &delayed, 0, nullptr),
                                 CreateThread(nullptr, 0, DelayedEnd::Ender, &delayed, 0, nullptr)};
    ASSERT_TRUE(ahHelpers[0] && ahHelpers[1]);
    end.UseTerminate(DelayedEnd::Ask);
    EXPECT_FALSE(end.EndThread(hThread, 100, 0, CDeadline(D_dwEndBoundMs)));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, ahHelpers, TRUE, D_dwStartBoundMs)) << "the helpers never ended";
    EXPECT_EQ(WaitForSingleObject(hThread, 0), WAIT_OBJECT_0) << "the delayed end did not come";
    EXPECT_TRUE(delayed.bGoneWhenHeapTaken) << "the heap was unlocked while the ended thread still ran";
    for (HANDLE hHelper : ahHelpers) CloseHandle(hHelper);
    CloseHandle(hThread);
}

// The lock a thread ended by force may hold: a waiter takes it over from a
// dead owner after one look, and gives up on a live one at its bound.
struct LockHolder {
    CBoundedLock *pLock;
    HANDLE hHolding;
    static DWORD WINAPI HoldForEver(LPVOID lpHolder) {
        LockHolder *pHolder = static_cast<LockHolder *>(lpHolder);
        pHolder->pLock->Enter(CDeadline(0));
        SetEvent(pHolder->hHolding);
        Sleep(INFINITE);
        return 0;
    }
};

TEST(BoundedLock, IsTakenOverFromADeadOwnerAndNotFromALiveOne) {
    CBoundedLock lock;
    LockHolder holder{&lock, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HANDLE hOwner = CreateThread(nullptr, 0, LockHolder::HoldForEver, &holder, 0, nullptr);
    ASSERT_NE(hOwner, nullptr);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(holder.hHolding, D_dwStartBoundMs));
    CStopwatch sinceStart;
    EXPECT_EQ(CBoundedLock::EEntryResult::TimedOut, lock.Enter(CDeadline(200))) << "the owner lives";
    // The lock counts its bound on the tick count, which under Wine moves in
    // late steps: by the performance counter it gave up after 188 ms once.
    EXPECT_GE(sinceStart.ElapsedMs(), 150u);
    TerminateThread(hOwner, 0);
    WaitForSingleObject(hOwner, D_dwStartBoundMs);
    CloseHandle(hOwner);
    sinceStart.Restart();
    EXPECT_EQ(CBoundedLock::EEntryResult::EnteredFromDeadOwner, lock.Enter(CDeadline(D_dwStartBoundMs)));
    EXPECT_LT(sinceStart.ElapsedMs(), D_dwStartBoundMs / 2) << "one look at the owner should do";
    lock.Leave();
    EXPECT_EQ(CBoundedLock::EEntryResult::Entered, lock.Enter(CDeadline(0)));
    lock.Leave();
    CloseHandle(holder.hHolding);
}
