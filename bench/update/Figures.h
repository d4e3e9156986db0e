#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

// What the download benchmarks share: their clock and how a figure is taken from rounds.
namespace figures {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace figures
