#include "platform/NameResolution.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

std::atomic<NameResolver> gResolver{&::getaddrinfo};

// Shared by the caller and the lookup thread; the last one to let go frees the list.
struct Lookup {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    int error = 0;
    int systemError = 0;
    addrinfo* list = nullptr;

    ~Lookup() {
        if (list != nullptr)
            ::freeaddrinfo(list);
    }
};

} // namespace

NameResolver ReplaceNameResolver(NameResolver resolver) {
    return gResolver.exchange(resolver != nullptr ? resolver : &::getaddrinfo);
}

NameResolution ResolveName(const QByteArray& host, const QByteArray& service, const addrinfo& hints,
                           std::chrono::milliseconds limit, std::chrono::milliseconds step,
                           const std::function<void()>& afterStep) {
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, resolver = gResolver.load(), host = std::string(host.constData()),
                 service = std::string(service.constData()), hints] {
        addrinfo* list = nullptr;
        const int error = resolver(host.c_str(), service.c_str(), &hints, &list);
        const int systemError = errno;
        const std::lock_guard<std::mutex> lock(lookup->mutex);
        lookup->error = error;
        lookup->systemError = error == EAI_SYSTEM ? systemError : 0;
        lookup->list = error == 0 ? list : nullptr;
        lookup->done = true;
        lookup->finished.notify_all();
    }).detach();

    NameResolution result;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::unique_lock<std::mutex> lock(lookup->mutex);
    while (!lookup->finished.wait_for(lock, step, [&] { return lookup->done; })) {
        lock.unlock();
        if (afterStep)
            afterStep();
        lock.lock();
        if (limit.count() > 0 && std::chrono::steady_clock::now() >= deadline && !lookup->done) {
            result.timedOut = true;
            return result;
        }
    }
    result.error = lookup->error;
    result.systemError = lookup->systemError;
    result.addresses = ResolvedAddresses(std::exchange(lookup->list, nullptr));
    return result;
}
