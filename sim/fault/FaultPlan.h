// CFaultPlan: which function of a platform seam fails, on which call, and
// with which error, for the fault campaigns over the seams.
//
// A seam is a struct of function pointers (handset/platform/*.h). A fault
// wrapper table stands in front of the installed table: each of its entries
// asks the plan first (Trip) and, when told to, fails the way Windows fails
// there (an error result, or FALSE with the error as the thread's last
// error); otherwise it hands the call on unchanged. A function is named by
// its slot in the table, TV_SEAM_SLOT(HID_API, ReadFile), so that a new
// member of a seam gets a slot without any list to update.
//
// Any thread may trip the plan while a test arms or lifts it: the link
// thread, the wave message thread and host threads all call through seams.
#pragma once

#include <windows.h>

#include <cstddef>

#define TV_SEAM_SLOT(Table, Member) static_cast<int>(offsetof(Table, Member) / sizeof(void *))

class CFaultPlan {
public:
    static constexpr int D_nMaxSlots = 32;

    CFaultPlan();
    ~CFaultPlan();

    // The slot's calls after the first nPassCalls fail with dwError: every
    // one of them (persistent), or only the next one (once).
    void FailFrom(int nSlot, DWORD dwError, int nPassCalls = 0);
    void FailOnce(int nSlot, DWORD dwError, int nPassCalls = 0);
    // Every call goes through again; counters stay.
    void Lift();
    // Lifts every fault and zeroes the counters.
    void Reset();

    // For the wrappers: counts the call and tells whether it is to fail,
    // with which error.
    bool Trip(int nSlot, DWORD *pdwError);

    int Calls(int nSlot) const;
    int Failures(int nSlot) const;

private:
    struct Slot {
        bool bArmed;
        bool bOnce;
        DWORD dwError;
        int nPassCalls;
        int nCalls;
        int nFailures;
    };
    void Arm(int nSlot, DWORD dwError, int nPassCalls, bool bOnce);

    mutable CRITICAL_SECTION m_cs;
    Slot m_aSlots[D_nMaxSlots];

    CFaultPlan(const CFaultPlan &) = delete;
    CFaultPlan &operator=(const CFaultPlan &) = delete;
};
