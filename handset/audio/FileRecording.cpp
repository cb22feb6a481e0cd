// File recording: see FileRecording.h.
//
// Threads: the host's threads start, stop and test the job; the wave message
// thread runs RecordBlockReady for every filled input buffer and appends it
// to the file, whose header sizes the writer keeps current after every
// block. The job's pointer and its file are used only under the job's lock
// (FileJob.h); the input's own lock is taken inside it, never the other way
// round.
//
// The stop: resetting the input returns its four buffers (320 ms of sound,
// the one being filled padded with silence) to the wave message thread. The
// stop lets go of the job's lock and waits, bounded, for the input's close,
// which follows the last of them, so that they reach the file before its
// header is closed; an input that does not close in that time is abandoned
// (waveinout.h), so the next start finds it closed. The start opens the
// input without the job's lock too: should it find an input still closing,
// that input's last buffers need the lock to be dropped. The job is live
// before the open, so the first buffers of the new input are not missed; a
// buffer that a closing input returns while an open waits for it, or that an
// abandoned input returns later, never reaches the recorder.
#include "audio/FileJob.h"
#include "audio/FileRecording.h"
#include "audio/WaveFile.h"
#include "audio/waveinout.h"

WaveFile *g_pRecordFile = nullptr;

namespace {

CFileJob g_RecordJob(g_pRecordFile);

}  // namespace

int StartRecordFile(const char *pszPath) {
    unsigned nJob = 0;
    {
        CLockGuard lock(g_RecordJob.Lock(), CDeadline(CFileJob::D_dwLockBoundMs));
        if (!lock.Held() || g_RecordJob.Exists() || !pszPath || !*pszPath) return -1;
        if (!g_RecordJob.Create(pszPath, 'w')) return -1;
        g_pfnWaveInData = RecordBlockReady;
        g_RecordJob.SetLive();
        nJob = g_RecordJob.Generation();
    }
    MMRESULT nOpened = OpenWaveIn();
    CLockGuard lock(g_RecordJob.Lock(), CDeadline(CFileJob::D_dwLockBoundMs));
    // No input: nothing was recorded, and the header-only file goes too.
    return lock.Held() && g_RecordJob.OpenedFor(nJob, nOpened, StopWaveIn) ? 0 : -1;
}

int StopRecordFile() { return StopRecordFile(CDeadline(CFileJob::D_dwLockBoundMs)); }

int StopRecordFile(const CDeadline &deadline) {
    unsigned nJob = 0;
    {
        CLockGuard lock(g_RecordJob.Lock(), deadline.ForOneLock(), "recording job");
        if (!lock.Held() || !g_RecordJob.Exists()) return 0;
        nJob = g_RecordJob.Generation();
        StopWaveIn(deadline);
    }
    FinishWaveInClose(deadline.Within(D_dwRecordStopTimeout), deadline.ForOneLock());
    CLockGuard lock(g_RecordJob.Lock(), deadline.ForOneLock(), "recording job");
    // Another host thread's stop may have ended the job meanwhile, and a
    // start may even have begun the next one.
    if (lock.Held() && g_RecordJob.Generation() == nJob) g_RecordJob.Release();
    return 0;
}

int IsRecordingFile() {
    CLockGuard lock(g_RecordJob.Lock(), CDeadline(CFileJob::D_dwLockBoundMs));
    return lock.Held() && g_RecordJob.Exists() ? 1 : 0;
}

int RecordBlockReady(const char *pBytes, int nLength) {
    CLockGuard lock(g_RecordJob.Lock(), CDeadline(CFileJob::D_dwLockBoundMs));
    if (lock.Held() && g_RecordJob.Exists() && g_RecordJob.IsLive()) g_pRecordFile->Write(pBytes, nLength);
    return 0;
}
