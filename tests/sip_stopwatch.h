// Elapsed time for the SIP suites' timing checks, from the performance
// counter: GetTickCount64 moves in coarse steps under Wine.
#pragma once

#include <windows.h>

class CStopwatch {
public:
    CStopwatch() { QueryPerformanceCounter(&m_start); }
    double Ms() const {
        LARGE_INTEGER now, frequency;
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(now.QuadPart - m_start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
    }

private:
    LARGE_INTEGER m_start;
};
