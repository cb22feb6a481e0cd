// One job slot of the player or the recorder: the owning pointer, the lock
// that guards it and its file, and whether what the device returns belongs
// to the job yet.
//
// The lock is held by host threads across a start or a stop, device calls
// included (opens, resets and writes return at once: the wave API only posts
// to the wave message thread), and by the wave message thread across a whole
// sink call. So no sink reads from or writes into a file that a stop is
// closing or has closed, and a stop that meets the end of a playback ends the
// job once. The lock is never held while a thread waits for the wave message
// thread to handle something, since that thread may itself be waiting for the
// lock inside a sink: the starts open their device without it, and a
// recording stop lets go of it while the input returns its last buffers.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include "support/BoundedLock.h"

class WaveFile;

class CFileJob {
public:
    explicit CFileJob(WaveFile *&pFile);
    // At unload: a job still running gets its file closed.
    ~CFileJob();

    bool Exists() const { return m_pFile != nullptr; }
    // Set once what the device returns belongs to the job: for playback
    // when its output has been opened for it (until then the output may
    // still be returning an earlier job's blocks), for recording at once
    // (the input drops what an earlier input returns, waveinout.h).
    bool IsLive() const { return m_bLive; }
    void SetLive() { m_bLive = true; }
    // Creates the job for the path and opens its file in cMode. False when
    // the file did not open; then no job is left (Discard).
    bool Create(const char *pszPath, char cMode);
    // Takes the job out of its slot, closes its file and destroys it. False
    // when there was none.
    bool Release();
    // Ends a job whose start failed: a start that fails has started nothing,
    // so the host's next start must not find the slot taken, and a file it
    // created for writing holds only a header and is deleted.
    void Discard();
    // After a start opened its device (nOpened) without the lock, under it
    // again: true when job nJob still exists and its device is open. Another
    // host thread may have stopped the job meanwhile, perhaps before the
    // device was open: the device is then nobody's unless a new job took
    // it, and pfnStopDevice stops it by stopWait. A device that did not open
    // ends the job (Discard).
    bool OpenedFor(unsigned nJob, MMRESULT nOpened, void (*pfnStopDevice)(const CDeadline &),
                   const CDeadline &stopWait);
    // Tells one job from the next, for a stop that lets go of the lock while
    // it waits and must not end a job that another thread started meanwhile.
    unsigned Generation() const { return m_nGeneration; }

    // Held across every operation on the job, but never while waiting for
    // the wave message thread. A thread ended by force inside a sink may
    // leave the job's file half written and its C library stream locked:
    // its lock is given up, never taken over.
    CBoundedLock &Lock() { return m_lock; }
    // How long a host call or a sink waits for the job: the lock is held
    // across device calls that return at once and a file read or write.
    static constexpr DWORD D_dwLockBoundMs = 10000;

private:
    CBoundedLock m_lock{CBoundedLock::EDeadOwner::GiveUp};
    WaveFile *&m_pFile;
    bool m_bLive;
    unsigned m_nGeneration;

    CFileJob(const CFileJob &) = delete;
    CFileJob &operator=(const CFileJob &) = delete;
};
