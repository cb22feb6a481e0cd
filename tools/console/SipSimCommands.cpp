// Far-end commands over the simulated SIP library: see SipSimCommands.h.
#include "SipSimCommands.h"

#include <windows.h>

#include <memory>

#include "KiroSim.h"

bool AddSipSimCommands(CConsole &console) {
    HMODULE hKiro = GetModuleHandleA("KIRO.dll");
    auto pSim = std::make_shared<CKiroSimControls>();
    if (!hKiro || !pSim->Bind(hKiro)) return false;
    console.Add({"offer", "", "far end: offer an incoming call to the line", 0, 0, [pSim](const ConsoleArgs &) {
                     unsigned long ulCall = pSim->OfferCall(pSim->LatestLine());
                     CConsole::Say("  far end: incoming call %lu offered", ulCall);
                     return ulCall != 0;
                 }});
    console.Add({"remote-answer", "", "far end: answer the agent's call", 0, 0, [pSim](const ConsoleArgs &) {
                     CConsole::Say("  far end: answers (%d)", pSim->RemoteAnswer(pSim->LatestCall()));
                     return true;
                 }});
    console.Add({"remote-hangup", "", "far end: hang up", 0, 0, [pSim](const ConsoleArgs &) {
                     CConsole::Say("  far end: hangs up (%d)", pSim->RemoteHangUp(pSim->LatestCall()));
                     return true;
                 }});
    // Waits until the library has delivered every event it has queued.
    console.Add({"settle", "", "wait until the library has delivered its queued events", 0, 0,
                 [pSim, &console](const ConsoleArgs &) {
                     bool bIdle = pSim->WaitIdle(2000) != 0;
                     console.Pump(0);
                     return bIdle;
                 }});
    console.Add({"kiro-calls", "", "list what the plug-in asked of the SIP library", 0, 0, [pSim](const ConsoleArgs &) {
                     for (const std::string &strCall : pSim->Calls()) CConsole::Say("  KIRO: %s", strCall.c_str());
                     return true;
                 }});
    return true;
}
