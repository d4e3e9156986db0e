#include "update/IdAntiFreeze.h"

#include "platform/AbortRequest.h"
#include "platform/Exception.h"

#include <atomic>

namespace {
std::atomic<TIdAntiFreeze*> liveInstance{nullptr};
}

TIdAntiFreeze::TIdAntiFreeze(std::function<void()> pump)
    : pump_(std::move(pump)), ownerThread_(std::this_thread::get_id()) {
    TIdAntiFreeze* expected = nullptr;
    if (!liveInstance.compare_exchange_strong(expected, this))
        throw Exception(QStringLiteral("Only one TIdAntiFreeze can exist"));
}

TIdAntiFreeze::~TIdAntiFreeze() {
    TIdAntiFreeze* expected = this;
    liveInstance.compare_exchange_strong(expected, nullptr);
}

TIdAntiFreeze* TIdAntiFreeze::Instance() {
    return liveInstance.load();
}

void TIdAntiFreeze::DoProcess() {
    // Pumping from another thread would run window code off the GUI thread.
    if (std::this_thread::get_id() != ownerThread_)
        return;
    if (Active && pump_)
        pump_();
    // An ending session fails the fetch here, so nothing half-read is saved.
    ThrowIfAbortRequested();
}
