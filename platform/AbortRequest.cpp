#include "platform/AbortRequest.h"

#include <atomic>

namespace {
// Lock-free, so a signal handler may set it.
std::atomic<bool> abortRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);
} // namespace

void RequestAbort() noexcept {
    abortRequested.store(true);
}

bool AbortRequested() noexcept {
    return abortRequested.load();
}

void ClearAbortRequest() noexcept {
    abortRequested.store(false);
}

void ThrowIfAbortRequested() {
    if (AbortRequested())
        throw AbortedError();
}
