// File playback: see FilePlayback.h.
//
// Threads: the host's threads start, stop and test the job; the wave message
// thread runs PlayBlockDone for every block the output returns, refills the
// queue from the file and ends the job at the end of the file. The job's
// pointer, its file and the end-of-file mark are used only under the job's
// lock (FileJob.h); the output's own lock is taken inside it, never the other
// way round.
//
// The end of a playback: when a refill finds the end of the file it queues
// D_nPlayEndSilenceBytes of silence instead, and the job stays until the
// device has nothing of it queued any more, so the last blocks are heard to
// their end; a host stop resets the output and cuts at once. The silence is
// there for the stacks that report a block done when they have taken it
// rather than played it: Wine's winmm returns the last block while its ALSA
// driver still holds up to a period of it (24 ms seen), and the reset that
// ends the job drops that. Behind the silence, the stack drops only silence;
// where the done notification follows the sound, as on Windows, the job ends
// that much later (100 ms, four times the most Wine held). No wait and no
// new device call: the wave message thread never blocks for it, and a stop
// or an unload meanwhile cuts the silence like any other block.
//
// A job that the device took no block of (it refused every one, or was lost
// meanwhile) ends at its start: no returned block would ever carry it on. A
// start that fails (no file, no output, no sound in the file) ends its job
// before it returns -1, so the next start finds the slot free. A block
// returned by a reset, or by an output that an earlier job stopped, finds no
// live job and is dropped.
#include "audio/FilePlayback.h"

#include <cstring>

#include "audio/FileJob.h"
#include "audio/WaveDirection.h"
#include "audio/WaveFile.h"
#include "audio/waveinout.h"

WaveFile *g_pPlayFile = nullptr;

namespace {

const int D_nOpeningBlockSize = 40960;  // 2.56 s at 16000 bytes per second
const int D_nOpeningBlocks = 2;
const int D_nRefillBlockSize = 10240;  // 0.64 s
static_assert(D_nPlayEndSilenceBytes <= D_nRefillBlockSize, "the end's silence fits the refill buffer");
CFileJob g_PlayJob(g_pPlayFile);
// The file has yielded its last sample byte; under the job's lock.
bool g_bPlayFileAtEnd = false;

// Under the job's lock. The result is 0 as soon as the file yielded its first
// bytes, whatever the device answered.
int QueueOpeningBlocks() {
    char buffer[D_nOpeningBlockSize];
    int nResult = -1;
    for (int nBlock = 0; nBlock < D_nOpeningBlocks; ++nBlock) {
        int nRead = g_pPlayFile->Read(buffer, D_nOpeningBlockSize);
        if (nRead <= 0) break;
        WriteWaveOut(buffer, nRead);
        nResult = 0;
    }
    return nResult;
}

// Under the job's lock, on the wave message thread.
void QueueRefill() {
    char buffer[D_nRefillBlockSize];
    int nRead = g_pPlayFile->Read(buffer, D_nRefillBlockSize);
    if (nRead > 0) {
        WriteWaveOut(buffer, nRead);
        return;
    }
    g_bPlayFileAtEnd = true;
    memset(buffer, SilenceByte(), D_nPlayEndSilenceBytes);
    WriteWaveOut(buffer, D_nPlayEndSilenceBytes);
}

// Under the job's lock.
void EndPlayJob(const CDeadline &deadline) {
    if (!g_PlayJob.Release()) return;
    g_bPlayFileAtEnd = false;
    // Every block still queued comes back at once and finds no job; the
    // output closes after the last one.
    StopWaveOut(deadline);
}

}  // namespace

int StartPlayFile(const char *pszPath) {
    unsigned nJob = 0;
    {
        CLockGuard lock(g_PlayJob.Lock(), CDeadline(CFileJob::D_dwLockBoundMs));
        if (!lock.Held() || g_PlayJob.Exists()) return -1;
        g_bPlayFileAtEnd = false;
        if (!g_PlayJob.Create(pszPath ? pszPath : "", 'r')) return -1;
        g_pfnWaveOutDone = PlayBlockDone;
        nJob = g_PlayJob.Generation();
    }
    // Opened without the job's lock: an output that the previous job stopped
    // may still be returning its blocks to PlayBlockDone, which needs the
    // lock, and the open waits for that output's close.
    MMRESULT nOpened = OpenWaveOut();
    const CDeadline deadline(CFileJob::D_dwLockBoundMs);
    CLockGuard lock(g_PlayJob.Lock(), deadline);
    if (!lock.Held() || !g_PlayJob.OpenedFor(nJob, nOpened, StopWaveOut, CDeadline(D_dwWaveLockBoundMs))) return -1;
    g_PlayJob.SetLive();
    int nResult = QueueOpeningBlocks();
    // A file with no sound has started nothing; a file that yielded sound
    // the device holds none of would never be ended by a returned block.
    if (nResult != 0 || g_WaveOut.m_nHeld <= 0) EndPlayJob(deadline);
    return nResult;
}

int StopPlayFile(const CDeadline &deadline) {
    CLockGuard lock(g_PlayJob.Lock(), deadline.ForOneLock(), "playback job");
    if (lock.Held()) EndPlayJob(deadline);
    return 0;
}

int IsPlayingFile() {
    CLockGuard lock(g_PlayJob.Lock(), CDeadline(CFileJob::D_dwLockBoundMs));
    return lock.Held() && g_PlayJob.Exists() ? 1 : 0;
}

int PlayBlockDone(const char *, int) {
    const CDeadline deadline(CFileJob::D_dwLockBoundMs);
    CLockGuard lock(g_PlayJob.Lock(), deadline);
    if (!lock.Held() || !g_PlayJob.Exists() || !g_PlayJob.IsLive()) return 0;
    if (!g_bPlayFileAtEnd) QueueRefill();
    // Nothing of the job left in the device: the file has been played to its
    // end (or the device refused the refill, and no block will come back to
    // carry the playback on).
    if (g_WaveOut.m_nHeld <= 0) EndPlayJob(deadline);
    return 0;
}
