// File recording: see FilePlayback.h.
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
// header is closed. A buffer that comes later still, or from an input that an
// earlier job stopped, finds no live job and is dropped.
#include "audio/FileJob.h"
#include "audio/FilePlayback.h"
#include "audio/WaveFile.h"
#include "audio/waveinout.h"
#include "support/ScopedLock.h"

WaveFile *g_pRecordFile = nullptr;

namespace {

// The reset returns the buffers at once; handling them takes milliseconds.
const DWORD D_dwReturnedBuffersTimeout = 2000;

CFileJob g_RecordJob(g_pRecordFile);

}  // namespace

int StartRecordFile(const char *pszPath) {
    // The stop waits for its input's close, so the input is closed here
    // unless that wait ran out: then wait once more, outside the lock that
    // the input's last buffers need. The open below then waits for nothing,
    // and keeps the lock so that the first buffers of the new input find the
    // job live.
    WaitWaveInClosed(D_dwReturnedBuffersTimeout);
    CScopedLock lock(g_RecordJob.Guard());
    if (g_RecordJob.Exists() || !pszPath || !*pszPath) return -1;
    if (!g_RecordJob.Create(pszPath, 'w')) return -1;
    g_pfnWaveInData = RecordBlockReady;
    if (OpenWaveIn() != MMSYSERR_NOERROR) return -1;
    // Buffers of the input just started wait for the lock, so none is missed.
    g_RecordJob.SetLive();
    return 0;
}

int StopRecordFile() {
    unsigned nJob = 0;
    {
        CScopedLock lock(g_RecordJob.Guard());
        if (!g_RecordJob.Exists()) return 0;
        nJob = g_RecordJob.Generation();
        StopWaveIn();
    }
    WaitWaveInClosed(D_dwReturnedBuffersTimeout);
    CScopedLock lock(g_RecordJob.Guard());
    // Another host thread's stop may have ended the job meanwhile, and a
    // start may even have begun the next one.
    if (g_RecordJob.Generation() == nJob) g_RecordJob.Release();
    return 0;
}

int IsRecordingFile() {
    CScopedLock lock(g_RecordJob.Guard());
    return g_RecordJob.Exists() ? 1 : 0;
}

int RecordBlockReady(const char *pBytes, int nLength) {
    CScopedLock lock(g_RecordJob.Guard());
    if (g_RecordJob.Exists() && g_RecordJob.IsLive()) g_pRecordFile->Write(pBytes, nLength);
    return 0;
}
