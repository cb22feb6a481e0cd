// Loading a plug-in DLL as the agent desktop does (LoadLibraryA with the path
// given), and telling a field engineer what went wrong when it does not load
// or is not a plug-in, and which build it is when it does.
#pragma once

#include <windows.h>

#include <string>

// The system's text for a Windows error; its %1 stands for the file.
std::string SystemMessage(DWORD dwError, const char *szFile);

enum class EPluginKind { NotAPlugin, HandsetPlugin, SipPlugin };

// The loaded module, or null after printing the system's message for the
// load failure and a hint (126: which DLL it needs is missing and where the
// loader looks for it; 193: not a DLL of this console's width).
HMODULE LoadPlugin(const char *szPath);

// The rule a host can use too: only the handset plug-in exports
// CT_StartMonitor, only the SIP plug-in exports TV_MakeCall.
EPluginKind IdentifyPlugin(HMODULE hModule);

// Prints the file the loader took and its version resource (description and
// version), or that it has none.
void DescribeModule(HMODULE hModule);
