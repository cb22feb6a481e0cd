// The host window and its messages. The plug-in posts from its link thread;
// this thread takes them with PeekMessage in bounded waits and stamps each
// with the time it was taken. A 1133's number is copied at once: the
// plug-in's buffer holds it only until the next caller-number or digit line.
#include "RealHandset.h"

namespace {

std::vector<SHostMessage> g_journal;

bool TakeOne(SHostMessage &taken) {
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
    taken = {msg.message, msg.wParam, msg.lParam, "", NowUnix()};
    if (msg.message == BRAVIK32_MSG_CALLER_ID && msg.wParam && msg.lParam >= 0 && msg.lParam < 64)
        taken.strNumber.assign(reinterpret_cast<const char *>(msg.wParam), static_cast<size_t>(msg.lParam));
    if (msg.message < WM_USER) {
        DispatchMessageA(&msg);
        return false;
    }
    g_journal.push_back(taken);
    return true;
}

}  // namespace

HWND HostWindow() {
    static HWND hWnd =
        CreateWindowExA(0, "STATIC", "handset_real", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    return hWnd;
}

bool AwaitMessage(UINT nMessage, DWORD dwMs, SHostMessage *pFound) {
    const CStopwatch sinceStart;
    for (;;) {
        SHostMessage taken;
        while (TakeOne(taken))
            if (taken.nMessage == nMessage) {
                if (pFound) *pFound = taken;
                return true;
            }
        const DWORD dwGone = sinceStart.ElapsedMs();
        if (dwGone >= dwMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, dwMs - dwGone < 50 ? dwMs - dwGone : 50, QS_ALLPOSTMESSAGE);
    }
}

void PumpFor(DWORD dwMs) { AwaitMessage(0xFFFF, dwMs); }

std::vector<SHostMessage> TakeJournal() {
    std::vector<SHostMessage> journal;
    journal.swap(g_journal);
    return journal;
}

int CountIn(const std::vector<SHostMessage> &journal, UINT nMessage) {
    int n = 0;
    for (const SHostMessage &m : journal) n += m.nMessage == nMessage;
    return n;
}
