#include "platform/NameResolution.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

std::atomic<NameResolver> gResolver{&::getaddrinfo};

// Shared by the caller and the pool; the last one to let go frees the list.
struct Lookup {
    NameResolver resolver;
    std::string host;
    std::string service;
    addrinfo hints;

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

    void Run() {
        addrinfo* found = nullptr;
        const int code = resolver(host.c_str(), service.c_str(), &hints, &found);
        const int system = errno;
        const std::lock_guard<std::mutex> lock(mutex);
        error = code;
        systemError = code == EAI_SYSTEM ? system : 0;
        list = code == 0 ? found : nullptr;
        done = true;
        finished.notify_all();
    }
};

// A thread is made only when no idle one is there and fewer than kNameLookupThreads exist; a
// lookup stuck in a dead name server holds one thread, never more.
class LookupPool final {
public:
    LookupPool() = default;
    LookupPool(const LookupPool&) = delete;
    LookupPool& operator=(const LookupPool&) = delete;

    // The program's end waits for lookups that still run (the resolver's own time-out bounds them).
    ~LookupPool() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
            queue_.clear();
        }
        work_.notify_all();
        for (std::thread& thread : threads_)
            thread.join();
    }

    void Submit(std::shared_ptr<Lookup> lookup) {
        const std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(lookup));
        if (idle_ == 0 && threads_.size() < size_t{kNameLookupThreads})
            threads_.emplace_back([this] { Serve(); });
        else
            work_.notify_one();
    }

    // A lookup that has not started yet is dropped; one that runs finishes unheeded.
    void Cancel(const std::shared_ptr<Lookup>& lookup) {
        const std::lock_guard<std::mutex> lock(mutex_);
        queue_.erase(std::remove(queue_.begin(), queue_.end(), lookup), queue_.end());
    }

private:
    void Serve() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            ++idle_;
            work_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            --idle_;
            if (queue_.empty())
                return; // stopping
            const std::shared_ptr<Lookup> lookup = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            lookup->Run();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable work_;
    std::deque<std::shared_ptr<Lookup>> queue_;
    std::vector<std::thread> threads_;
    int idle_ = 0;
    bool stopping_ = false;
};

LookupPool& Pool() {
    static LookupPool pool;
    return pool;
}

} // namespace

NameResolver ReplaceNameResolver(NameResolver resolver) {
    return gResolver.exchange(resolver != nullptr ? resolver : &::getaddrinfo);
}

NameResolution ResolveName(const QByteArray& host, const QByteArray& service, const addrinfo& hints,
                           std::chrono::milliseconds limit, std::chrono::milliseconds step,
                           const std::function<void()>& afterStep) {
    auto lookup = std::make_shared<Lookup>();
    lookup->resolver = gResolver.load();
    lookup->host = host.toStdString();
    lookup->service = service.toStdString();
    lookup->hints = hints;
    Pool().Submit(lookup);

    NameResolution result;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::unique_lock<std::mutex> lock(lookup->mutex);
    while (!lookup->finished.wait_for(lock, step, [&] { return lookup->done; })) {
        lock.unlock();
        if (afterStep)
            afterStep();
        lock.lock();
        if (limit.count() > 0 && std::chrono::steady_clock::now() >= deadline && !lookup->done) {
            lock.unlock();
            Pool().Cancel(lookup);
            result.timedOut = true;
            return result;
        }
    }
    result.error = lookup->error;
    result.systemError = lookup->systemError;
    result.addresses = ResolvedAddresses(std::exchange(lookup->list, nullptr));
    return result;
}
