#pragma once
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

// Milliseconds on the performance counter.
inline double NowMs()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

inline double Median(std::vector<double> values)
{
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

// Runs measure() `runs` times and gives the median of what it returns.
template <typename Measure>
double MedianOf(int runs, Measure measure)
{
    std::vector<double> values;
    for (int i = 0; i < runs; ++i) values.push_back(measure());
    return Median(values);
}

// One figure for scripts/bench.sh: name, ours, baseline and the unit, tab
// separated; the runner computes the ratio and holds it against the goal.
// Where ours and the baseline were measured in pairs, the median of the
// pairs' own ratios follows and is the ratio judged: it moves less with the
// machine's load than the ratio of the two medians.
inline void PrintFigure(const char* name, double ours, double baseline, const char* unit,
                        double pairedRatio = 0.0)
{
    if (pairedRatio > 0.0)
        std::printf("FIGURE\t%s\t%.4f\t%.4f\t%s\t%.4f\n", name, ours, baseline, unit, pairedRatio);
    else
        std::printf("FIGURE\t%s\t%.4f\t%.4f\t%s\n", name, ours, baseline, unit);
    std::fflush(stdout);
}

// A figure that has no goal, printed for the reader.
inline void PrintNote(const char* name, double value, const char* unit)
{
    std::printf("NOTE\t%s\t%.4f\t%s\n", name, value, unit);
    std::fflush(stdout);
}
