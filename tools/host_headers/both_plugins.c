/* A host that supports whichever plug-in is deployed, as the headers tell
 * host developers to write one: both headers in one C file, without their
 * prototypes, every export bound with the documented cast. Built in both
 * widths with every warning an error (tools/host_headers.cmake), so that the
 * headers cannot drift from what they promise. */
#define BRAVIK32_NO_PROTOTYPES
#define MARENTA_NO_PROTOTYPES
#include "bravik32.h"
#include "marenta.h"

#define BIND(type, module, name) ((type)(void (*)(void))GetProcAddress((module), (name)))

/* 1 handset plug-in, 2 SIP plug-in, 0 neither; the bound export is called
 * so that the pointer types are used as a host uses them. */
int HostHeadersIdentifyC(HMODULE hPlugin) {
    if (BRAVIK32_IS_HANDSET_PLUGIN(hPlugin)) {
        BRAVIK32_PFN_CT_Bell pfnBell = BIND(BRAVIK32_PFN_CT_Bell, hPlugin, "CT_Bell");
        BRAVIK32_PFN_CT_RingOn pfnRingOn = BIND(BRAVIK32_PFN_CT_RingOn, hPlugin, BRAVIK32_NAME_CT_RingOn);
        BRAVIK32_PFN_TV_StartPlayFile pfnPlay = BIND(BRAVIK32_PFN_TV_StartPlayFile, hPlugin, "TV_StartPlayFile");
        return pfnBell && pfnRingOn && pfnPlay ? 1 : 0;
    }
    if (MARENTA_IS_SIP_PLUGIN(hPlugin)) {
        MARENTA_PFN_TV_Initialize pfnInitialize = BIND(MARENTA_PFN_TV_Initialize, hPlugin, "TV_Initialize");
        MARENTA_PFN_TV_StartPlayFile pfnPlay = BIND(MARENTA_PFN_TV_StartPlayFile, hPlugin, "TV_StartPlayFile");
        /* The earlier names of both headers stay usable without prototypes. */
        PFN_TV_OneString pfnMakeCall = BIND(PFN_TV_OneString, hPlugin, "TV_MakeCall");
        BRAVIK32_PFN_INT pfnHangUp = BIND(BRAVIK32_PFN_INT, hPlugin, "TV_HangUpCtrl");
        return pfnInitialize && pfnPlay && pfnMakeCall && !pfnHangUp ? 2 : 0;
    }
    return 0;
}
