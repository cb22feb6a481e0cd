// The console's "wavedevices" command: see WaveDeviceCommand.h. The choice
// is the plug-in's own (audio/HandsetWaveName.h), not a copy of it; names
// are shown as their bytes, in the system's code page like the console's.
#include "WaveDeviceCommand.h"

#include <cstring>

#include "audio/HandsetWaveName.h"

namespace {

// One direction of the table.
struct WaveDirectionView {
    const char *pszDirection;
    const char *pszVerb;
    UINT (*pfnCount)(const WAVE_API &);
    MMRESULT (*pfnName)(const WAVE_API &, UINT, char *);
};

template <class CAPS, class PFN>
MMRESULT NameOf(PFN pfnGetDevCaps, UINT nId, char *pszName) {
    CAPS caps = {};
    MMRESULT nResult = pfnGetDevCaps(nId, &caps, sizeof(caps));
    memcpy(pszName, caps.szPname, D_nWaveNameBytes);
    return nResult;
}

// clang-format off
const WaveDirectionView D_Views[] = {
    {"output", "plays through",
     [](const WAVE_API &wave) { return wave.waveOutGetNumDevs(); },
     [](const WAVE_API &wave, UINT nId, char *pszName) {
         return NameOf<WAVEOUTCAPSA>(wave.waveOutGetDevCapsA, nId, pszName);
     }},
    {"input", "records from",
     [](const WAVE_API &wave) { return wave.waveInGetNumDevs(); },
     [](const WAVE_API &wave, UINT nId, char *pszName) {
         return NameOf<WAVEINCAPSA>(wave.waveInGetDevCapsA, nId, pszName);
     }},
};
// clang-format on

const char *MatchName(EWaveNameMatch eMatch) {
    return eMatch == EWaveNameMatch::Exact ? "exact name" : "endpoint name of Windows since Vista";
}

void Describe(const WAVE_API &wave, const WaveDirectionView &view, std::vector<std::string> &lines) {
    UINT nDevices = view.pfnCount(wave);
    std::vector<std::string> names;
    CHandsetWaveChoice choice;
    for (UINT nId = 0; nId < nDevices; ++nId) {
        char szName[D_nWaveNameBytes] = {};
        bool bNamed = view.pfnName(wave, nId, szName) == MMSYSERR_NOERROR;
        if (bNamed) choice.Offer(nId, szName);
        names.push_back(bNamed ? "\"" + std::string(szName, strnlen(szName, sizeof(szName))) + "\""
                               : "(capabilities not readable)");
    }
    for (UINT nId = 0; nId < nDevices; ++nId) {
        bool bChosen = choice.Found() && choice.Id() == nId;
        lines.push_back(std::string(view.pszDirection) + " " + std::to_string(nId) + " " + names[nId] +
                        (bChosen ? "  <- the handset" : ""));
    }
    if (choice.Found()) {
        lines.push_back(std::string("the plug-in ") + view.pszVerb + " " + view.pszDirection + " " +
                        std::to_string(choice.Id()) + " (" + MatchName(choice.Match()) + ")");
    } else {
        lines.push_back(std::string("no ") + view.pszDirection + " has the handset's name: the plug-in " +
                        view.pszVerb + " the default device (or the id it found earlier while loaded)");
    }
}

}  // namespace

const WAVE_API &SystemWaveDevices() {
    static WAVE_API s_system = [] {
        WAVE_API system = {};
        system.waveInGetNumDevs = ::waveInGetNumDevs;
        system.waveInGetDevCapsA = ::waveInGetDevCapsA;
        system.waveOutGetNumDevs = ::waveOutGetNumDevs;
        system.waveOutGetDevCapsA = ::waveOutGetDevCapsA;
        return system;
    }();
    return s_system;
}

std::vector<std::string> DescribeWaveDevices(const WAVE_API &wave) {
    std::vector<std::string> lines;
    for (const WaveDirectionView &view : D_Views) Describe(wave, view, lines);
    return lines;
}

void AddWaveDeviceCommand(CConsole &console, const WAVE_API &wave) {
    const WAVE_API *pWave = &wave;
    console.Add({"wavedevices", "", "the wave devices, and the one the plug-in opens for the handset", 0, 0,
                 [pWave](const ConsoleArgs &) {
                     for (const std::string &strLine : DescribeWaveDevices(*pWave))
                         CConsole::Say("  %s", strLine.c_str());
                     return true;
                 }});
}
