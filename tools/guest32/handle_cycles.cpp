// Which handles a DLL leaves in the process per load and unload, by type:
//   handle_cycles DLL CYCLES WAITMS [call EXPORT]
// loads the DLL, optionally calls a no-argument export, waits WAITMS, unloads
// it and waits (bounded) until the threads it started are gone; after a
// warm-up cycle (the system's one-time handles) it prints every handle of the
// process not there before, with its type, name and, for threads, whether
// that thread still runs. Run under 32-bit Wine in the guest (handles32.sh).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <psapi.h>

#include <set>

#include "process_threads.h"
#include "stopwatch.h"

namespace {

typedef LONG(NTAPI *PFN_NtQueryObject)(HANDLE, int, PVOID, ULONG, PULONG);

struct UnicodeString {
    USHORT usLength;
    USHORT usMaximumLength;
    PWSTR pBuffer;
};

std::string QueryText(HANDLE h, int nClass) {
    static auto pfn = reinterpret_cast<PFN_NtQueryObject>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
    std::vector<BYTE> buffer(4096);
    ULONG ulLength = 0;
    if (!pfn || pfn(h, nClass, buffer.data(), static_cast<ULONG>(buffer.size()), &ulLength) != 0) return "?";
    const UnicodeString *pText = reinterpret_cast<const UnicodeString *>(buffer.data());
    if (!pText->pBuffer || !pText->usLength) return "";
    char szText[512] = {};
    WideCharToMultiByte(CP_UTF8, 0, pText->pBuffer, pText->usLength / 2, szText, sizeof szText - 1, nullptr, nullptr);
    return szText;
}

std::map<ULONG_PTR, PVOID> HandlesNow() {
    std::map<ULONG_PTR, PVOID> handles;
    HandleListOfThisProcess(handles);
    return handles;
}

std::string Describe(ULONG_PTR ulHandle) {
    HANDLE h = reinterpret_cast<HANDLE>(ulHandle);
    std::string type = QueryText(h, 2);
    std::string what = type;
    const std::string name = QueryText(h, 1);
    if (!name.empty() && name != "?") what += " \"" + name + "\"";
    if (type == "Thread") {
        char sz[96];
        const DWORD dwState = WaitForSingleObject(h, 0);
        snprintf(sz, sizeof sz, " tid %lu %s", GetThreadId(h), dwState == WAIT_OBJECT_0 ? "ended" : "running");
        what += sz;
        if (GetThreadId(h) == GetCurrentThreadId()) what += " (the loading thread)";
    }
    return what;
}

std::set<std::string> ModulesNow() {
    std::set<std::string> names;
    HMODULE modules[1024];
    DWORD dwBytes = 0;
    if (!K32EnumProcessModules(GetCurrentProcess(), modules, sizeof modules, &dwBytes)) return names;
    for (DWORD i = 0; i < dwBytes / sizeof(HMODULE) && i < 1024; ++i) {
        char szName[MAX_PATH];
        if (GetModuleBaseNameA(GetCurrentProcess(), modules[i], szName, sizeof szName)) names.insert(szName);
    }
    return names;
}

void WaitForThreads(size_t nThreadsBefore) {
    if (SettledWithin([&] { return ThreadsOfThisProcess().size() <= nThreadsBefore; }, 20000)) return;
    printf("  (threads still there after 20 s: %u, were %u)\n", (unsigned)ThreadsOfThisProcess().size(),
           (unsigned)nThreadsBefore);
}

bool Cycle(const char *pszDll, DWORD dwWaitMs, const char *pszExport) {
    const size_t nThreads = ThreadsOfThisProcess().size();
    const std::set<std::string> before = ModulesNow();
    HMODULE h = LoadLibraryExA(pszDll, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!h) {
        printf("FAIL: %s did not load (error %lu)\n", pszDll, GetLastError());
        return false;
    }
    if (pszExport) {
        auto pfn = reinterpret_cast<int(WINAPI *)()>(reinterpret_cast<void *>(GetProcAddress(h, pszExport)));
        if (pfn)
            pfn();
        else
            printf("  (no export %s)\n", pszExport);
    }
    Sleep(dwWaitMs);
    std::string loaded;
    for (const std::string &name : ModulesNow())
        if (!before.count(name)) loaded += " " + name;
    FreeLibrary(h);
    WaitForThreads(nThreads);
    std::string stayed;
    for (const std::string &name : ModulesNow())
        if (!before.count(name)) stayed += " " + name;
    printf("  modules loaded with it:%s; still there after the unload:%s\n", loaded.c_str(),
           stayed.empty() ? " none" : stayed.c_str());
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 4) {
        printf("usage: handle_cycles DLL CYCLES WAITMS [call EXPORT]\n");
        return 2;
    }
    char szFull[MAX_PATH];
    GetFullPathNameA(argv[1], MAX_PATH, szFull, nullptr);
    const int nCycles = atoi(argv[2]);
    const DWORD dwWaitMs = static_cast<DWORD>(atoi(argv[3]));
    const char *pszExport = argc >= 6 && !strcmp(argv[4], "call") ? argv[5] : nullptr;
    if (!Cycle(szFull, dwWaitMs, pszExport)) return 1;  // warm-up
    const std::map<ULONG_PTR, PVOID> base = HandlesNow();
    std::map<ULONG_PTR, PVOID> seen = base;
    printf("%s: %u handles after the warm-up cycle\n", argv[1], (unsigned)base.size());
    for (int i = 1; i <= nCycles; ++i) {
        if (!Cycle(szFull, dwWaitMs, pszExport)) return 1;
        const std::map<ULONG_PTR, PVOID> now = HandlesNow();
        std::map<std::string, int> byType;
        std::vector<std::string> lines;
        for (const auto &entry : now) {
            auto old = seen.find(entry.first);
            if (old != seen.end() && old->second == entry.second) continue;
            const std::string what = Describe(entry.first);
            ++byType[what.substr(0, what.find(' '))];
            char sz[64];
            snprintf(sz, sizeof sz, "    0x%04lx ", (unsigned long)entry.first);
            lines.push_back(sz + what);
        }
        printf("cycle %d: %d handles (+%d since the warm-up), new this cycle:", i, (int)now.size(),
               (int)now.size() - (int)base.size());
        for (const auto &t : byType) printf(" %s %d", t.first.c_str(), t.second);
        printf("\n");
        for (const auto &line : lines) printf("%s\n", line.c_str());
        seen = now;
    }
    return 0;
}
