// CTerminationGuard: for one scope, holds the locks of the process heap and
// of the C runtime's, so that a thread ended by force meanwhile cannot die
// inside an allocation and leave a heap locked for ever. TerminateThread only
// asks for the end, so the controller keeps the guard until the thread's
// handle is signalled; a death by force runs none of the thread's code and
// needs no heap. The C runtime's heap is looked up by name at load, so the
// import table does not change; without it the guard does without.
#pragma once

#include <windows.h>

class CTerminationGuard {
public:
    CTerminationGuard();
    ~CTerminationGuard();

private:
    HANDLE m_ahHeaps[2];
    int m_nHeaps;

    CTerminationGuard(const CTerminationGuard &) = delete;
    CTerminationGuard &operator=(const CTerminationGuard &) = delete;
};
