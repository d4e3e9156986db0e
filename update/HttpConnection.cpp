#include "update/HttpConnection.h"

#include "update/HttpErrors.h"
#include "update/IdAntiFreeze.h"

#include <algorithm>

namespace AntiFreeze {

namespace {
constexpr std::chrono::milliseconds DefaultSlice{250};
constexpr std::chrono::milliseconds LongestConnectStep{125};
} // namespace

std::chrono::milliseconds IdleSlice() {
    const TIdAntiFreeze* freeze = TIdAntiFreeze::Instance();
    return freeze != nullptr && freeze->IdleTimeOut > 0 ? std::chrono::milliseconds(freeze->IdleTimeOut)
                                                        : DefaultSlice;
}

std::chrono::milliseconds ConnectStep() {
    return std::min(IdleSlice(), LongestConnectStep);
}

void PumpWhenIdle() {
    if (TIdAntiFreeze* freeze = TIdAntiFreeze::Instance())
        freeze->DoProcess();
}

void PumpAfterData() {
    TIdAntiFreeze* freeze = TIdAntiFreeze::Instance();
    if (freeze != nullptr && !freeze->OnlyWhenIdle)
        freeze->DoProcess();
}

void PumpAfterBlock() {
    PumpWhenIdle();
}

} // namespace AntiFreeze

namespace {

// Plain http: the socket as it is.
class PlainChannel final : public ByteChannel {
public:
    explicit PlainChannel(TcpSocket socket) : socket_(std::move(socket)) {}
    void SendAll(const QByteArray& bytes) override { socket_.SendAll(bytes); }
    qsizetype ReceiveNow(char* into, qsizetype limit) override { return socket_.ReceiveNow(into, limit); }
    int PeekNow() override { return socket_.PeekNow(); }
    bool WaitReadable(std::chrono::milliseconds wait) override { return socket_.WaitReadable(wait); }

private:
    TcpSocket socket_;
};

} // namespace

HttpConnection::HttpConnection(TcpSocket socket, QByteArray host, int port)
    : channel_(std::make_unique<PlainChannel>(std::move(socket))), secure_(false), host_(std::move(host)),
      port_(port) {}

HttpConnection::HttpConnection(std::unique_ptr<ByteChannel> channel, QByteArray host, int port)
    : channel_(std::move(channel)), secure_(true), host_(std::move(host)), port_(port) {}

bool HttpConnection::Serves(bool secure, const QByteArray& host, int port) const {
    return secure == secure_ && port == port_ && host.compare(host_, Qt::CaseInsensitive) == 0;
}

bool HttpConnection::DrainAndCheckOpen() {
    reader_.DropPending();
    if (reader_.PeerClosed())
        return false;
    // A server that keeps writing into an idle connection is not one to send a request to.
    constexpr qsizetype MostToDrain = qsizetype{1024} * 1024;
    char scratch[4096];
    try {
        for (qsizetype drained = 0; drained < MostToDrain;) {
            const qsizetype received = channel_->ReceiveNow(scratch, sizeof scratch);
            if (received < 0)
                return true;
            if (received == 0)
                return false;
            drained += received;
        }
    } catch (const SocketError&) {
        return false;
    } catch (const ConnectionClosedError&) {
        return false; // a TLS connection cut without close-notify
    } catch (const TlsError&) {
        return false;
    }
    return false;
}

void HttpConnection::StartLowSpeedCheck(int64_t minimumBytes, std::chrono::milliseconds window) {
    lowSpeed_.Start(minimumBytes, window, LowSpeedMeter::Clock::now());
}

qsizetype HttpConnection::Receive(char* into, qsizetype limit) {
    const auto started = std::chrono::steady_clock::now();
    for (;;) {
        const qsizetype received = channel_->ReceiveNow(into, limit);
        const auto now = LowSpeedMeter::Clock::now();
        if (received > 0)
            lowSpeed_.Add(received, now);
        if (lowSpeed_.TooSlow(now))
            throw LowSpeedError();
        if (received >= 0)
            return received;
        const auto slice = AntiFreeze::IdleSlice();
        auto wait = slice;
        if (readTimeout_.count() > 0) {
            const auto left = readTimeout_ - std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 std::chrono::steady_clock::now() - started);
            if (left.count() <= 0)
                throw ReadTimeoutError();
            wait = std::min(wait, left);
        }
        if (channel_->WaitReadable(wait))
            AntiFreeze::PumpAfterData();
        else if (wait == slice)
            AntiFreeze::PumpWhenIdle();
    }
}

ResponseInput::Arrival HttpConnection::WaitForData(std::chrono::milliseconds limit) {
    const auto started = std::chrono::steady_clock::now();
    for (;;) {
        const int next = channel_->PeekNow();
        if (next > 0)
            return Arrival::Data;
        if (next == 0)
            return Arrival::Closed;
        const auto left = limit - std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - started);
        if (left.count() <= 0)
            return Arrival::Nothing;
        const auto slice = AntiFreeze::IdleSlice();
        const auto wait = std::min(slice, left);
        // Only a full idle slice pumps: the short waits for a body that may not come stay silent.
        if (!channel_->WaitReadable(wait) && wait == slice)
            AntiFreeze::PumpWhenIdle();
    }
}
