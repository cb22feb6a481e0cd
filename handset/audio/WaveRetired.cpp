// What abandoned wave devices may still own: see WaveRetired.h.
#include "audio/WaveRetired.h"

#include <cstdint>
#include <initializer_list>

#include "audio/WaveClose.h"
#include "platform/wave_api.h"

namespace {

struct RetiredDevice {
    bool bUsed;
    bool bInput;
    HANDLE hWave;
    WaveInBlock *pBlock;  // input: the buffers' memory
    int nOutstanding;     // input: buffers the device still holds
    WAVEHDR *pFirst;      // output: the blocks it still holds
    WaveOwed owed;        // notifications still to come
    bool bCloseFailed;    // to be closed again before the next open
    DWORD dwSerial;       // order of retirement
};

CBoundedLock g_retiredLock{CBoundedLock::EDeadOwner::GiveUp};
RetiredDevice g_aRetired[D_nMaxRetiredDevices];
DWORD g_dwRetireSerial = 0;
int g_nAbandoned = 0;

WAVEHDR *NextOutputBlock(const WAVEHDR *pHdr) { return reinterpret_cast<WAVEHDR *>(pHdr->dwUser); }

bool HoldsNothing(const RetiredDevice &device) {
    return device.bInput ? device.nOutstanding <= 0 : device.pFirst == nullptr;
}

bool OwesNothing(const RetiredDevice &device) {
    return HoldsNothing(device) && !device.owed.bOpenNotice && !device.owed.bCloseNotice && !device.bCloseFailed;
}

// Under the lock: the device's memory goes back to the heap.
void Forget(RetiredDevice &device) {
    FreeWaveInBlock(device.pBlock);
    for (WAVEHDR *pHdr = device.pFirst; pHdr;) {
        WAVEHDR *pNext = NextOutputBlock(pHdr);
        FreeOutputBlock(pHdr);
        pHdr = pNext;
    }
    device = RetiredDevice{};
}

// Under the lock: a free place, made by forgetting the oldest if need be.
RetiredDevice &FreePlace() {
    RetiredDevice *pOldest = &g_aRetired[0];
    for (RetiredDevice &device : g_aRetired) {
        if (!device.bUsed) return device;
        if (device.dwSerial < pOldest->dwSerial) pOldest = &device;
    }
    Forget(*pOldest);
    return *pOldest;
}

// Under the lock: a device whose close failed is closed again once it holds
// nothing; when that fails too, the next open of its direction tries again.
void CloseAgain(RetiredDevice &device) {
    if (!device.bCloseFailed || !HoldsNothing(device)) return;
    bool bClosed = CloseWaveDevice(device.bInput, device.hWave) == MMSYSERR_NOERROR;
    device.bCloseFailed = !bClosed;
    device.owed.bCloseNotice = bClosed;
}

// Under the lock, after the device gave something back: once it holds
// nothing its memory goes and its close is tried again.
void Settle(RetiredDevice &device) {
    if (!HoldsNothing(device)) return;
    FreeWaveInBlock(device.pBlock);
    device.pBlock = nullptr;
    CloseAgain(device);
    if (OwesNothing(device)) device = RetiredDevice{};
}

void Retire(RetiredDevice device, const CDeadline &deadline) {
    // Not had (its owner stuck or ended in a late notification): what the
    // device holds is never freed, which is safe.
    CLockGuard lock(g_retiredLock, deadline.ForOneLock(), "retired devices");
    if (!lock.Held()) return;
    ++g_nAbandoned;
    device.bUsed = true;
    device.bCloseFailed = !device.owed.bCloseNotice;
    device.dwSerial = ++g_dwRetireSerial;
    if (HoldsNothing(device)) {
        FreeWaveInBlock(device.pBlock);
        device.pBlock = nullptr;
    }
    if (!OwesNothing(device)) FreePlace() = device;
}

// Under the lock: a retired device awaiting the notification of hWave.
RetiredDevice *FindOwing(bool bInput, HANDLE hWave, bool WaveOwed::*pNotice) {
    for (RetiredDevice &device : g_aRetired) {
        if (device.bUsed && device.bInput == bInput && device.hWave == hWave && device.owed.*pNotice) return &device;
    }
    return nullptr;
}

// Under the lock.
bool TakeNotice(bool bInput, HANDLE hWave, bool WaveOwed::*pNotice) {
    RetiredDevice *pDevice = FindOwing(bInput, hWave, pNotice);
    if (!pDevice) return false;
    pDevice->owed.*pNotice = false;
    if (OwesNothing(*pDevice)) *pDevice = RetiredDevice{};
    return true;
}

}  // namespace

bool IsHeaderOf(const WAVEHDR *pHdr, const WaveInBlock *pBlock) {
    uintptr_t nHdr = reinterpret_cast<uintptr_t>(pHdr);
    uintptr_t nFirst = reinterpret_cast<uintptr_t>(pBlock->aHdr);
    return nHdr >= nFirst && nHdr < nFirst + sizeof(pBlock->aHdr);
}

