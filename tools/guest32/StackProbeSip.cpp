// The SIP plug-in's exports for the stack checker, with the __cdecl
// prototypes of its header (kept apart from the handset's: the names clash).
// Only the types are used: nothing here links the plug-in.
#include "StackProbe.h"

#include "marenta.h"

int SipExportCalls(SExportCall *pCalls, int nMax) {
    int n = 0;
#define TV_SIP_SLOT(function) \
    if (n < nMax) pCalls[n++] = StackProbeCdecl(#function, (decltype(&function))nullptr);
#include "SipExportList.h"
#undef TV_SIP_SLOT
    return n;
}
