#pragma once

#include "platform/FileDescriptor.h"

#include <QByteArray>

#include <chrono>
#include <functional>
#include <utility>

// A connected TCP socket: owns its descriptor, closes it once.
class TcpSocket final {
public:
    TcpSocket() = default;
    explicit TcpSocket(int descriptor) : fd_(descriptor) {}

    bool IsOpen() const { return fd_.valid(); }
    int Descriptor() const { return fd_.get(); }
    void Close() { fd_.Reset(); }

    // Resolves `host` (IPv6 only for a bracketed literal, else IPv4), then connects, each on a
    // short-lived thread while the calling thread waits in steps of `step` and runs `afterStep` after
    // each step that ends without the answer. Throws SocketError (also when the name is not resolved
    // within `resolveLimit`; zero or less waits without limit), or ConnectTimeoutError once `limit`
    // has passed in the connect.
    static TcpSocket Connect(const QByteArray& host, int port, bool ipv6,
                             std::chrono::milliseconds resolveLimit, std::chrono::milliseconds limit,
                             std::chrono::milliseconds step, const std::function<void()>& afterStep);

    // Writes everything, in one call unless the system takes less. Throws SocketError.
    void SendAll(const QByteArray& bytes);
    // Receives without waiting: the count, 0 when the peer has closed, -1 when nothing is there.
    // Throws SocketError.
    qsizetype ReceiveNow(char* into, qsizetype limit);
    // Looks at the next byte without taking it: 1 when there is one, 0 when the peer has closed,
    // -1 when nothing is there. Throws SocketError.
    int PeekNow();
    // True when data (or the close) is readable within `wait`.
    bool WaitReadable(std::chrono::milliseconds wait);

private:
    FileDescriptor fd_;
};
