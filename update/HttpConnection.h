#pragma once

#include "update/ByteChannel.h"
#include "update/HttpResponseReader.h"
#include "update/LowSpeedMeter.h"
#include "update/TcpSocket.h"

#include <QByteArray>

#include <chrono>
#include <memory>

// The client's open connection: the socket (under TLS for https), the server it leads to, and the
// reader of its responses. Waiting for data is cut into the anti-freeze's idle slices so the window
// stays live.
class HttpConnection final : public ResponseInput {
public:
    // Plain http over the socket.
    HttpConnection(TcpSocket socket, QByteArray host, int port);
    // https: `channel` is a TLS session whose handshake is done.
    HttpConnection(std::unique_ptr<ByteChannel> channel, QByteArray host, int port);
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    // A connection is reused only for the same scheme, host and port.
    bool Serves(bool secure, const QByteArray& host, int port) const;
    // How long to wait without a byte before giving up; zero or less waits without limit.
    void SetReadTimeout(std::chrono::milliseconds limit) { readTimeout_ = limit; }
    // From now on, a receive fails with LowSpeedError once fewer than `minimumBytes` came within
    // the last `window`; zero or less for either turns the check off.
    void StartLowSpeedCheck(int64_t minimumBytes, std::chrono::milliseconds window);

    // Throws away bytes left from an earlier exchange. False when the server has closed or broken
    // the connection meanwhile, or keeps streaming into it.
    bool DrainAndCheckOpen();
    void Send(const QByteArray& request) { channel_->SendAll(request); }
    ResponseReader& Reader() { return reader_; }

    qsizetype Receive(char* into, qsizetype limit) override;
    Arrival WaitForData(std::chrono::milliseconds limit) override;

private:
    std::unique_ptr<ByteChannel> channel_;
    bool secure_;
    QByteArray host_;
    int port_;
    std::chrono::milliseconds readTimeout_{0};
    LowSpeedMeter lowSpeed_;
    ResponseReader reader_{*this};
};

// The anti-freeze as the client uses it; each does nothing when there is no live instance.
namespace AntiFreeze {
std::chrono::milliseconds IdleSlice();
std::chrono::milliseconds ConnectStep();
void PumpWhenIdle();
void PumpAfterData();
void PumpAfterBlock();
} // namespace AntiFreeze
