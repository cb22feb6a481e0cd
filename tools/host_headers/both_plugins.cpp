// The same host in C++: both headers, no prototypes, the documented cast in
// its C++ spelling, and every export of both plug-ins bound by its pointer
// type. Built with every warning an error (tools/host_headers.cmake).
#define BRAVIK32_NO_PROTOTYPES
#define MARENTA_NO_PROTOTYPES
#include "bravik32.h"
#include "marenta.h"

namespace {

template <typename Pfn>
Pfn Bind(HMODULE hModule, const char *szName) {
    return reinterpret_cast<Pfn>(reinterpret_cast<void (*)(void)>(GetProcAddress(hModule, szName)));
}

}  // namespace

int HostHeadersIdentifyCpp(HMODULE hPlugin) {
    if (BRAVIK32_IS_HANDSET_PLUGIN(hPlugin)) {
        auto pfnStartMonitor = Bind<BRAVIK32_PFN_CT_StartMonitor>(hPlugin, "CT_StartMonitor");
        auto pfnGetStatus = Bind<BRAVIK32_PFN_CT_GetStatus>(hPlugin, BRAVIK32_NAME_CT_GetStatus);
        auto pfnRecord = Bind<BRAVIK32_PFN_TV_StartRecordFile>(hPlugin, "TV_StartRecordFile");
        return pfnStartMonitor && pfnGetStatus && pfnRecord ? 1 : 0;
    }
    if (MARENTA_IS_SIP_PLUGIN(hPlugin)) {
        auto pfnMakeCall = Bind<MARENTA_PFN_TV_MakeCall>(hPlugin, "TV_MakeCall");
        auto pfnRecord = Bind<MARENTA_PFN_TV_StartRecordFile>(hPlugin, "TV_StartRecordFile");
        return pfnMakeCall && pfnRecord ? 2 : 0;
    }
    return 0;
}
