// The handset's events through the real stacks, and its unplug and replug.
// Each event line goes out from handsetd as input reports 20 ms apart; the
// next line only after the message of the one before has come (or, for a
// line that posts nothing, right behind it), so that the plug-in's pause
// after a line never lets Wine's input buffer run over.
#include <cstdio>
#include <cstring>

#include "RealHandset.h"

namespace {

struct SEvent {
    const char *pszLine;  // as sent, with "\r\n" written out for handsetd
    UINT nMessage;        // 0: none expected
    const char *pszNumber;
};

const SEvent g_aEvents[] = {
    {"ATR\\r\\n", BRAVIK32_MSG_RING, nullptr},
    {"ATCI:13800138000\\r\\n", BRAVIK32_MSG_CALLER_ID, "13800138000"},
    {"ATZ\\r\\n", BRAVIK32_MSG_OFF_HOOK, nullptr},
    {"ATN12#\\r\\n", BRAVIK32_MSG_STOP_DIGIT, nullptr},
};

bool SendLine(const char *pszLine, double *pdSent) {
    std::vector<std::string> reply;
    if (!Device(std::string("send 20 ") + pszLine, reply) || reply.size() < 2) return false;
    *pdSent = atof(reply[1].c_str());
    return true;
}

void CheckEvent(const SEvent &event) {
    double dSent = 0;
    SHostMessage m = {};
    const bool bSent = SendLine(event.pszLine, &dSent);
    const bool bCame = bSent && AwaitMessage(event.nMessage, 10000, &m);
    bool bRight = bCame && m.wParam == 0 && m.lParam == 0;
    char szParams[96];
    snprintf(szParams, sizeof szParams, "wParam %#lx lParam %ld", static_cast<unsigned long>(m.wParam),
             static_cast<long>(m.lParam));
    if (event.pszNumber) {
        bRight = bCame && m.strNumber == event.pszNumber && m.lParam == static_cast<LPARAM>(strlen(event.pszNumber));
        snprintf(szParams, sizeof szParams, "number \"%s\" lParam %ld", m.strNumber.c_str(), static_cast<long>(m.lParam));
    }
    Check(bRight, "%-22s -> %u %s, %.0f ms after its last report", event.pszLine, m.nMessage, szParams,
          (m.dTime - dSent) * 1000);
}

void CheckDigitsDrain(const SPlugin &plugin) {
    auto pfnGetChar = reinterpret_cast<BRAVIK32_PFN_TV_GetDTMFChar>(Export(plugin, "TV_GetDTMFChar"));
    std::string strDrained;
    int c;
    while (strDrained.size() < 8 && (c = pfnGetChar(0)) != -1) strDrained += static_cast<char>(c);
    Check(strDrained == "12#", "TV_GetDTMFChar drains \"%s\" in order, then -1 (expected \"12#\")", strDrained.c_str());
    double dSent = 0;
    SendLine("ATN45#\\r\\n", &dSent);
    const bool bCame = AwaitMessage(BRAVIK32_MSG_STOP_DIGIT, 10000);
    char szDigits[64] = {};
    const int n = reinterpret_cast<BRAVIK32_PFN_CT_GetDTMFStr>(Export(plugin, "CT_GetDTMFStr"))(szDigits);
    Check(bCame && n == 3 && !strcmp(szDigits, "45#"), "ATN45# -> 1125, CT_GetDTMFStr gives %d \"%s\"", n, szDigits);
    // A digit without the stop digit, then the hang-up, which empties the queue.
    SendLine("ATN7\\r\\n", &dSent);
    SendLine("ATH\\r\\n", &dSent);
    SHostMessage m = {};
    const bool bHungUp = AwaitMessage(BRAVIK32_MSG_HANG_UP, 10000, &m);
    Check(bHungUp && pfnGetChar(0) == -1, "ATN7 then ATH -> 1126 %.0f ms after its last report, the digit queue empty",
          (m.dTime - dSent) * 1000);
}

}  // namespace

void CheckEvents(const SPlugin &plugin) {
    TakeJournal();
    for (const SEvent &event : g_aEvents) CheckEvent(event);
    CheckDigitsDrain(plugin);
    std::string strSeen;
    const std::vector<SHostMessage> journal = TakeJournal();
    for (const SHostMessage &m : journal) strSeen += " " + std::to_string(m.nMessage);
    Check(strSeen == " 1124 1133 1127 1125 1125 1126", "the events posted exactly:%s (expected 1124 1133 1127 1125 1125 1126)",
          strSeen.c_str());
}

void CheckUnplugAndReplug(const SPlugin &plugin) {
    std::vector<std::string> reply;
    TakeJournal();
    SHostMessage first = {}, second = {};
    SUnplugProbe probe = ProbeBeforeUnplug();
    const bool bUnplugged = Device("unplug", reply) && reply.size() == 2;
    const double dUnplug = bUnplugged ? atof(reply[0].c_str()) : NowUnix();
    const bool bFirst = bUnplugged && AwaitMessage(BRAVIK32_MSG_NO_HANDSET, 15000, &first);
    const bool bSecond = bFirst && AwaitMessage(BRAVIK32_MSG_NO_HANDSET, 15000, &second);
    Figure("unplug: first 1134 %.0f ms after the unbind, the next %.0f ms later", (first.dTime - dUnplug) * 1000,
           bSecond ? (second.dTime - first.dTime) * 1000 : -1.0);
    // One search period: the 200-ms pause, the search and its 2-s sleep.
    Check(bFirst && first.dTime - dUnplug < 2.2 + 1.0, "unplug: 1134 within one search period (%.2f s)",
          first.dTime - dUnplug);
    Check(plugin.pfnInitialize() == 0, "unplug: TV_Initialize answers 0");
    ProbeAfterUnplug(probe);
    const int nLogged = LoggedReadError();
    Figure("unplug: the plug-in logged GetOverlappedResult error %d", nLogged);
    TakeJournal();
    const bool bPlugged = Device("plug", reply) && reply.size() == 2;
    const double dPlugged = bPlugged ? atof(reply[1].c_str()) : NowUnix();
    const double dFound = bPlugged ? AwaitHandsetOpen(plugin, 20000) : -1;
    const int nMissed = CountIn(TakeJournal(), BRAVIK32_MSG_NO_HANDSET);
    Figure("replug: found %.0f ms after the rebind had settled, %d failed search(es) in between",
           (NowUnix() - dPlugged) * 1000, nMissed);
    Check(dFound >= 0 && nMissed <= 1, "replug: found within the next search (%d 1134 after the rebind)", nMissed);
    // The second session works the same.
    double dSent = 0;
    SHostMessage m = {};
    const bool bRing = SendLine("ATR\\r\\n", &dSent) && AwaitMessage(BRAVIK32_MSG_RING, 10000, &m);
    Check(bRing, "replug: ATR -> 1124 again, %.0f ms after its last report", (m.dTime - dSent) * 1000);
    const int nFrom = ReportCount();
    reinterpret_cast<BRAVIK32_PFN_TV_HangUpCtrl>(Export(plugin, "TV_HangUpCtrl"))(0);
    std::vector<std::string> hex;
    std::vector<double> times;
    ReportsSince(nFrom, 5, 5000, hex, times);
    Check(hex == ReportsOfLine("ATH\r\n"), "replug: TV_HangUpCtrl reaches the handset again (%u reports)",
          static_cast<unsigned>(hex.size()));
}