WaveInBlock *NewWaveInBlock() {
    return static_cast<WaveInBlock *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(WaveInBlock)));
}

void FreeWaveInBlock(WaveInBlock *pBlock) {
    if (pBlock) HeapFree(GetProcessHeap(), 0, pBlock);
}

void FreeOutputBlock(WAVEHDR *pHdr) {
    for (void *pBlock : {static_cast<void *>(pHdr->lpData), static_cast<void *>(pHdr)}) {
        if (!pBlock) continue;
        HGLOBAL hBlock = GlobalHandle(pBlock);
        GlobalUnlock(hBlock);
        GlobalFree(hBlock);
    }
}

bool UnlinkOutputBlock(WAVEHDR *&pFirst, const WAVEHDR *pHdr) {
    WAVEHDR *pPrevious = nullptr;
    for (WAVEHDR *pBlock = pFirst; pBlock; pPrevious = pBlock, pBlock = NextOutputBlock(pBlock)) {
        if (pBlock != pHdr) continue;
        if (pPrevious) {
            pPrevious->dwUser = pBlock->dwUser;
        } else {
            pFirst = NextOutputBlock(pBlock);
        }
        return true;
    }
    return false;
}

void RetireWaveIn(HWAVEIN hwi, WaveOwed owed, WaveInBlock *pBlock, int nOutstanding, const CDeadline &deadline) {
    Retire(RetiredDevice{false, true, hwi, pBlock, pBlock ? nOutstanding : 0, nullptr, owed, false, 0}, deadline);
}

void RetireWaveOut(HWAVEOUT hwo, WaveOwed owed, WAVEHDR *pFirst, const CDeadline &deadline) {
    Retire(RetiredDevice{false, false, hwo, nullptr, 0, pFirst, owed, false, 0}, deadline);
}

void CloseRetiredAgain(bool bInput, const CDeadline &deadline) {
    CLockGuard lock(g_retiredLock, deadline);
    if (!lock.Held()) return;
    for (RetiredDevice &device : g_aRetired) {
        if (!device.bUsed || device.bInput != bInput) continue;
        CloseAgain(device);
        if (OwesNothing(device)) device = RetiredDevice{};
    }
}

bool TakeRetiredInputData(const WAVEHDR *pHdr) {
    CLockGuard lock(g_retiredLock, CDeadline(D_dwWaveLockBoundMs));
    if (!lock.Held()) return false;
    for (RetiredDevice &device : g_aRetired) {
        if (!device.bUsed || !device.bInput || !device.pBlock || !IsHeaderOf(pHdr, device.pBlock)) continue;
        g_Wave.waveInUnprepareHeader(static_cast<HWAVEIN>(device.hWave), const_cast<WAVEHDR *>(pHdr), sizeof(WAVEHDR));
        --device.nOutstanding;
        Settle(device);
        return true;
    }
    return false;
}

bool TakeRetiredOutputDone(const WAVEHDR *pHdr) {
    CLockGuard lock(g_retiredLock, CDeadline(D_dwWaveLockBoundMs));
    if (!lock.Held()) return false;
    for (RetiredDevice &device : g_aRetired) {
        if (!device.bUsed || device.bInput) continue;
        if (!UnlinkOutputBlock(device.pFirst, pHdr)) continue;
        WAVEHDR *pFound = const_cast<WAVEHDR *>(pHdr);
        g_Wave.waveOutUnprepareHeader(static_cast<HWAVEOUT>(device.hWave), pFound, sizeof(WAVEHDR));
        FreeOutputBlock(pFound);
        Settle(device);
        return true;
    }
    return false;
}

bool TakeRetiredOpen(bool bInput, HANDLE hWave) {
    CLockGuard lock(g_retiredLock, CDeadline(D_dwWaveLockBoundMs));
    if (!lock.Held()) return false;
    if (TakeNotice(bInput, hWave, &WaveOwed::bOpenNotice)) return true;
    while (TakeNotice(bInput, hWave, &WaveOwed::bCloseNotice)) {
    }
    return false;
}

bool TakeRetiredClose(bool bInput, HANDLE hWave) {
    CLockGuard lock(g_retiredLock, CDeadline(D_dwWaveLockBoundMs));
    return lock.Held() && TakeNotice(bInput, hWave, &WaveOwed::bCloseNotice);
}

int WaveDevicesAbandoned() {
    CLockGuard lock(g_retiredLock, CDeadline(D_dwWaveLockBoundMs));
    return g_nAbandoned;
}

int RetiredWaveDevices() {
    CLockGuard lock(g_retiredLock, CDeadline(D_dwWaveLockBoundMs));
    int nCount = 0;
    for (const RetiredDevice &device : g_aRetired) nCount += device.bUsed;
    return nCount;
}

void ForgetRetiredWaveDevices() {
    CLockGuard lock(g_retiredLock, CDeadline(D_dwWaveLockBoundMs));
    if (!lock.Held()) return;
    for (RetiredDevice &device : g_aRetired)
        if (device.bUsed) Forget(device);
}
