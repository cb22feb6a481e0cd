// The console's "wavedevices" command: the system's wave devices, output
// and input, by id with the names the wave API reports, and the one the
// handset plug-in would open, so that a deployer can check a desk (on
// Windows since Vista the handset shows under its endpoint name).
#pragma once

#include <string>
#include <vector>

#include "Console.h"
#include "platform/wave_api.h"

// The wave functions of the system (winmm), for a console that loads the
// plug-in's DLL; only the device count and capability functions are set.
const WAVE_API &SystemWaveDevices();
// The listing, one line each, over the given table (read at every call, so
// that the demo host's emulated devices show as they are now).
std::vector<std::string> DescribeWaveDevices(const WAVE_API &wave);
void AddWaveDeviceCommand(CConsole &console, const WAVE_API &wave);
