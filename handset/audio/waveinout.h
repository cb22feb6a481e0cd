// The handset's wave input and output devices (placeholder until the audio
// device module lands): the wave message thread hands every message here.
#pragma once

#include <windows.h>

void HandleWaveMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);
