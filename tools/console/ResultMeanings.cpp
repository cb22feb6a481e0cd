// The meanings of the exports' results: see ResultMeanings.h. The texts say
// what the result tells a field engineer, in the terms of the plug-ins'
// headers (include/bravik32.h, include/marenta.h).
#include "ResultMeanings.h"

#include <cstring>

namespace {
const long D_lAny = D_lAnyOtherResult;
const char D_szSentIfOpen[] = "sent if a handset is open; nothing comes back";
}  // namespace

// clang-format off
const ResultMeaning g_HandsetMeanings[] = {
    {"TV_Installed", 1, "installed", false},
    {"TV_Initialize", 1, "a handset is open", false},
    {"TV_Initialize", 0, "no handset open yet; the plug-in searches every 2.2 s", true},
    {"TV_Disable", 0, "logged only; stops nothing", false},
    {"TV_CompressRatio", 0, "logged only", false},
    {"TV_FlushDTMF", 0, "digit queue emptied", false},
    {"TV_GetDTMFChar", -1, "no digit queued", false},
    {"TV_GetDTMFChar", D_lAny, "the oldest queued digit, now taken from the queue", false},
    {"TV_HangUpCtrl", 0, D_szSentIfOpen, false},
    {"TV_OffHookCtrl", 0, D_szSentIfOpen, false},
    {"TV_StartDial", 0, "always 0: sent if a handset is open and the number fits (26 digits)", false},
    {"TV_GetDLLVersion", 0, "version written", false},
    {"CT_StartMonitor", 1, "notifications go to the console's window", false},
    {"_CT_StopMonitor@0", 0, "logged only; the window stays registered", false},
    {"CT_Flash", 1, D_szSentIfOpen, false},
    {"CT_Bell", 1, D_szSentIfOpen, false},
    {"CT_Keyboard", 1, D_szSentIfOpen, false},
    {"CT_Mic", 1, D_szSentIfOpen, false},
    {"CT_Spk", 1, D_szSentIfOpen, false},
    {"_CT_RingOn@0", 1, D_szSentIfOpen, false},
    {"_CT_RingOff@0", 1, D_szSentIfOpen, false},
    {"_CT_MicMute@4", 1, D_szSentIfOpen, false},
    {"_CT_EarMute@4", 1, D_szSentIfOpen, false},
    {"_CT_KeyLock@4", 1, D_szSentIfOpen, false},
    {"_CT_SendDTMF@4", 1, "logged only; nothing is sent to the handset", false},
    {"CT_GetANI", 0, "the last caller number copied", false},
    {"CT_GetKeys", 1, "always 1: the bytes written are the keys", false},
    {"CT_GetDTMFStr", 0, "no digit queued", false},
    {"CT_GetDTMFStr", D_lAny, "digits moved out of the queue", false},
    {"CT_SetStopIO", 0, "stop digit set", false},
    {"?CT_GetErrorDesc@@YGHPAD@Z", 0, "logged only; the buffer is not written", false},
    {"?CT_GetStatus@@YGHXZ", 0, "logged only", false},
    {"TV_StartPlayFile", 0, "playing", false},
    {"TV_StartPlayFile", -1, "not started: the file or the audio device could not be opened, or a playback runs", true},
    {"TV_StopPlayFile", 1, "no playback any more", false},
    {"TV_PlayFileRest", 1, "a playback job exists", false},
    {"TV_PlayFileRest", 0, "no playback", false},
    {"TV_StartRecordFile", 0, "recording", false},
    {"TV_StartRecordFile", -1, "not started: no file name, or the file or the audio device could not be opened", true},
    {"TV_StopRecordFile", 0, "no recording any more; a recorded file is complete", false},
    {"TV_RecordFileRest", 1, "a recording job exists", false},
    {"TV_RecordFileRest", 0, "no recording", false},
    {nullptr, 0, nullptr, false},
};
// clang-format on

// clang-format off
const ResultMeaning g_SipMeanings[] = {
    {"TV_Initialize", 0, "registered", false},
    {"TV_Initialize", -1, "SIP library start failed", true},
    {"TV_Initialize", -2, "registration not confirmed in time", true},
    {"TV_Initialize", -3, "registration request refused", true},
    {"TV_UnInitialize", 0, "unregistered", false},
    {"TV_UnInitialize", -1, "unregistration not confirmed in time", true},
    {"TV_UnInitialize", -2, "unregistration request failed", true},
    {"TV_MakeCall", 0, "call placed", false},
    {"TV_MakeCall", -1, "no call progress in time", true},
    {"TV_MakeCall", -2, "refused: not registered, no destination, or the library refused", true},
    {"TV_HangUpCall", 0, "call ended", false},
    {"TV_HangUpCall", -1, "end of call not confirmed in time", true},
    {"TV_HangUpCall", -2, "refused: no call to end, or the library refused", true},
    {"TV_OffHook", 0, "connected", false},
    {"TV_OffHook", -1, "not connected in time", true},
    {"TV_OffHook", -2, "refused: no ringing call, or the library refused", true},
    {"TV_PickUp", 0, "the next ringing calls are answered at once", false},
    {"TV_Installed", 1, "installed", false},
    {"TV_StartPlayFile", 0, "playing on the call", false},
    {"TV_StartPlayFile", -1, "refused: no connected call, or the library refused", true},
    {"TV_StopPlayFile", 0, "stopped", false},
    {"TV_StopPlayFile", -1, "refused: no connected call, or the library refused", true},
    {"TV_StartRecordFile", 0, "recording the call", false},
    {"TV_StartRecordFile", -1, "refused: no connected call, or the library refused", true},
    {"TV_StopRecordFile", 0, "stopped", false},
    {"TV_StopRecordFile", -1, "refused: no connected call, or the library refused", true},
    {nullptr, 0, nullptr, false},
};
// clang-format on

const ResultMeaning *FindMeaning(const ResultMeaning *pTable, const char *szExport, long lResult) {
    const ResultMeaning *pAnyOther = nullptr;
    for (const ResultMeaning *pRow = pTable; pRow && pRow->szExport; ++pRow) {
        if (strcmp(pRow->szExport, szExport) != 0) continue;
        if (pRow->lValue == lResult) return pRow;
        if (pRow->lValue == D_lAnyOtherResult) pAnyOther = pRow;
    }
    return pAnyOther;
}
