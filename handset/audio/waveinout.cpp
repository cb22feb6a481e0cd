// Wave device notifications: none are acted on yet.
#include "audio/waveinout.h"

void HandleWaveMessage(UINT, WPARAM, LPARAM) {}
