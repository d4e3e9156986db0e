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

// Resolves `host` on a helper thread, so that a name server that does not answer cannot hold the
// caller longer than `limit` (zero or less: no limit). The caller waits in steps of `step` and runs
// `afterStep` after each step that ends without the answer. A lookup given up on finishes on its
// own thread, which releases its result.
NameResolution ResolveName(const QByteArray& host, const QByteArray& service, const addrinfo& hints,
                           std::chrono::milliseconds limit, std::chrono::milliseconds step,
                           const std::function<void()>& afterStep = {});

// The function that does the lookups (getaddrinfo); tests put a slow name server in its place.
// Returns the one it replaces.
using NameResolver = int (*)(const char* host, const char* service, const addrinfo* hints, addrinfo** result);
NameResolver ReplaceNameResolver(NameResolver resolver);
