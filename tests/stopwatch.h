// Elapsed time for the timing checks and bounded polls of the suites, the
// tools that run in them and the 32-bit guest's programs, from the
// performance counter. Wine's tick count (GetTickCount, GetTickCount64)
// moves in coarse, late steps when the machine is busy and under emulation:
// in the guest it once showed 80 ms for a pause of 300 ms.
#pragma once

#include <windows.h>

class CStopwatch {
public:
    CStopwatch() { Restart(); }
    void Restart() { QueryPerformanceCounter(&m_start); }
    double Ms() const {
        LARGE_INTEGER now, frequency;
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(now.QuadPart - m_start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
    }
    // Whole milliseconds, for bounds and figures kept as DWORD.
    DWORD ElapsedMs() const { return static_cast<DWORD>(Ms()); }
    // The counter's low bits, a start that differs from run to run.
    static unsigned RandomStart() {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<unsigned>(now.QuadPart);
    }

private:
    LARGE_INTEGER m_start;
};
