#pragma once

#include <QByteArray>

#include <chrono>

// What a connection reads from and writes to: the socket itself for http, a TLS session over it for
// https. The calls are those of TcpSocket, with the same meaning.
class ByteChannel {
public:
    virtual ~ByteChannel() = default;
    // Writes everything. Throws.
    virtual void SendAll(const QByteArray& bytes) = 0;
    // Receives without waiting: the count, 0 when the peer has closed, -1 when nothing is there.
    virtual qsizetype ReceiveNow(char* into, qsizetype limit) = 0;
    // Looks at the next byte without taking it: 1 when there is one, 0 when the peer has closed, -1
    // when nothing is there.
    virtual int PeekNow() = 0;
    // True when something (data or the close) may be readable within `wait`.
    virtual bool WaitReadable(std::chrono::milliseconds wait) = 0;
};
