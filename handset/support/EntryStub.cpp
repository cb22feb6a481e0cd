// CEntryStub: see EntryStub.h for why a worker thread starts outside the
// plug-in's image.
//
// The page holds the stub's code; the page after it holds the choice (a
// LONG: not yet made, gone into the entry, abandoned) and the exit code of
// an abandoned thread. The stub, in the thread's own calling convention:
//     if (InterlockedCompareExchange(&choice, kEntered, kNotEntered) == kNotEntered)
//         jump to pfnEntry (its argument untouched);
//     else
//         jump to ExitThread (with the exit code as its argument).
// Both are jumps, not calls: the stub is gone from the thread's stack the
// moment it has chosen.
#include "support/EntryStub.h"

#include <string.h>

namespace {

enum Choice : LONG { kNotEntered = 0, kEntered = 1, kAbandoned = 2 };

struct ChoicePage {
    volatile LONG lChoice;
    DWORD dwExitCode;
};

const SIZE_T D_nPageBytes = 4096;

template <typename T>
BYTE *Put(BYTE *pCode, T value) {
    memcpy(pCode, &value, sizeof value);
    return pCode + sizeof value;
}

BYTE *PutBytes(BYTE *pCode, const BYTE *pBytes, size_t nBytes) {
    memcpy(pCode, pBytes, nBytes);
    return pCode + nBytes;
}

#if defined(_WIN64)
// rcx: the thread's argument, untouched on the way to the entry.
const BYTE D_abTake[] = {0x31, 0xC0,               // xor eax, eax
                         0xBA, kEntered, 0, 0, 0,  // mov edx, kEntered
                         0x49, 0xB8};              // mov r8, &choice
const BYTE D_abChoose[] = {0xF0, 0x41, 0x0F, 0xB1, 0x10,  // lock cmpxchg [r8], edx
                           0x75, 0x0C,                    // jne abandoned
                           0x48, 0xB8};                   // mov rax, pfnEntry
const BYTE D_abJump[] = {0xFF, 0xE0};                     // jmp rax
const BYTE D_abAbandoned[] = {0x41, 0x8B, 0x48, 0x04,     // mov ecx, [r8+4]
                              0x48, 0xB8};                // mov rax, ExitThread
#else
// [esp+4]: the thread's argument, untouched on the way to the entry and
// replaced by the exit code on the way to ExitThread.
const BYTE D_abTake[] = {0x31, 0xC0,               // xor eax, eax
                         0xBA, kEntered, 0, 0, 0,  // mov edx, kEntered
                         0xB9};                    // mov ecx, &choice
const BYTE D_abChoose[] = {0xF0, 0x0F, 0xB1, 0x11,  // lock cmpxchg [ecx], edx
                           0x75, 0x07,              // jne abandoned
                           0xB8};                   // mov eax, pfnEntry
const BYTE D_abJump[] = {0xFF, 0xE0};               // jmp eax
const BYTE D_abAbandoned[] = {0x8B, 0x41, 0x04,        // mov eax, [ecx+4]
                              0x89, 0x44, 0x24, 0x04,  // mov [esp+4], eax
                              0xB8};                   // mov eax, ExitThread
#endif

void WriteStub(BYTE *pCode, ChoicePage *pChoice, LPTHREAD_START_ROUTINE pfnEntry, void *pfnExit) {
    pCode = PutBytes(pCode, D_abTake, sizeof D_abTake);
    pCode = Put(pCode, pChoice);
    pCode = PutBytes(pCode, D_abChoose, sizeof D_abChoose);
    pCode = Put(pCode, reinterpret_cast<void *>(pfnEntry));
    pCode = PutBytes(pCode, D_abJump, sizeof D_abJump);
    pCode = PutBytes(pCode, D_abAbandoned, sizeof D_abAbandoned);
    pCode = Put(pCode, pfnExit);
    PutBytes(pCode, D_abJump, sizeof D_abJump);
}

ChoicePage *ChoiceOf(BYTE *pPage) { return reinterpret_cast<ChoicePage *>(pPage + D_nPageBytes); }

}  // namespace

CEntryStub::CEntryStub() : m_pPage(nullptr) {}

CEntryStub::~CEntryStub() { FreePage(); }

void CEntryStub::FreePage() {
    if (!m_pPage) return;
    // A page whose thread may still come to the stub stays, abandoned.
    const LONG lChoice = InterlockedCompareExchange(&ChoiceOf(m_pPage)->lChoice, kAbandoned, kNotEntered);
    if (lChoice == kEntered) VirtualFree(m_pPage, 0, MEM_RELEASE);
    m_pPage = nullptr;
}

LPTHREAD_START_ROUTINE CEntryStub::Arm(LPTHREAD_START_ROUTINE pfnEntry) {
    FreePage();
    m_pPage = static_cast<BYTE *>(
        VirtualAlloc(nullptr, 2 * D_nPageBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!m_pPage) return pfnEntry;
    ChoicePage *pChoice = ChoiceOf(m_pPage);
    pChoice->lChoice = kNotEntered;
    pChoice->dwExitCode = 0;
    WriteStub(m_pPage, pChoice, pfnEntry, reinterpret_cast<void *>(&ExitThread));
    DWORD dwOld = 0;
    if (!VirtualProtect(m_pPage, D_nPageBytes, PAGE_EXECUTE_READ, &dwOld)) {
        VirtualFree(m_pPage, 0, MEM_RELEASE);
        m_pPage = nullptr;
        return pfnEntry;
    }
    FlushInstructionCache(GetCurrentProcess(), m_pPage, D_nPageBytes);
    return reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void *>(m_pPage));
}

bool CEntryStub::Abandon(DWORD dwExitCode) {
    if (!m_pPage) return false;
    ChoicePage *pChoice = ChoiceOf(m_pPage);
    // Written before the exchange that publishes the choice; the thread
    // reads it only after its own exchange has failed.
    pChoice->dwExitCode = dwExitCode;
    if (InterlockedCompareExchange(&pChoice->lChoice, kAbandoned, kNotEntered) != kNotEntered) return false;
    m_pPage = nullptr;  // the thread still needs it
    return true;
}
