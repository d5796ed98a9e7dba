// A small timing harness for the benchmarks: warm-up, then the median of
// repeated runs, timed with QueryPerformanceCounter.
#pragma once

#include <windows.h>

#include <algorithm>
#include <functional>
#include <vector>

inline double MedianMs(int runs, const std::function<void(int)>& body) {
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    for (int i = 0; i < runs / 10 + 1; ++i)
        body(i);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QueryPerformanceCounter(&start);
        body(i);
        QueryPerformanceCounter(&end);
        times.push_back(double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}
