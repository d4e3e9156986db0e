#pragma once

#include <chrono>
#include <cstdint>
#include <deque>

// The low-speed limit of a transfer, as curl has one: fewer than `minimumBytes` within any stretch
// of `window` fails it. Without it a server that trickles a byte now and then keeps the read
// time-out from ever running out. Time is handed in, so tests need no clock of their own.
class LowSpeedMeter final {
public:
    using Clock = std::chrono::steady_clock;

    // Starts measuring at `now`; a limit or window of zero or less measures nothing.
    void Start(int64_t minimumBytes, std::chrono::milliseconds window, Clock::time_point now);
    void Stop() { samples_.clear(); }
    void Add(int64_t bytes, Clock::time_point now);
    // True once a whole window has passed since the start and its last stretch brought too little.
    bool TooSlow(Clock::time_point now);

private:
    struct Sample {
        Clock::time_point opened; // when the sample was first taken; later bytes merge into it
        Clock::time_point at;
        int64_t total; // bytes that had come by then
    };
    int64_t minimumBytes_ = 0;
    Clock::duration window_{};
    Clock::time_point started_{};
    int64_t total_ = 0;
    // Samples close together are merged, so the list stays short however small the pieces are.
    std::deque<Sample> samples_;
};
