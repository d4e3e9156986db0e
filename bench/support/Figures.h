#pragma once

// How the benchmarks take their figures: medians, the best of a few runs, paired runs of the
// product and its peer, processor time and the machine's load. Free of Qt, so that a benchmark
// that watches programs from outside (the start-up) takes its figures the same way.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <time.h>

using BenchClock = std::chrono::steady_clock;

inline double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

inline double Seconds(BenchClock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

inline double MillisecondsSince(BenchClock::time_point start) {
    return std::chrono::duration<double, std::milli>(BenchClock::now() - start).count();
}

// Processor time (user and system) used so far by this process, or by its children that have ended,
// in milliseconds. On a loaded machine it varies far less than the time on the clock.
inline double CpuMilliseconds(int who = RUSAGE_SELF) {
    rusage usage{};
    ::getrusage(who, &usage);
    const auto ms = [](const timeval& time) {
        return std::chrono::duration<double, std::milli>(std::chrono::seconds(time.tv_sec) +
                                                         std::chrono::microseconds(time.tv_usec))
            .count();
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Processor time of the calling thread so far, to the nanosecond: a figure that other programs on the
// machine barely move, beside the wall-clock one that they do.
inline double ThreadCpuMilliseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The machine's load average over 1, 5 and 15 minutes, as "0.52 0.61 0.70". Figures mean little
// without it: the ratios move with the load.
inline std::string LoadAverage() {
    double load[3] = {};
    if (::getloadavg(load, 3) != 3)
        return "unknown";
    char text[64];
    std::snprintf(text, sizeof text, "%.2f %.2f %.2f", load[0], load[1], load[2]);
    return text;
}

inline void PrintLoad(const char* when = "") {
    std::printf("load average%s%s: %s\n", *when ? " " : "", when, LoadAverage().c_str());
}

// The shortest of a few runs, in milliseconds; the first run also warms the caches. `prepare` runs
// before each run, outside the timing.
template <typename Run, typename Prepare> double BestOf(int repeats, Run run, Prepare prepare) {
    double best = std::numeric_limits<double>::max();
    for (int i = 0; i < repeats; ++i) {
        prepare();
        const auto start = BenchClock::now();
        run();
        best = std::min(best, MillisecondsSince(start));
    }
    return best;
}

template <typename Run> double BestOf(int repeats, Run run) {
    return BestOf(repeats, run, [] {});
}

// A run's time on the clock and the processor time it took.
struct Timing {
    double ms;
    double cpuMs;
};

// Times `run`; the processor time is this process's own, or with RUSAGE_CHILDREN that of the
// programs it started and waited for.
template <typename Run> Timing Timed(Run run, int who = RUSAGE_SELF) {
    const double cpuBefore = CpuMilliseconds(who);
    const auto start = BenchClock::now();
    run();
    const double ms = MillisecondsSince(start);
    return {ms, CpuMilliseconds(who) - cpuBefore};
}

// One figure of the product and of its peer over paired runs: the median of each, and the median
// of the pairs' ratios, which holds better than the ratio of the medians when the load changes.
class Paired final {
public:
    void Add(double product, double peer) {
        products_.push_back(product);
        peers_.push_back(peer);
        ratios_.push_back(product / peer);
    }
    double Product() const { return Median(products_); }
    double Peer() const { return Median(peers_); }
    double Ratio() const { return Median(ratios_); }

private:
    std::vector<double> products_, peers_, ratios_;
};

// Paired runs timed on the clock and by processor time.
struct PairedTimings {
    Paired clock;
    Paired cpu;
};

// Runs the product and its peer `pairs` times, one right after the other so both meet the same
// load; every other pair the peer goes first, so neither always runs on what the other left behind.
template <typename Product, typename Peer> PairedTimings RunPairs(int pairs, Product product, Peer peer) {
    PairedTimings timings;
    for (int pair = 0; pair < pairs; ++pair) {
        Timing ours{}, theirs{};
        if (pair % 2 == 0) {
            theirs = peer();
            ours = product();
        } else {
            ours = product();
            theirs = peer();
        }
        timings.clock.Add(ours.ms, theirs.ms);
        timings.cpu.Add(ours.cpuMs, theirs.cpuMs);
    }
    return timings;
}
