#pragma once

#include <chrono>
#include <functional>

// Keeps the window answering through a long import, as the archive's extraction does: the pump
// runs at most every `interval` apart, and at each pump point the import gives up with
// AbortedError once an abort has been requested (the session ends), leaving nothing half-done.
class ImportPump final {
public:
    ImportPump(std::function<void()> pump, std::chrono::milliseconds interval);

    // A point where the import may pump: pumps when `interval` has passed since the last pump.
    void Reached();

private:
    std::function<void()> pump_;
    std::chrono::milliseconds interval_;
    std::chrono::nanoseconds last_; // on the coarse monotonic clock
};
