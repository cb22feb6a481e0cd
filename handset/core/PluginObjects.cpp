// The plug-in's process-wide objects, defined in one file because C++ orders
// the construction of static objects only within a file: the log first, so
// that the handset link can write to it from its first moment, and destroyed
// after the link.
#include "core/Halvex.h"
#include "support/LogReporter.h"

CLogReporter g_LogReporter;
Halvex g_Halvex;
