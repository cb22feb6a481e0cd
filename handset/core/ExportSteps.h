// Steps that the control exports (ControlExports.cpp) and the file exports
// (FileExports.cpp) share. Both run on whichever host thread calls them.
#pragma once

#include "core/Halvex.h"

// A command line without payload ("AT<letter>\r\n") through the handset link.
inline void SendLetter(char cLetter) { g_Halvex.SendCommand(cLetter, 0, nullptr); }

// A host string for the log: a null pointer is logged, never read.
inline const char *Printable(const char *szText) { return szText ? szText : "(null)"; }
