// CSeamFaults: the fault wrapper table of one platform seam, for the fault
// campaigns (FaultPlan.h says how a plan names functions and errors).
//
// A wrapper stands in for one member of the seam's table. It asks the plan
// whether this call is to fail; if so it fails the way Windows fails there,
// as the seam's FAILURE policy says, and otherwise it hands the call on to
// the table that was installed before (the emulated device, in tests). The
// wrappers are made from the table's own member types, so a seam's faults
// file lists each member once, TV_SEAM_FAULT(Faults, Table, Member), and a
// member it forgets is flagged by the compiler's missing-initializer warning.
//
// Any thread may call a wrapper while a test arms or lifts the plan; the
// table handed on to and the plan are set only while no device of the seam
// is in use.
#pragma once

#include <windows.h>

#include "fault/FaultPlan.h"

// Functions that report failure through their result: the result is the
// error (the wave API's MMRESULT; 0 devices for waveOutGetNumDevs).
struct CFailWithResult {
    template <class R>
    static R Failed(DWORD dwError) {
        return static_cast<R>(dwError);
    }
};

template <class TABLE, class FAILURE = CFailWithResult>
class CSeamFaults {
public:
    // The table the wrappers hand their calls on to, and the plan they ask
    // (null: none fails).
    static void Arm(const TABLE &inner, CFaultPlan *pPlan) {
        s_inner = inner;
        s_pPlan = pPlan;
    }
    static const TABLE &Inner() { return s_inner; }

    template <class PFN>
    struct Wrapper;
    template <class R, class... ARGS>
    struct Wrapper<R(WINAPI *)(ARGS...)> {
        template <R (WINAPI *TABLE::*pMember)(ARGS...)>
        static R WINAPI Call(ARGS... args) {
            DWORD dwError = 0;
            if (s_pPlan && s_pPlan->Trip(SlotOf(pMember), &dwError)) return FAILURE::template Failed<R>(dwError);
            return (s_inner.*pMember)(args...);
        }
    };

    // The member's slot, as TV_SEAM_SLOT(TABLE, Member) gives it.
    template <class PFN>
    static int SlotOf(PFN TABLE::*pMember) {
        const char *pTable = reinterpret_cast<const char *>(&s_inner);
        const char *pSlot = reinterpret_cast<const char *>(&(s_inner.*pMember));
        return static_cast<int>((pSlot - pTable) / static_cast<int>(sizeof(void *)));
    }

private:
    static TABLE s_inner;
    static CFaultPlan *s_pPlan;
};

template <class TABLE, class FAILURE>
TABLE CSeamFaults<TABLE, FAILURE>::s_inner;
template <class TABLE, class FAILURE>
CFaultPlan *CSeamFaults<TABLE, FAILURE>::s_pPlan = nullptr;

// The wrapper of Table::Member, for the initializer of a wrapper table.
#define TV_SEAM_FAULT(Faults, Table, Member) \
    &Faults::template Wrapper<decltype(Table::Member)>::template Call<&Table::Member>
