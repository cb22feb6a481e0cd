// CQueue: a fixed 1024-byte first-in-first-out byte queue; 255 marks "empty".
//
// The link thread pushes and clears (DTMF digits, hang-up), host threads pop
// and clear through the exports, all at the same time. Every operation holds
// the queue's own lock for the few hundred bytes it moves, so no digit is
// lost or handed out twice, and no operation waits on anything else while
// holding it. The lock of a link thread ended by force is taken over; an
// operation that cannot have it within D_dwLockBoundMs moves nothing.
#pragma once

#include <windows.h>

#include "support/BoundedLock.h"

class CQueue {
public:
    static constexpr int D_nCapacity = 1024;
    static constexpr BYTE D_cEmpty = 255;
    static constexpr DWORD D_dwLockBoundMs = 1000;

    CQueue();
    virtual ~CQueue();

    // When full, the oldest byte is dropped to make room.
    void Push(BYTE cByte);
    // The oldest byte, or D_cEmpty when the queue is empty.
    BYTE Pop();
    void Clear();
    // Moves up to nMax of the oldest bytes into pOut in one step and returns
    // how many; bytes beyond nMax stay queued for the next caller.
    int PopUpTo(char *pOut, int nMax);
    // The host's drain: as PopUpTo, but a held 255, which a pop cannot tell
    // from the empty marker, ends it: that byte is taken and lost, the bytes
    // behind it stay queued. Returns how many bytes went into pOut.
    int DrainUpTo(char *pOut, int nMax);
    int Count() const;

private:
    void DropOldest(int nBytes);

    BYTE *m_pBuf;
    int m_nCount;
    mutable CBoundedLock m_lock;

    CQueue(const CQueue &) = delete;
    CQueue &operator=(const CQueue &) = delete;
};
