#pragma once

#include <atomic>
#include <cstdint>

// The platform's reference-counted object: the count is 0 when the constructor returns, every
// interface reference taken adds one, and the release that brings it back to 0 destroys the object.
class TInterfacedObject {
public:
    TInterfacedObject(const TInterfacedObject&) = delete;
    TInterfacedObject& operator=(const TInterfacedObject&) = delete;

    uint32_t RefCount() const { return FRefCount.load(); }

protected:
    TInterfacedObject() = default;
    virtual ~TInterfacedObject() = default;

    uint32_t AddReference() noexcept { return ++FRefCount; }
    uint32_t ReleaseReference() noexcept {
        const uint32_t remaining = --FRefCount;
        if (remaining == 0)
            delete this;
        return remaining;
    }

private:
    // Atomic because the library may drop a reference from one of its worker threads.
    std::atomic<uint32_t> FRefCount{0};
};
