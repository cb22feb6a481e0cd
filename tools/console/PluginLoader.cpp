// Plug-in loading and its diagnosis: see PluginLoader.h.
//
// Error 126 after the plug-in's own file was found means that a DLL it
// imports was not: the plug-in is mapped again without resolving its
// imports, and every DLL its import table names is looked for the way the
// loader looks (SearchPathA: the program's folder, the system folders, the
// current folder, PATH). The loader does not look in the folder the plug-in
// was loaded from, which is why a KIRO.dll beside the SIP plug-in is not
// found when the host loads the plug-in from a folder of its own.
#include "PluginLoader.h"

#include <cstdio>
#include <string>

#include "Console.h"
#include "ImportTrace.h"

std::string SystemMessage(DWORD dwError, const char *szFile) {
    char szText[512] = {};
    DWORD dwLength = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwError, 0,
                                    szText, sizeof szText, nullptr);
    std::string strText(szText, dwLength);
    while (!strText.empty() && (strText.back() == '\n' || strText.back() == '\r' || strText.back() == ' '))
        strText.pop_back();
    size_t nInsert = strText.find("%1");
    if (nInsert != std::string::npos) strText.replace(nInsert, 2, szFile);
    return strText.empty() ? "(Windows has no text for it)" : strText;
}

namespace {

std::string FolderOf(const std::string &strPath) {
    size_t nSlash = strPath.find_last_of("\\/");
    return nSlash == std::string::npos ? std::string(".") : strPath.substr(0, nSlash);
}

std::string FullPath(const char *szPath) {
    char szFull[MAX_PATH] = {};
    DWORD dwLength = GetFullPathNameA(szPath, MAX_PATH, szFull, nullptr);
    return dwLength && dwLength < MAX_PATH ? std::string(szFull) : std::string(szPath);
}

bool FileExists(const std::string &strPath) {
    DWORD dwAttributes = GetFileAttributesA(strPath.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ProgramFolder() {
    char szProgram[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, szProgram, MAX_PATH);
    return FolderOf(szProgram);
}

// Names the DLLs the plug-in (its full path) imports that the loader cannot
// find; false when it found them all (or could not look).
bool ExplainMissingImports(const char *szPath) {
    HMODULE hImage = LoadLibraryExA(szPath, nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (!hImage) return false;
    std::string strPluginFolder = FolderOf(szPath);
    bool bNamed = false;
    for (const std::string &strDll : ImportedDllNames(hImage)) {
        if (SearchPathA(nullptr, strDll.c_str(), nullptr, 0, nullptr, nullptr) != 0) continue;
        bNamed = true;
        CConsole::Say(
            "  hint: a DLL it needs is missing: %s is not where the Windows loader looks for it "
            "(the program's folder %s, the system folders, the current folder, PATH)",
            strDll.c_str(), ProgramFolder().c_str());
        if (FileExists(strPluginFolder + "\\" + strDll))
            CConsole::Say(
                "  %s lies beside the plug-in, in %s, but the loader does not look there: copy it "
                "into the program's folder, or start the program in the plug-in's folder",
                strDll.c_str(), strPluginFolder.c_str());
    }
    FreeLibrary(hImage);
    return bNamed;
}

// The plug-in's file as the loader finds it: a path as given, a bare name
// where DLLs are looked for; empty when there is none.
std::string PluginFile(const char *szPath) {
    std::string strPath(szPath);
    if (strPath.find_first_of("\\/:") != std::string::npos) return FileExists(strPath) ? FullPath(szPath) : "";
    char szFound[MAX_PATH] = {};
    DWORD dwLength = SearchPathA(nullptr, szPath, nullptr, MAX_PATH, szFound, nullptr);
    return dwLength && dwLength < MAX_PATH ? std::string(szFound) : std::string();
}

void ExplainLoadFailure(const char *szPath, DWORD dwError) {
    if (dwError == ERROR_MOD_NOT_FOUND) {
        std::string strFile = PluginFile(szPath);
        if (strFile.empty())
            CConsole::Say("  hint: there is no file %s", szPath);
        else if (!ExplainMissingImports(strFile.c_str()))
            CConsole::Say("  hint: a DLL it needs is missing, e.g. KIRO.dll beside the SIP plug-in");
    } else if (dwError == ERROR_BAD_EXE_FORMAT) {
        CConsole::Say(
            "  hint: not a %u-bit DLL (a DLL of the other width, or not a DLL at all): the plug-ins "
            "and this console are %u-bit",
            static_cast<unsigned>(sizeof(void *) * 8), static_cast<unsigned>(sizeof(void *) * 8));
    }
}

// One string of the module's version resource, in its first language.
std::string VersionString(const std::string &strBlock, const char *szKey) {
    struct Translation {
        WORD wLanguage, wCodePage;
    } *pTranslation = nullptr;
    UINT uLength = 0;
    if (!VerQueryValueA(strBlock.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void **>(&pTranslation),
                        &uLength) ||
        uLength < sizeof *pTranslation)
        return std::string();
    char szQuery[64];
    snprintf(szQuery, sizeof szQuery, "\\StringFileInfo\\%04x%04x\\%s", pTranslation->wLanguage,
             pTranslation->wCodePage, szKey);
    char *pValue = nullptr;
    if (!VerQueryValueA(strBlock.data(), szQuery, reinterpret_cast<void **>(&pValue), &uLength) || !pValue)
        return std::string();
    return std::string(pValue);
}

}  // namespace

HMODULE LoadPlugin(const char *szPath) {
    HMODULE hModule = LoadLibraryA(szPath);
    if (hModule) return hModule;
    DWORD dwError = GetLastError();
    CConsole::Say("cannot load %s: error %lu: %s", szPath, dwError, SystemMessage(dwError, szPath).c_str());
    ExplainLoadFailure(szPath, dwError);
    return nullptr;
}

EPluginKind IdentifyPlugin(HMODULE hModule) {
    if (GetProcAddress(hModule, "CT_StartMonitor")) return EPluginKind::HandsetPlugin;
    if (GetProcAddress(hModule, "TV_MakeCall")) return EPluginKind::SipPlugin;
    return EPluginKind::NotAPlugin;
}

void DescribeModule(HMODULE hModule) {
    char szFile[MAX_PATH] = {};
    GetModuleFileNameA(hModule, szFile, MAX_PATH);
    DWORD dwIgnored = 0;
    DWORD dwSize = GetFileVersionInfoSizeA(szFile, &dwIgnored);
    std::string strBlock(dwSize, '\0');
    std::string strDescription, strVersion;
    if (dwSize && GetFileVersionInfoA(szFile, 0, dwSize, &strBlock[0])) {
        strDescription = VersionString(strBlock, "FileDescription");
        strVersion = VersionString(strBlock, "FileVersion");
    }
    CConsole::Say("loaded %s", szFile);
    if (strVersion.empty())
        CConsole::Say("  no version resource (the plug-ins carry one from version 1.0.0 on)");
    else
        CConsole::Say("  %s, version %s", strDescription.c_str(), strVersion.c_str());
}
