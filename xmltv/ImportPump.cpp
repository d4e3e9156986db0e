#include "xmltv/ImportPump.h"

#include "platform/AbortRequest.h"

ImportPump::ImportPump(std::function<void()> pump, std::chrono::milliseconds interval)
    : pump_(std::move(pump)), interval_(interval), last_(std::chrono::steady_clock::now()) {}

void ImportPump::Reached() {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < interval_)
        return;
    last_ = now;
    if (pump_)
        pump_();
    ThrowIfAbortRequested();
}
