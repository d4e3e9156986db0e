#include "xmltv/ImportPump.h"

#include "platform/AbortRequest.h"

#include <time.h>

namespace {

// The import passes a pump point at every token of the feed, and the precise clock cost it a
// tenth of its time; the coarse one is read from memory, and its few milliseconds of resolution
// are nothing against the interval.
std::chrono::nanoseconds CoarseNow() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

} // namespace

ImportPump::ImportPump(std::function<void()> pump, std::chrono::milliseconds interval)
    : pump_(std::move(pump)), interval_(interval), last_(CoarseNow()) {}

void ImportPump::Reached() {
    const std::chrono::nanoseconds now = CoarseNow();
    if (now - last_ < interval_)
        return;
    last_ = now;
    if (pump_)
        pump_();
    ThrowIfAbortRequested();
}
