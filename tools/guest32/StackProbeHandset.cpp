// The handset plug-in's exports for the stack checker: names from the list
// that also makes the plug-in's .def files, argument counts from the
// __stdcall prototypes the host binds with.
#include "StackProbe.h"

#include "bravik32.h"

int HandsetExportCalls(SExportCall *pCalls, int nMax) {
    int n = 0;
#define TV_HANDSET_SLOT(function, exportName) \
    if (n < nMax) pCalls[n++] = StackProbeStdcall(exportName, (decltype(&function))nullptr);
#include "HandsetExportList.h"
#undef TV_HANDSET_SLOT
    return n;
}
