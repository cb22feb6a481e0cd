// The link to handsetd: requests go out on standard output as lines that
// begin with "@", each answer comes back as one line on standard input.
// handsetd answers every request, so a read here waits only as long as the
// request it answers (its own waits are bounded); the guest's time limit
// ends a handsetd that hangs.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "RealHandset.h"

namespace {

int g_nPassed;
int g_nFailed;

}  // namespace

double NowUnix() {
    typedef VOID(WINAPI * PFN_Precise)(LPFILETIME);
    static PFN_Precise pfn = reinterpret_cast<PFN_Precise>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetSystemTimePreciseAsFileTime")));
    FILETIME ft;
    (pfn ? pfn : GetSystemTimeAsFileTime)(&ft);
    ULONGLONG ull = (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return static_cast<double>(ull) / 1e7 - 11644473600.0;
}

std::vector<std::string> Words(const std::string &strLine) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < strLine.size()) {
        size_t j = strLine.find_first_of(" \r\n", i);
        if (j == std::string::npos) j = strLine.size();
        if (j > i) words.push_back(strLine.substr(i, j - i));
        i = j + 1;
    }
    return words;
}

bool Device(const std::string &strRequest, std::vector<std::string> &reply) {
    printf("@%s\n", strRequest.c_str());
    fflush(stdout);
    static char szLine[65536];
    reply.clear();
    if (!fgets(szLine, sizeof szLine, stdin)) {
        reply.push_back("handsetd gave no answer");
        return false;
    }
    reply = Words(szLine);
    const bool bOk = !reply.empty() && reply[0] == "ok";
    if (!reply.empty()) reply.erase(reply.begin());
    if (!bOk) printf("handsetd: %s -> %s", strRequest.c_str(), szLine);
    return bOk;
}

bool Device(const std::string &strRequest) {
    std::vector<std::string> reply;
    return Device(strRequest, reply);
}

void Check(bool bPassed, const char *pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    printf("%s ", bPassed ? "  ok" : "FAIL");
    vprintf(pszFormat, args);
    printf("\n");
    va_end(args);
    ++(bPassed ? g_nPassed : g_nFailed);
    fflush(stdout);
}

void Figure(const char *pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    printf("figure: ");
    vprintf(pszFormat, args);
    printf("\n");
    va_end(args);
    fflush(stdout);
}

int FailedChecks() { return g_nFailed; }
int PassedChecks() { return g_nPassed; }

int ReportCount() {
    std::vector<std::string> reply;
    return Device("reports 0 0 0", reply) && !reply.empty() ? atoi(reply[0].c_str()) : -1;
}

bool ReportsSince(int nFrom, int nCount, DWORD dwMs, std::vector<std::string> &hex, std::vector<double> &times) {
    std::vector<std::string> reply;
    char szRequest[64];
    snprintf(szRequest, sizeof szRequest, "reports %d %d %lu", nFrom, nCount, static_cast<unsigned long>(dwMs));
    hex.clear();
    times.clear();
    if (!Device(szRequest, reply) || reply.empty()) return false;
    for (size_t i = 1; i < reply.size(); ++i) {
        size_t nColon = reply[i].find(':');
        times.push_back(atof(reply[i].substr(0, nColon).c_str()));
        hex.push_back(reply[i].substr(nColon + 1));
    }
    return true;
}

std::vector<std::string> ReportsOfLine(const std::string &strLine) {
    std::vector<std::string> reports;
    for (unsigned char c : strLine) {
        char sz[8];
        snprintf(sz, sizeof sz, "06%02x06", c);
        reports.push_back(sz);
    }
    return reports;
}
