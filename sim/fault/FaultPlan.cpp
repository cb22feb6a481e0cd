// CFaultPlan: see FaultPlan.h.
#include "fault/FaultPlan.h"

#include <string.h>

#include "support/ScopedLock.h"

CFaultPlan::CFaultPlan() {
    InitializeCriticalSection(&m_cs);
    memset(m_aSlots, 0, sizeof m_aSlots);
}

CFaultPlan::~CFaultPlan() { DeleteCriticalSection(&m_cs); }

void CFaultPlan::FailFrom(int nSlot, DWORD dwError, int nPassCalls) { Arm(nSlot, dwError, nPassCalls, false); }

void CFaultPlan::FailOnce(int nSlot, DWORD dwError, int nPassCalls) { Arm(nSlot, dwError, nPassCalls, true); }

void CFaultPlan::Arm(int nSlot, DWORD dwError, int nPassCalls, bool bOnce) {
    if (nSlot < 0 || nSlot >= D_nMaxSlots) return;
    CScopedLock lock(m_cs);
    Slot &slot = m_aSlots[nSlot];
    slot.bArmed = true;
    slot.bOnce = bOnce;
    slot.dwError = dwError;
    slot.nPassCalls = nPassCalls;
}

void CFaultPlan::Lift() {
    CScopedLock lock(m_cs);
    for (Slot &slot : m_aSlots) slot.bArmed = false;
}

void CFaultPlan::Reset() {
    CScopedLock lock(m_cs);
    memset(m_aSlots, 0, sizeof m_aSlots);
}

bool CFaultPlan::Trip(int nSlot, DWORD *pdwError) {
    if (nSlot < 0 || nSlot >= D_nMaxSlots) return false;
    CScopedLock lock(m_cs);
    Slot &slot = m_aSlots[nSlot];
    ++slot.nCalls;
    if (!slot.bArmed) return false;
    if (slot.nPassCalls > 0) {
        --slot.nPassCalls;
        return false;
    }
    if (slot.bOnce) slot.bArmed = false;
    ++slot.nFailures;
    *pdwError = slot.dwError;
    return true;
}

int CFaultPlan::Calls(int nSlot) const {
    if (nSlot < 0 || nSlot >= D_nMaxSlots) return 0;
    CScopedLock lock(m_cs);
    return m_aSlots[nSlot].nCalls;
}

int CFaultPlan::Failures(int nSlot) const {
    if (nSlot < 0 || nSlot >= D_nMaxSlots) return 0;
    CScopedLock lock(m_cs);
    return m_aSlots[nSlot].nFailures;
}
