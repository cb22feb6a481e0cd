// The handset plug-in's exports as function pointers: bound by their exact
// export names from a loaded DLL, or taken from the library linked into the
// demo host.
#pragma once

#include <windows.h>

#include "bravik32.h"

struct HandsetExports {
#define TV_HANDSET_SLOT(function, exportName) decltype(&function) pfn_##function;
#include "HandsetExportList.h"
#undef TV_HANDSET_SLOT
};
