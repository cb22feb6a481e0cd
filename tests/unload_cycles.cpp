// Unload cycles: see unload_cycles.h.
#include "unload_cycles.h"

#include <stdio.h>

#include <functional>
#include <set>

#include "audio/EmulatedWave.h"
#include "bravik32.h"
#include "core/Halvex.h"
#include "core/PluginLifecycle.h"
#include "hid/EmulatedHid.h"
#include "process_threads.h"
#include "stopwatch.h"

namespace {

// Bounds of the conditions a cycle waits for; reaching one is a problem.
// Generous: in the emulated 32-bit guest a search takes about 10 s to open
// the last of 3000 devices.
const DWORD D_dwConditionBoundMs = 60000;
// A thread that has been ended leaves the process's thread list a moment
// after its handle is signalled.
const DWORD D_dwSettleBoundMs = 3000;
const char *const D_szPrompt = "unload_cycles_prompt.wav";
const char *const D_szRecording = "unload_cycles_recording.wav";

std::string BesideExecutable(const char *szName) {
    char szPath[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    std::string strPath(szPath);
    return strPath.substr(0, strPath.rfind('\\') + 1) + szName;
}

bool WaitUntil(const std::function<bool()> &condition, DWORD dwBoundMs) {
    CStopwatch sinceStart;
    while (!condition()) {
        if (sinceStart.ElapsedMs() >= dwBoundMs) return false;
        Sleep(1);
    }
    return true;
}

// One second of 16-bit mono silence at 8000 Hz.
void WritePrompt(const std::string &strPath) {
    const DWORD dwData = 16000;
    const DWORD adwHeader[] = {0x46464952, 36 + dwData, 0x45564157, 0x20746D66, 16,    0x00010001,
                               8000,       16000,       0x00100002, 0x61746164, dwData};
    HANDLE hFile = CreateFileA(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return;
    std::string strBytes(reinterpret_cast<const char *>(adwHeader), sizeof adwHeader);
    strBytes.append(dwData, '\0');
    DWORD dwWritten = 0;
    WriteFile(hFile, strBytes.data(), static_cast<DWORD>(strBytes.size()), &dwWritten, nullptr);
    CloseHandle(hFile);
}

void RemovePluginFiles() {
    WIN32_FIND_DATAA found;
    const std::string strLogs = BesideExecutable("halvex_*.log");
    HANDLE hFind = FindFirstFileA(strLogs.c_str(), &found);
    for (BOOL bMore = hFind != INVALID_HANDLE_VALUE; bMore; bMore = FindNextFileA(hFind, &found))
        DeleteFileA(BesideExecutable(found.cFileName).c_str());
    if (hFind != INVALID_HANDLE_VALUE) FindClose(hFind);
    DeleteFileA(BesideExecutable(D_szRecording).c_str());
}

class CCycleRunner {
public:
    CCycleRunner(const UnloadCycleOptions &options, UnloadCycleReport &report)
        : m_options(options), m_report(report), m_desk(CEmulatedHid::Instance()), m_wave(CEmulatedWave::Instance()) {}

    void Run();

private:
    bool Cycle(int nCycle);
    bool ReachDetachMoment(int nOpenAttemptsBefore);
    bool Settle(HANDLE hLink);
    bool Fail(int nCycle, const char *szWhat);

    const UnloadCycleOptions &m_options;
    UnloadCycleReport &m_report;
    CEmulatedHid &m_desk;
    CEmulatedWave &m_wave;
};

void CCycleRunner::Run() {
    srand(m_options.uRandomStart);
    RemovePluginFiles();
    WritePrompt(BesideExecutable(D_szPrompt));
    m_desk.Reset();
    m_desk.UseCrowdedDesk(m_options.nRefusingDevices, true);
    m_desk.Install();
    m_wave.Reset();
    m_wave.AddTypicalDevices();
    m_wave.SetClock(ESimWaveClock::RealTime);
    m_wave.SetInputSource(CEmulatedWave::ToneSource());
    m_wave.Install();
    // The first message queue of the process connects it to its desktop
    // for good (a handle of the process's own); the wave message thread
    // would be the first. That handle is no leak of a cycle.
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    m_report.nThreadsBefore = static_cast<int>(ThreadsOfThisProcess().size());
    m_report.nHandlesBefore = HandlesOfThisProcess();
    for (int nCycle = 0; nCycle < m_options.nCycles && Cycle(nCycle); ++nCycle) ++m_report.nCyclesRun;
    m_wave.Uninstall();
    m_desk.Uninstall();
    RemovePluginFiles();
    DeleteFileA(BesideExecutable(D_szPrompt).c_str());
}

bool CCycleRunner::Cycle(int nCycle) {
    // Counted before the attach: the search opens devices from its start,
    // and a slow host may let it open many before the attach returns.
    const int nOpenAttemptsBefore = m_desk.OpenAttemptCount();
    PluginAttach();
    // The one thread the attach step starts, the link thread, by its own
    // handle: a snapshot of the threads here would be taken while that
    // thread is being created (process_threads.h).
    HANDLE hLink = nullptr;
    if (HANDLE hThread = g_Halvex.ThreadHandle())
        DuplicateHandle(GetCurrentProcess(), hThread, GetCurrentProcess(), &hLink,
                        SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, 0);
    const bool bReached = ReachDetachMoment(nOpenAttemptsBefore);
    CStopwatch sinceStart;
    PluginDetach(false, false);
    const DWORD dwDetachMs = sinceStart.ElapsedMs();
    m_report.dwDetachTotalMs += dwDetachMs;
    if (dwDetachMs > m_report.dwDetachMaxMs) m_report.dwDetachMaxMs = dwDetachMs;
    const bool bSettled = Settle(hLink);
    if (!hLink) return Fail(nCycle, "the attach step started no link thread");
    if (!bReached) return Fail(nCycle, "the moment of the detach never came");
    if (m_options.bDuringAudioJobs &&
        (m_wave.OpenStreams(ESimWaveDirection::Output) != 0 || m_wave.OpenStreams(ESimWaveDirection::Input) != 0))
        return Fail(nCycle, "a wave device stayed open after the detach");
    if (m_desk.OpenHandleCount() != 0 || m_desk.OpenSetCount() != 0)
        return Fail(nCycle, "a HID handle or device set stayed open after the detach");
    return bSettled || Fail(nCycle, "threads or handles stayed above their count before the cycles");
}

bool CCycleRunner::ReachDetachMoment(int nOpenAttemptsBefore) {
    if (m_options.bDuringAudioJobs) {
        if (!m_desk.WaitUntilReading(D_dwConditionBoundMs)) return false;
        const std::string strPrompt = BesideExecutable(D_szPrompt);
        const std::string strRecording = BesideExecutable(D_szRecording);
        if (TV_StartPlayFile(0, strPrompt.c_str(), 0, 0) != 0) return false;
        if (TV_StartRecordFile(0, strRecording.c_str(), 0, 0) != 0) return false;
        return WaitUntil(
            [this] {
                return m_wave.OpenStreams(ESimWaveDirection::Output) == 1 &&
                       m_wave.OpenStreams(ESimWaveDirection::Input) == 1;
            },
            D_dwConditionBoundMs);
    }
    // None to all of the desk's devices opened, the handset included.
    const int nOpens = rand() % (m_options.nRefusingDevices + 2);
    return WaitUntil(
        [this, nOpenAttemptsBefore, nOpens] { return m_desk.OpenAttemptCount() - nOpenAttemptsBefore >= nOpens; },
        D_dwConditionBoundMs);
}

bool CCycleRunner::Settle(HANDLE hLink) {
    if (hLink) {
        DWORD dwExitCode = 0;
        if (WaitForSingleObject(hLink, D_dwSettleBoundMs) != WAIT_OBJECT_0 || !GetExitCodeThread(hLink, &dwExitCode) ||
            dwExitCode != 1)
            ++m_report.nForcedEnds;
        CloseHandle(hLink);
    }
    int nThreadsLeft = 0, nHandlesLeft = 0;
    // The link thread is gone; the wave message thread and Wine's audio
    // threads end shortly after.
    const bool bSettled = SettledWithin(
        [&] {
            nThreadsLeft = static_cast<int>(ThreadsOfThisProcess().size()) - m_report.nThreadsBefore;
            nHandlesLeft = HandlesOfThisProcess() - m_report.nHandlesBefore;
            return nThreadsLeft <= 0 && nHandlesLeft <= 0;
        },
        D_dwSettleBoundMs);
    if (nThreadsLeft > m_report.nThreadsLeftMax) m_report.nThreadsLeftMax = nThreadsLeft;
    if (nHandlesLeft > m_report.nHandlesLeftMax) m_report.nHandlesLeftMax = nHandlesLeft;
    return bSettled;
}

bool CCycleRunner::Fail(int nCycle, const char *szWhat) {
    if (m_report.strProblem.empty()) m_report.strProblem = "cycle " + std::to_string(nCycle) + ": " + szWhat;
    return false;
}

}  // namespace

UnloadCycleReport RunUnloadCycles(const UnloadCycleOptions &options) {
    UnloadCycleReport report;
    CCycleRunner(options, report).Run();
    return report;
}

std::string Describe(const UnloadCycleReport &report) {
    char szLine[512];
    snprintf(szLine, sizeof szLine,
             "%d cycles; before: %d threads, %d handles; most left after a cycle: %d threads, "
             "%d handles; link threads ended by force: %d; detach %lu ms at most, %lu ms on average%s%s",
             report.nCyclesRun, report.nThreadsBefore, report.nHandlesBefore, report.nThreadsLeftMax,
             report.nHandlesLeftMax, report.nForcedEnds, static_cast<unsigned long>(report.dwDetachMaxMs),
             static_cast<unsigned long>(report.nCyclesRun ? report.dwDetachTotalMs / report.nCyclesRun : 0),
             report.strProblem.empty() ? "" : "; ", report.strProblem.c_str());
    return szLine;
}
