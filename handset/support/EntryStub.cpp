// CEntryStub: see EntryStub.h for why a worker thread starts and ends
// outside the plug-in's image.
//
// The first page holds the code, the second its data (StubData). The code,
// in the thread's own calling convention, with the thread's argument arg:
//     if (InterlockedCompareExchange(&choice, D_lEntered, D_lNotEntered) != D_lNotEntered)
//         ExitThread(exit code);
//     result = first(arg);
//     if (second) result = second(arg);
//     if (left event) SetEvent(left event);
//     ExitThread(result);
// Every call goes through the data page, so the code is the same for every
// thread; the registers it keeps across calls are callee-saved ones, whose
// owners it never returns to.
#include "support/EntryStub.h"

#include <stddef.h>
#include <string.h>

#include <initializer_list>

#include "support/LogReporter.h"

namespace {

// The words of the choice, as the generated code compares and writes them
// (it loads D_lNotEntered as a zeroed register).
constexpr LONG D_lNotEntered = 0;
constexpr LONG D_lEntered = 1;
constexpr LONG D_lAbandoned = 2;

// Shared with the generated code, which lock-cmpxchgs lChoice: a layout of
// machine words, not a C++ object, so lChoice stays a plain LONG taken with
// Interlocked calls rather than a std::atomic.
struct StubData {
    volatile LONG lChoice;
    DWORD dwExitCode;
    void *pfnFirst;
    void *pfnSecond;
    HANDLE hLeft;
    void *pfnSetEvent;
    void *pfnExitThread;
};

const SIZE_T D_nPageBytes = 4096;

class CCode {
public:
    explicit CCode(BYTE *pAt) : m_pAt(pAt) {}
    CCode &Bytes(std::initializer_list<BYTE> bytes) {
        for (BYTE b : bytes) *m_pAt++ = b;
        return *this;
    }
    // T is often a pointer: its own bytes go into the code, not what it
    // points to.
    template <typename T>
    CCode &Value(T value) {
        memcpy(m_pAt, &value, sizeof value);  // NOLINT(bugprone-sizeof-expression)
        m_pAt += sizeof value;  // NOLINT(bugprone-sizeof-expression)
        return *this;
    }
    // The displacement of a field of StubData, as one signed byte.
    CCode &Field(size_t nOffset) { return Bytes({static_cast<BYTE>(nOffset)}); }
    // A short conditional jump whose target is set later with Land.
    BYTE *Jump(BYTE bOpcode) {
        Bytes({bOpcode, 0});
        return m_pAt - 1;
    }
    void Land(BYTE *pDisplacement) { *pDisplacement = static_cast<BYTE>(m_pAt - (pDisplacement + 1)); }

private:
    BYTE *m_pAt;
};

const BYTE D_bJne = 0x75, D_bJe = 0x74;

#define FIELD(name) offsetof(StubData, name)

// One instruction a line with its assembly beside it, a layout the formatter
// would fold.
// clang-format off
#if defined(_WIN64)
void WriteStub(BYTE *pCode, StubData *pData) {
    CCode code(pCode);
    // rcx: the argument, kept in rbx; rdi: the data; rsi: the result.
    code.Bytes({0x48, 0x89, 0xCB})                  // mov rbx, rcx
        .Bytes({0x48, 0xBF}).Value(pData)           // mov rdi, data
        .Bytes({0x48, 0x83, 0xEC, 0x28})            // sub rsp, 40: home space, aligned
        .Bytes({0x31, 0xC0})                        // xor eax, eax
        .Bytes({0xBA}).Value<DWORD>(D_lEntered)     // mov edx, D_lEntered
        .Bytes({0xF0, 0x0F, 0xB1, 0x17});           // lock cmpxchg [rdi], edx
    BYTE *pAbandoned = code.Jump(D_bJne);
    code.Bytes({0x48, 0x89, 0xD9})                  // mov rcx, rbx
        .Bytes({0xFF, 0x57}).Field(FIELD(pfnFirst))  // call [rdi+first]
        .Bytes({0x48, 0x8B, 0x57}).Field(FIELD(pfnSecond))  // mov rdx, [rdi+second]
        .Bytes({0x48, 0x85, 0xD2});                 // test rdx, rdx
    BYTE *pNoSecond = code.Jump(D_bJe);
    code.Bytes({0x48, 0x89, 0xD9})                  // mov rcx, rbx
        .Bytes({0xFF, 0xD2});                       // call rdx
    code.Land(pNoSecond);
    code.Bytes({0x89, 0xC6})                        // mov esi, eax
        .Bytes({0x48, 0x8B, 0x4F}).Field(FIELD(hLeft))  // mov rcx, [rdi+left]
        .Bytes({0x48, 0x85, 0xC9});                 // test rcx, rcx
    BYTE *pNoEvent = code.Jump(D_bJe);
    code.Bytes({0xFF, 0x57}).Field(FIELD(pfnSetEvent));  // call [rdi+SetEvent]
    code.Land(pNoEvent);
    code.Bytes({0x89, 0xF1})                        // mov ecx, esi
        .Bytes({0xFF, 0x57}).Field(FIELD(pfnExitThread));  // call [rdi+ExitThread]
    code.Land(pAbandoned);
    code.Bytes({0x8B, 0x4F}).Field(FIELD(dwExitCode))  // mov ecx, [rdi+exit code]
        .Bytes({0xFF, 0x57}).Field(FIELD(pfnExitThread));  // call [rdi+ExitThread]
}
#else
void WriteStub(BYTE *pCode, StubData *pData) {
    CCode code(pCode);
    // [esp+4]: the argument, pushed afresh for each call (the callees pop
    // it); edi: the data; esi: the result.
    code.Bytes({0xBF}).Value(pData)                 // mov edi, data
        .Bytes({0x31, 0xC0})                        // xor eax, eax
        .Bytes({0xBA}).Value<DWORD>(D_lEntered)     // mov edx, D_lEntered
        .Bytes({0xF0, 0x0F, 0xB1, 0x17});           // lock cmpxchg [edi], edx
    BYTE *pAbandoned = code.Jump(D_bJne);
    code.Bytes({0xFF, 0x74, 0x24, 0x04})            // push dword [esp+4]
        .Bytes({0xFF, 0x57}).Field(FIELD(pfnFirst))  // call [edi+first]
        .Bytes({0x8B, 0x57}).Field(FIELD(pfnSecond))  // mov edx, [edi+second]
        .Bytes({0x85, 0xD2});                       // test edx, edx
    BYTE *pNoSecond = code.Jump(D_bJe);
    code.Bytes({0xFF, 0x74, 0x24, 0x04})            // push dword [esp+4]
        .Bytes({0xFF, 0xD2});                       // call edx
    code.Land(pNoSecond);
    code.Bytes({0x89, 0xC6})                        // mov esi, eax
        .Bytes({0x8B, 0x4F}).Field(FIELD(hLeft))    // mov ecx, [edi+left]
        .Bytes({0x85, 0xC9});                       // test ecx, ecx
    BYTE *pNoEvent = code.Jump(D_bJe);
    code.Bytes({0x51})                              // push ecx
        .Bytes({0xFF, 0x57}).Field(FIELD(pfnSetEvent));  // call [edi+SetEvent]
    code.Land(pNoEvent);
    code.Bytes({0x56})                              // push esi
        .Bytes({0xFF, 0x57}).Field(FIELD(pfnExitThread));  // call [edi+ExitThread]
    code.Land(pAbandoned);
    code.Bytes({0xFF, 0x77}).Field(FIELD(dwExitCode))  // push dword [edi+exit code]
        .Bytes({0xFF, 0x57}).Field(FIELD(pfnExitThread));  // call [edi+ExitThread]
}
#endif
// clang-format on

#undef FIELD

StubData *DataOf(BYTE *pPage) { return reinterpret_cast<StubData *>(pPage + D_nPageBytes); }

// A page with the code for these calls, or null (logged).
BYTE *NewPage(void *pfnFirst, void *pfnSecond, HANDLE hLeft) {
    BYTE *pPage = static_cast<BYTE *>(
        VirtualAlloc(nullptr, 2 * D_nPageBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!pPage) {
        g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "Thread start page: no memory (error %lu); the thread starts in the plug-in",
                               GetLastError());
        return nullptr;
    }
    StubData *pData = DataOf(pPage);
    *pData = StubData{D_lNotEntered,
                      0,
                      pfnFirst,
                      pfnSecond,
                      hLeft,
                      reinterpret_cast<void *>(&SetEvent),
                      reinterpret_cast<void *>(&ExitThread)};
    WriteStub(pPage, pData);
    DWORD dwOld = 0;
    if (!VirtualProtect(pPage, D_nPageBytes, PAGE_EXECUTE_READ, &dwOld)) {
        // A host that forbids dynamic code: the thread loses the protection
        // of its page, and whoever reads the log after a hang learns why.
        g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "Thread start page: not executable (error %lu); the thread starts in the plug-in",
                               GetLastError());
        VirtualFree(pPage, 0, MEM_RELEASE);
        return nullptr;
    }
    FlushInstructionCache(GetCurrentProcess(), pPage, D_nPageBytes);
    return pPage;
}

