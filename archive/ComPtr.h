#pragma once

#include "archive/SevenZipAbi.h"

#include <utility>

// One counted interface reference: taking it adds one, dropping it releases one.
template <class T> class TComPtr final {
public:
    TComPtr() = default;
    // Takes a new reference to the object (the object's count goes up by one).
    explicit TComPtr(T* object) : p_(object) {
        if (p_)
            p_->AddRef();
    }
    TComPtr(const TComPtr& other) : TComPtr(other.p_) {}
    TComPtr(TComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    TComPtr& operator=(TComPtr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~TComPtr() { Reset(); }

    // Adopts a reference that someone already counted for us, such as an out-parameter's.
    static TComPtr Attach(T* object) {
        TComPtr result;
        result.p_ = object;
        return result;
    }
    // Hands our reference over to the caller, who must release it.
    T* Detach() { return std::exchange(p_, nullptr); }

    void Reset() {
        if (T* object = std::exchange(p_, nullptr))
            object->Release();
    }
    // Address for an out-parameter; whatever was held is released first.
    T** Receive() {
        Reset();
        return &p_;
    }
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

// Asks an object for another of its interfaces; empty when it has none.
template <class To, class From> TComPtr<To> QueryTo(From* object, const GUID& iid) {
    TComPtr<To> result;
    if (object && object->QueryInterface(iid, result.ReceiveVoid()) != S_OK)
        result.Reset();
    return result;
}
