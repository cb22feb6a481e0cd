// The four host threads of the handset soak: each calls one of the query and
// switch exports at random, checks that its result is one the export
// documents, rests 1 to 4 ms and goes on, all through the shift.
//
// Each export call holds m_lockInside shared; Hold takes it exclusive, so
// once Hold returns no host thread is inside the plug-in (the main thread
// detaches the plug-in or reads the gauges then), and none enters until
// Release. The digit drains go through the soak, which keeps what they
// return in drain order.
#include <string.h>

#include "HandsetSoak.h"
#include "bravik32.h"

namespace {

struct SHostExport {
    const char *szLogName;   // the name its log line begins with
    const char *szAlsoLogs;  // the export it calls in turn, which logs too
    // Calls the export with a random flag; true when the result is documented.
    bool (*pfnCall)(CHandsetSoak &soak, int nFlag);
};

// clang-format off
const SHostExport D_aExports[] = {
    {"CT_Bell", nullptr, [](CHandsetSoak &, int nFlag) { return CT_Bell(nFlag) == 1; }},
    {"CT_Keyboard", nullptr, [](CHandsetSoak &, int nFlag) { return CT_Keyboard(nFlag) == 1; }},
    {"CT_Mic", nullptr, [](CHandsetSoak &, int nFlag) { return CT_Mic(nFlag) == 1; }},
    {"CT_Spk", nullptr, [](CHandsetSoak &, int nFlag) { return CT_Spk(nFlag) == 1; }},
    {"CT_RingOn", "CT_Bell", [](CHandsetSoak &, int) { return CT_RingOn() == 1; }},
    {"CT_RingOff", "CT_Bell", [](CHandsetSoak &, int) { return CT_RingOff() == 1; }},
    {"CT_MicMute", "CT_Mic", [](CHandsetSoak &, int nFlag) { return CT_MicMute(nFlag) == 1; }},
    {"TV_PlayFileRest", nullptr, [](CHandsetSoak &, int) { return (TV_PlayFileRest(0) & ~1) == 0; }},
    {"TV_RecordFileRest", nullptr, [](CHandsetSoak &, int) { return (TV_RecordFileRest(0) & ~1) == 0; }},
    {"TV_Initialize", nullptr, [](CHandsetSoak &, int) { return (TV_Initialize() & ~1) == 0; }},
    {"TV_Installed", nullptr, [](CHandsetSoak &, int) { return TV_Installed() == 1; }},
    {"CT_GetStatus", nullptr, [](CHandsetSoak &, int) { return CT_GetStatus() == 0; }},
    {"CT_GetKeys", nullptr,
     [](CHandsetSoak &, int) {
         // No event fills the key queue: the buffer stays as it was.
         char acKeys[30];
         memset(acKeys, 0x5A, sizeof acKeys);
         const int nResult = CT_GetKeys(acKeys);
         return nResult == 1 && acKeys[0] == 0x5A && acKeys[29] == 0x5A;
     }},
    {"CT_GetANI", nullptr,
     [](CHandsetSoak &soak, int) {
         char szNumber[32];
         memset(szNumber, 0x55, sizeof szNumber);
         const int nResult = CT_GetANI(szNumber);
         return nResult == 0 && memchr(szNumber, '\0', sizeof szNumber) &&
                (szNumber[0] == '\0' || soak.IsKnownNumber(szNumber));
     }},
};
// clang-format on
const int D_nExports = static_cast<int>(sizeof D_aExports / sizeof D_aExports[0]);

}  // namespace

CSoakHostThreads::CSoakHostThreads(CHandsetSoak &soak) : m_soak(soak), m_bStop(false), m_nCalls(0) {
    InitializeSRWLock(&m_lockInside);
}

CSoakHostThreads::~CSoakHostThreads() { Stop(); }

void CSoakHostThreads::Start(unsigned nRandomStart) {
    for (int i = 0; i < D_nThreads; ++i) m_threads.emplace_back([this, nRandomStart, i] { Run(nRandomStart + 1 + i); });
}

void CSoakHostThreads::Hold() { AcquireSRWLockExclusive(&m_lockInside); }

void CSoakHostThreads::Release() { ReleaseSRWLockExclusive(&m_lockInside); }

void CSoakHostThreads::Stop() {
    m_bStop = true;
    for (std::thread &thread : m_threads) thread.join();
    m_threads.clear();
}

void CSoakHostThreads::Run(unsigned nRandomStart) {
    CSoakRandom random(nRandomStart);
    while (!m_bStop) {
        AcquireSRWLockShared(&m_lockInside);
        CallOneExport(random);
        ReleaseSRWLockShared(&m_lockInside);
        ++m_nCalls;
        Sleep(static_cast<DWORD>(random.Between(1, 4)));
    }
}

void CSoakHostThreads::CallOneExport(CSoakRandom &random) {
    // The two digit drains, as often as all the other exports together.
    const int nChoice = random.Between(-D_nExports, D_nExports - 1);
    if (nChoice < 0) {
        m_soak.DrainDigits(nChoice % 2 == 0);
        return;
    }
    const SHostExport &entry = D_aExports[nChoice];
    // Flags count by their low 8 bits: 256 is off, 257 on.
    const int nFlag = random.Between(0, 3) * 128 + random.Between(0, 1);
    m_soak.Tally().Count(entry.szLogName);
    if (entry.szAlsoLogs) m_soak.Tally().Count(entry.szAlsoLogs);
    m_soak.Checks().Check("documented export results", entry.pfnCall(m_soak, nFlag), m_soak.CurrentCall(),
                          entry.szLogName);
}
