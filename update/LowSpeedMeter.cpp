#include "update/LowSpeedMeter.h"

namespace {
// A window is followed in this many steps at most.
constexpr int Resolution = 64;
} // namespace

void LowSpeedMeter::Start(int64_t minimumBytes, std::chrono::milliseconds window, Clock::time_point now) {
    samples_.clear();
    total_ = 0;
    if (minimumBytes <= 0 || window.count() <= 0)
        return;
    minimumBytes_ = minimumBytes;
    window_ = window;
    started_ = now;
    samples_.push_back({now, now, 0});
}

void LowSpeedMeter::Add(int64_t bytes, Clock::time_point now) {
    if (samples_.empty())
        return;
    total_ += bytes;
    // Moving the last sample forward counts its bytes as later than they came: the meter can only
    // err towards letting a transfer go on.
    if (samples_.size() > 1 && now - samples_.back().opened < window_ / Resolution)
        samples_.back() = {samples_.back().opened, now, total_};
    else
        samples_.push_back({now, now, total_});
}

bool LowSpeedMeter::TooSlow(Clock::time_point now) {
    if (samples_.empty() || now - started_ < window_)
        return false;
    const Clock::time_point windowStart = now - window_;
    while (samples_.size() > 1 && samples_[1].at <= windowStart)
        samples_.pop_front();
    return total_ - samples_.front().total < minimumBytes_;
}
