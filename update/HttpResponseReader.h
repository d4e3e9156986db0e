#pragma once

#include "update/HttpResponse.h"

#include <QByteArray>
#include <QList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

// Limits of what the client accepts from a server.
namespace HttpLimits {
inline constexpr qsizetype MaxLineLength = 16384;                   // status, header, chunk-size line
inline constexpr qsizetype MaxHeaderBlock = qsizetype{1024} * 1024; // all header (or trailer) lines
inline constexpr qsizetype ReceiveBlock = 32768;                    // unit of body intake and of progress
// An announced length is not trusted further.
inline constexpr qsizetype MaxUpFrontReserve = qsizetype{64} * 1024 * 1024;
inline constexpr int MaxInterimResponses = 16; // "100 Continue" before the real response
// A schedule package is a few MB and an uncompressed feed a few hundred at most.
inline constexpr int64_t MaxBody = int64_t{1} << 30;
} // namespace HttpLimits

// Where a body goes: memory for error pages and tests, the package's temporary file in the download.
class BodySink {
public:
    virtual ~BodySink() = default;
    // Bytes taken so far.
    virtual int64_t Size() const = 0;
    // Room for up to `size` bytes; Commit(count) then takes the first `count` of them. Throws when
    // the bytes cannot be kept.
    virtual char* Reserve(qsizetype size) = 0;
    virtual void Commit(qsizetype count) = 0;
    // Back to `size` bytes: a redirect, or a failed fetch.
    virtual void Truncate(int64_t size) = 0;
    // The response announced `length` more bytes; a hint, not a promise.
    virtual void Expect(int64_t length) { static_cast<void>(length); }
    void Append(const char* data, qsizetype size);
};

// A body appended to a byte array, received straight into it.
class ByteArraySink final : public BodySink {
public:
    explicit ByteArraySink(QByteArray& buffer) : buffer_(buffer) {}
    int64_t Size() const override { return buffer_.size(); }
    char* Reserve(qsizetype size) override;
    void Commit(qsizetype count) override;
    void Truncate(int64_t size) override { buffer_.truncate(static_cast<qsizetype>(size)); }
    void Expect(int64_t length) override;

private:
    QByteArray& buffer_;
    qsizetype reservedAt_ = 0;
};

// Splits the status line and header lines off a byte stream; lines end at LF, a CR before it is
// dropped. Consumes nothing past the empty line that ends the block.
class ResponseHeadParser final {
public:
    // `blockBytes` of the head's limit are spent already (on interim responses of the same request).
    explicit ResponseHeadParser(qsizetype blockBytes = 0) : blockBytes_(blockBytes) {}
    // Returns how many of the bytes it used. Throws LineTooLongError.
    qsizetype Feed(const char* data, qsizetype size);
    bool Done() const { return done_; }
    // The server closed the connection: the block ends with the lines received. Throws
    // ConnectionClosedError when not even the status line was complete.
    void FinishAtClose();
    const ResponseHead& Head() const { return head_; }
    // Bytes of the block taken so far, with those spent before.
    qsizetype BlockBytes() const { return blockBytes_; }

private:
    void TakeLine(QByteArray line);

    ResponseHead head_;
    QByteArray partial_;
    qsizetype blockBytes_;
    bool haveStatus_ = false;
    bool done_ = false;
};

// Decodes a chunked body (RFC 2616, 3.6.1). Payload goes to the sink (or nowhere); every byte of
// framing and trailers is counted as used, so the caller's work count covers them.
class ChunkedDecoder final {
public:
    // Returns how many bytes it used; stops when the body is complete. Throws
    // MalformedResponseError for a chunk size that is no number.
    qsizetype Feed(const char* data, qsizetype size, BodySink* sink);
    bool Done() const { return state_ == State::Done; }
    // The chunk payload still owed (0 while a line is expected).
    int64_t PayloadWanted() const { return state_ == State::Data ? remaining_ : 0; }
    // The connection closed: acceptable only once every chunk has arrived.
    void FinishAtClose();
    const QList<QByteArray>& Trailers() const { return trailers_; }

    // The size in a chunk-size line: hexadecimal before any ";", blanks trimmed; none when it is
    // not a number or does not fit in 63 bits. Reading such a line as 0 would end the body there
    // as if it were complete.
    static std::optional<int64_t> ChunkSizeOf(const QByteArray& line);

private:
    enum class State { SizeLine, Data, DataEnd, Trailer, Done };
    bool TakeLine(const char* data, qsizetype size, qsizetype& used, QByteArray& line);

    State state_ = State::SizeLine;
    int64_t remaining_ = 0;
    QByteArray partial_;
    qsizetype trailerBytes_ = 0;
    QList<QByteArray> trailers_;
};

// Where response bytes come from: the socket in the client, scripted pieces in tests.
class ResponseInput {
public:
    virtual ~ResponseInput() = default;
    // Waits for data and receives at most `limit` bytes; 0 means the peer closed gracefully.
    virtual qsizetype Receive(char* into, qsizetype limit) = 0;
    enum class Arrival { Data, Closed, Nothing };
    // Waits at most `limit` for data or the close, taking nothing.
    virtual Arrival WaitForData(std::chrono::milliseconds limit) = 0;
};

// The transfer events of one body, and the pump.
struct TransferHooks final {
    std::function<void(int64_t workCountMax)> begin;
    std::function<void(int64_t workCount)> work;
    std::function<void()> end;
    std::function<void()> pump;
};

// Reads responses from one connection. Bytes received past a response head stay pending for the
// body; bytes left after a body stay pending until dropped before the next request.
class ResponseReader final {
public:
    explicit ResponseReader(ResponseInput& input) : input_(input) {}

    // Reads a status line and its header block. `headBytes` counts the bytes of every head read for
    // the same request, which share one limit.
    ResponseHead ReadHead(qsizetype& headBytes);
    ResponseHead ReadHead();

    // Reads one body by its framing into `sink` (appended), or discards it when `sink` is null.
    // Trailers of a chunked body are added to `headers`. Begin and end events fire around it,
    // the end also on failure. Throws ConnectionClosedError when the server closes before a
    // chunked body is complete (a graceful close short of an announced length ends the body), and
    // BodyTooLargeError once more than the body limit has come.
    void ReadBody(const BodyFraming& framing, BodySink* sink, HttpHeaderList& headers,
                  const TransferHooks& hooks);
    void SetBodyLimit(int64_t limit) { bodyLimit_ = limit; }

    // True when a body byte is pending or arrives within `limit`.
    bool BodyArrivesWithin(std::chrono::milliseconds limit);

    bool PeerClosed() const { return closed_; }
    qsizetype PendingSize() const { return pending_.size() - pendingStart_; }
    void DropPending();

private:
    void ReadCounted(int64_t length, BodySink* sink, const TransferHooks& hooks);
    void ReadUntilClose(BodySink* sink, const TransferHooks& hooks);
    void ReadChunked(BodySink* sink, HttpHeaderList& headers, const TransferHooks& hooks);
    void CheckBodyLimit(int64_t total) const;

    qsizetype TakePending(qsizetype most, BodySink* sink);
    // Waits until `want` bytes have arrived or the peer has closed; returns how many arrived.
    qsizetype ReceiveBlock(BodySink* sink, qsizetype want);
    qsizetype ReceiveIntoPending(qsizetype limit);
    void Consume(qsizetype count);

    ResponseInput& input_;
    QByteArray pending_;
    qsizetype pendingStart_ = 0;
    QByteArray scratch_;
    bool closed_ = false;
    int64_t bodyLimit_ = HttpLimits::MaxBody;
};
