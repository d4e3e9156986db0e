#pragma once

#include <QByteArray>

#include <chrono>
#include <functional>
#include <utility>

#include <netdb.h>

// The addresses a host name resolved to; owns getaddrinfo's list.
class ResolvedAddresses final {
public:
    ResolvedAddresses() = default;
    explicit ResolvedAddresses(addrinfo* list) : list_(list) {}
    ~ResolvedAddresses() {
        if (list_ != nullptr)
            ::freeaddrinfo(list_);
    }
    ResolvedAddresses(ResolvedAddresses&& other) noexcept : list_(std::exchange(other.list_, nullptr)) {}
    ResolvedAddresses& operator=(ResolvedAddresses&& other) noexcept {
        std::swap(list_, other.list_);
        return *this;
    }
    ResolvedAddresses(const ResolvedAddresses&) = delete;
    ResolvedAddresses& operator=(const ResolvedAddresses&) = delete;

    // Null when nothing was resolved.
    const addrinfo* First() const { return list_; }

private:
    addrinfo* list_ = nullptr;
};

// How a lookup ended: error is 0 or getaddrinfo's EAI_ code (with errno in systemError for
// EAI_SYSTEM); timedOut when the caller's limit passed first.
struct NameResolution {
    ResolvedAddresses addresses;
    int error = 0;
    int systemError = 0;
    bool timedOut = false;
};

// Lookups run on a pool of at most this many threads, made as they are needed and joined at the
// program's end; no thread outlives it.
inline constexpr int kNameLookupThreads = 4;

// Resolves `host` on a thread of the lookup pool, so that a name server that does not answer cannot
// hold the caller longer than `limit` (zero or less: no limit). The caller waits in steps of `step`
// and runs `afterStep` after each step that ends without the answer. A lookup given up on before it
// started is dropped; one already running finishes on its thread, which releases its result. While
// every pool thread is held by such a lookup, new ones wait in the queue within their own limit.
NameResolution ResolveName(const QByteArray& host, const QByteArray& service, const addrinfo& hints,
                           std::chrono::milliseconds limit, std::chrono::milliseconds step,
                           const std::function<void()>& afterStep = {});

// The function that does the lookups (getaddrinfo); tests put a slow name server in its place.
// Returns the one it replaces.
using NameResolver = int (*)(const char* host, const char* service, const addrinfo* hints, addrinfo** result);
NameResolver ReplaceNameResolver(NameResolver resolver);