LPTHREAD_START_ROUTINE RoutineOf(BYTE *pPage) {
    return reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void *>(pPage));
}

}  // namespace

CEntryStub::CEntryStub() : m_pPage(nullptr), m_bGone(false) {}

CEntryStub::~CEntryStub() { FreePage(); }

void CEntryStub::FreePage() {
    if (!m_pPage) return;
    // A thread that never chose stays abandoned; only the page of a thread
    // known to be gone is freed, any other may still be on it.
    const LONG lChoice = InterlockedCompareExchange(&DataOf(m_pPage)->lChoice, D_lAbandoned, D_lNotEntered);
    if (lChoice == D_lEntered && m_bGone) VirtualFree(m_pPage, 0, MEM_RELEASE);
    m_pPage = nullptr;
}

LPTHREAD_START_ROUTINE CEntryStub::Arm(LPTHREAD_START_ROUTINE pfnEntry, HANDLE hLeft) {
    FreePage();
    m_bGone = false;
    m_pPage = NewPage(reinterpret_cast<void *>(pfnEntry), nullptr, hLeft);
    return m_pPage ? RoutineOf(m_pPage) : pfnEntry;
}

bool CEntryStub::Abandon(DWORD dwExitCode) {
    if (!m_pPage) return false;
    StubData *pData = DataOf(m_pPage);
    // Written before the exchange that publishes the choice; the thread
    // reads it only after its own exchange has failed.
    pData->dwExitCode = dwExitCode;
    if (InterlockedCompareExchange(&pData->lChoice, D_lAbandoned, D_lNotEntered) != D_lNotEntered) return false;
    m_pPage = nullptr;  // the thread still needs it
    return true;
}

void CEntryStub::Release(bool bGone) {
    m_bGone = bGone;
    FreePage();
}

LPTHREAD_START_ROUTINE CEntryStub::Detached(LPTHREAD_START_ROUTINE pfnFirst, LPTHREAD_START_ROUTINE pfnSecond) {
    BYTE *pPage = NewPage(reinterpret_cast<void *>(pfnFirst), reinterpret_cast<void *>(pfnSecond), nullptr);
    return pPage ? RoutineOf(pPage) : nullptr;
}
