// Prints how long the program takes from its start to its window being mapped on the X server, with
// an empty data folder and with many listings in the class shown at start, next to two peers: a
// minimal Qt Widgets window built with the same flags, and the same window showing a line of
// Chinese text in the program's font. Paired runs (program and peer), medians of each and
// of the ratios, by the clock and by processor time until the map. Needs an X server of its own
// (run it under `xvfb-run -a`).
//
//   startup_bench [listings, default 5000] [program, default the one built beside this benchmark]

#include "bench/support/Figures.h"

#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = BenchClock;

constexpr int kPairs = 11;

class MapWatch final {
public:
    MapWatch() : connection_(xcb_connect(nullptr, nullptr)) {
        if (xcb_connection_has_error(connection_)) {
            std::fprintf(stderr, "no X server (run under xvfb-run -a)\n");
            std::exit(1);
        }
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, screen->root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection_);
    }
    ~MapWatch() { xcb_disconnect(connection_); }

    // Waits for the next top-level window to be mapped; false after 30 s without one.
    bool WaitForMap() {
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (Clock::now() < deadline) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
                const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY &&
                                    !reinterpret_cast<xcb_map_notify_event_t*>(event)->override_redirect;
                std::free(event);
                if (mapped)
                    return true;
            }
            pollfd descriptor{xcb_get_file_descriptor(connection_), POLLIN, 0};
            ::poll(&descriptor, 1, 100);
        }
        return false;
    }

private:
    xcb_connection_t* connection_;
};

// Milliseconds that the threads of `pid` have run on a processor so far (the scheduler's own count,
// in nanoseconds, not in clock ticks).
double ProcessorMs(pid_t pid) {
    double ns = 0;
    std::error_code error;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream stat(task.path() / "schedstat");
        double runNs = 0;
        if (stat >> runNs)
            ns += runNs;
    }
    return ns / 1e6;
}

// What is started: a program and its one argument, if any.
struct Start {
    fs::path program;
    std::string argument;
};

// From the start of a program to its window mapped, and the processor time of the program until
// then; the program is then ended.
Timing TimeToMap(MapWatch& watch, const Start& start, const fs::path& workingFolder) {
    const std::string path = start.program.string();
    std::string argument = start.argument;
    char* arguments[] = {const_cast<char*>(path.c_str()), argument.empty() ? nullptr : argument.data(),
                         nullptr};
    fs::current_path(workingFolder);
    const auto started = Clock::now();
    pid_t child = 0;
    if (::posix_spawn(&child, path.c_str(), nullptr, nullptr, arguments, environ) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    const bool mapped = watch.WaitForMap();
    const double ms = MillisecondsSince(started);
    const double cpuMs = ProcessorMs(child);
    ::kill(child, SIGTERM);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!mapped) {
        std::fprintf(stderr, "%s mapped no window\n", path.c_str());
        std::exit(1);
    }
    return {ms, cpuMs};
}

void WriteListings(const fs::path& folder, int count) {
    fs::create_directories(folder);
    const char* stems[] = {"01", "anhui卫视", "北京电视台", "news", "CCTV-新闻", "xiamen旅游"};
    for (int i = 0; i < count; ++i)
        std::ofstream(folder / (std::string(stems[i % std::size(stems)]) + std::to_string(i) + ".txt"))
            << "08:00 新闻联播\r\n";
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int listings = argc > 1 ? std::atoi(argv[1]) : 5000;

    // A scratch home, runtime folder and program folder, so the runs meet nothing of the user's.
    char pattern[] = "/tmp/pelnavi-startup-XXXXXX";
    const fs::path scratch = ::mkdtemp(pattern);
    fs::create_directories(scratch / "home");
    fs::create_directories(scratch / "runtime");
    fs::permissions(scratch / "runtime", fs::perms::owner_all);
    ::setenv("HOME", (scratch / "home").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (scratch / "runtime").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    const fs::path programFolder = scratch / "program";
    fs::create_directories(programFolder);
    const fs::path programCopy = programFolder / "pelnavi";
    fs::copy_file(argc > 2 ? argv[2] : PELNAVI_PROGRAM, programCopy);
    const Start program{programCopy, {}};
    const struct {
        const char* name;
        Start start;
    } peers[] = {{"minimal window", {PELNAVI_MINIMAL_WINDOW, {}}},
                 {"minimal + a Chinese line", {PELNAVI_MINIMAL_WINDOW, "chinese"}}};

    MapWatch watch;
    std::printf("start-up to the window mapped, medians of %d paired runs with each peer\n", kPairs);
    PrintLoad("before");
    std::printf("%-15s %-26s %11s %9s %7s %12s %9s %7s\n", "data folder", "peer", "program ms", "peer ms",
                "ratio", "program cpu", "peer cpu", "ratio");
    for (const int count : {0, listings}) {
        WriteListings(programFolder / "ZORQListTemp" / "央视频道", count);
        TimeToMap(watch, program, programFolder); // warms the caches for all
        for (const auto& peer : peers) {
            TimeToMap(watch, peer.start, programFolder);
            const PairedTimings startup = RunPairs(
                kPairs, [&] { return TimeToMap(watch, program, programFolder); },
                [&] { return TimeToMap(watch, peer.start, programFolder); });
            const std::string label = std::to_string(count) + " listings";
            std::printf("%-15s %-26s %11.1f %9.1f %6.2fx %12.1f %9.1f %6.2fx\n", label.c_str(), peer.name,
                        startup.clock.Product(), startup.clock.Peer(), startup.clock.Ratio(),
                        startup.cpu.Product(), startup.cpu.Peer(), startup.cpu.Ratio());
        }
    }
    PrintLoad("after");
    fs::current_path("/");
    fs::remove_all(scratch);
    return 0;
}
