#include "update/HttpResponseReader.h"

#include "update/HttpErrors.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

void StripCarriageReturn(QByteArray& line) {
    if (line.endsWith('\r'))
        line.chop(1);
}

// A line still open may hold its CR besides the longest content allowed.
void CheckOpenLine(const QByteArray& partial) {
    if (partial.size() > HttpLimits::MaxLineLength + 1)
        throw LineTooLongError();
}

// Gathers the bytes up to the next LF into partial; true when the line is complete (its LF taken
// from the data but not kept). A line still open is checked against the limit as it grows.
bool GatherLine(const char* data, qsizetype size, qsizetype& used, QByteArray& partial) {
    const char* start = data + used;
    const auto* lf = static_cast<const char*>(std::memchr(start, '\n', size - used));
    if (lf == nullptr) {
        partial.append(start, size - used);
        used = size;
        CheckOpenLine(partial);
        return false;
    }
    partial.append(start, lf - start);
    used += lf - start + 1;
    return true;
}

void Call(const std::function<void()>& hook) {
    if (hook)
        hook();
}

void Call(const std::function<void(int64_t)>& hook, int64_t value) {
    if (hook)
        hook(value);
}

// Grows geometrically so that block-sized appends stay linear overall.
void EnsureCapacity(QByteArray& buffer, qsizetype needed) {
    if (buffer.capacity() < needed)
        buffer.reserve(std::max(needed, buffer.capacity() * 2));
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

// ---- Body sinks ----

void BodySink::Append(const char* data, qsizetype size) {
    if (size <= 0)
        return;
    std::memcpy(Reserve(size), data, static_cast<size_t>(size));
    Commit(size);
}

char* ByteArraySink::Reserve(qsizetype size) {
    reservedAt_ = buffer_.size();
    EnsureCapacity(buffer_, reservedAt_ + size);
    buffer_.resize(reservedAt_ + size);
    return buffer_.data() + reservedAt_;
}

void ByteArraySink::Commit(qsizetype count) {
    buffer_.resize(reservedAt_ + count);
}

void ByteArraySink::Expect(int64_t length) {
    buffer_.reserve(buffer_.size() +
                    static_cast<qsizetype>(std::min<int64_t>(length, HttpLimits::MaxUpFrontReserve)));
}

// ---- ResponseHeadParser ----

qsizetype ResponseHeadParser::Feed(const char* data, qsizetype size) {
    qsizetype used = 0;
    while (!done_ && used < size) {
        if (!GatherLine(data, size, used, partial_)) {
            if (blockBytes_ + partial_.size() > HttpLimits::MaxHeaderBlock)
                throw LineTooLongError();
            break;
        }
        blockBytes_ += partial_.size() + 1;
        TakeLine(std::exchange(partial_, QByteArray()));
    }
    return used;
}

void ResponseHeadParser::TakeLine(QByteArray line) {
    StripCarriageReturn(line);
    if (line.size() > HttpLimits::MaxLineLength || blockBytes_ > HttpLimits::MaxHeaderBlock)
        throw LineTooLongError();
    if (!haveStatus_) {
        haveStatus_ = true;
        head_.StatusCode = StatusCodeOf(line);
        head_.StatusLine = std::move(line);
    } else if (line.isEmpty()) {
        done_ = true;
    } else {
        head_.Headers.AddLine(line);
    }
}

void ResponseHeadParser::FinishAtClose() {
    if (done_)
        return;
    if (!haveStatus_)
        throw ConnectionClosedError();
    if (!partial_.isEmpty())
        TakeLine(std::exchange(partial_, QByteArray()));
    done_ = true;
}

// ---- ChunkedDecoder ----

std::optional<int64_t> ChunkedDecoder::ChunkSizeOf(const QByteArray& line) {
    const qsizetype semicolon = line.indexOf(';');
    const QByteArray text = (semicolon < 0 ? line : line.left(semicolon)).trimmed();
    if (text.isEmpty())
        return std::nullopt;
    int64_t size = 0;
    for (char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0 || size > (INT64_MAX >> 4))
            return std::nullopt;
        size = (size << 4) | digit;
    }
    return size;
}

bool ChunkedDecoder::TakeLine(const char* data, qsizetype size, qsizetype& used, QByteArray& line) {
    if (!GatherLine(data, size, used, partial_))
        return false;
    line = std::exchange(partial_, QByteArray());
    StripCarriageReturn(line);
    if (line.size() > HttpLimits::MaxLineLength)
        throw LineTooLongError();
    return true;
}

qsizetype ChunkedDecoder::Feed(const char* data, qsizetype size, BodySink* sink) {
    qsizetype used = 0;
    QByteArray line;
    while (state_ != State::Done && used < size) {
        switch (state_) {
        case State::SizeLine:
            if (!TakeLine(data, size, used, line))
                return used;
            if (const std::optional<int64_t> chunkSize = ChunkSizeOf(line))
                remaining_ = *chunkSize;
            else
                throw MalformedResponseError(QStringLiteral("Invalid chunk size"));
            state_ = remaining_ > 0 ? State::Data : State::Trailer;
            break;
        case State::Data: {
            const qsizetype count = static_cast<qsizetype>(std::min<int64_t>(remaining_, size - used));
            if (sink != nullptr)
                sink->Append(data + used, count);
            used += count;
            remaining_ -= count;
            if (remaining_ == 0)
                state_ = State::DataEnd;
            break;
        }
        case State::DataEnd:
            // The line break after the payload; whatever stands before it is passed over.
            if (!TakeLine(data, size, used, line))
                return used;
            state_ = State::SizeLine;
            break;
        case State::Trailer:
            if (!TakeLine(data, size, used, line))
                return used;
            if (line.isEmpty()) {
                state_ = State::Done;
            } else {
                trailerBytes_ += line.size() + 2;
                if (trailerBytes_ > HttpLimits::MaxHeaderBlock)
                    throw LineTooLongError();
                trailers_.append(line);
            }
            break;
        case State::Done:
            break;
        }
    }
    return used;
}

void ChunkedDecoder::FinishAtClose() {
    // Every chunk is in once the last-chunk line has come; missing trailers lose no payload.
    if (state_ == State::Trailer)
        state_ = State::Done;
    if (state_ != State::Done)
        throw ConnectionClosedError();
}

// ---- ResponseReader ----

void ResponseReader::Consume(qsizetype count) {
    pendingStart_ += count;
    if (pendingStart_ >= pending_.size())
        DropPending();
}

void ResponseReader::DropPending() {
    pending_.resize(0);
    pendingStart_ = 0;
}

qsizetype ResponseReader::ReceiveIntoPending(qsizetype limit) {
    if (closed_)
        return 0;
    if (pendingStart_ > HttpLimits::ReceiveBlock) {
        pending_.remove(0, pendingStart_);
        pendingStart_ = 0;
    }
    const qsizetype old = pending_.size();
    EnsureCapacity(pending_, old + limit);
    pending_.resize(old + limit);
    qsizetype received = 0;
    try {
        received = input_.Receive(pending_.data() + old, limit);
    } catch (...) {
        pending_.resize(old);
        throw;
    }
    pending_.resize(old + received);
    if (received == 0)
        closed_ = true;
    return received;
}

qsizetype ResponseReader::TakePending(qsizetype most, BodySink* sink) {
    const qsizetype count = std::min(most, PendingSize());
    if (sink != nullptr)
        sink->Append(pending_.constData() + pendingStart_, count);
    Consume(count);
    return count;
}

qsizetype ResponseReader::ReceiveBlock(BodySink* sink, qsizetype want) {
    qsizetype got = 0;
    char* target = nullptr;
    if (sink != nullptr) {
        // Received straight into the sink's room: the body is copied once.
        target = sink->Reserve(want);
    } else {
        scratch_.resize(HttpLimits::ReceiveBlock);
    }
    try {
        while (got < want && !closed_) {
            char* into = target != nullptr ? target + got : scratch_.data();
            const qsizetype received = input_.Receive(into, want - got);
            if (received == 0)
                closed_ = true;
            got += received;
        }
    } catch (...) {
        // The connection's error is the one to report; a sink that cannot keep the part that came
        // changes nothing about it.
        if (sink != nullptr) {
            try {
                sink->Commit(got);
            } catch (...) {
            }
        }
        throw;
    }
    if (sink != nullptr)
        sink->Commit(got);
    return got;
}

ResponseHead ResponseReader::ReadHead() {
    qsizetype headBytes = 0;
    return ReadHead(headBytes);
}

ResponseHead ResponseReader::ReadHead(qsizetype& headBytes) {
    ResponseHeadParser parser(headBytes);
    Consume(parser.Feed(pending_.constData() + pendingStart_, PendingSize()));
    while (!parser.Done()) {
        if (ReceiveIntoPending(HttpLimits::ReceiveBlock) == 0) {
            parser.FinishAtClose();
            break;
        }
        Consume(parser.Feed(pending_.constData() + pendingStart_, PendingSize()));
    }
    headBytes = parser.BlockBytes();
    return parser.Head();
}

bool ResponseReader::BodyArrivesWithin(std::chrono::milliseconds limit) {
    if (PendingSize() > 0)
        return true;
    if (closed_)
        return false;
    switch (input_.WaitForData(limit)) {
    case ResponseInput::Arrival::Data:
        return true;
    case ResponseInput::Arrival::Closed:
        closed_ = true;
        return false;
    case ResponseInput::Arrival::Nothing:
        return false;
    }
    return false;
}

void ResponseReader::CheckBodyLimit(int64_t total) const {
    if (total > bodyLimit_)
        throw BodyTooLargeError();
}

void ResponseReader::ReadBody(const BodyFraming& framing, BodySink* sink, HttpHeaderList& headers,
                              const TransferHooks& hooks) {
    if (framing.kind == BodyFraming::Kind::Empty)
        return;
    Call(hooks.begin, framing.kind == BodyFraming::Kind::Length ? framing.length : 0);
    try {
        switch (framing.kind) {
        case BodyFraming::Kind::Length:
            ReadCounted(framing.length, sink, hooks);
            break;
        case BodyFraming::Kind::UntilClose:
            ReadUntilClose(sink, hooks);
            break;
        case BodyFraming::Kind::Chunked:
            ReadChunked(sink, headers, hooks);
            break;
        case BodyFraming::Kind::Empty:
            break;
        }
    } catch (...) {
        Call(hooks.end);
        throw;
    }
    Call(hooks.end);
}

void ResponseReader::ReadCounted(int64_t length, BodySink* sink, const TransferHooks& hooks) {
    if (sink != nullptr)
        sink->Expect(length);
    int64_t total = TakePending(static_cast<qsizetype>(std::min<int64_t>(length, PendingSize())), sink);
    CheckBodyLimit(total);
    if (total > 0) {
        Call(hooks.work, total);
        if (sink != nullptr)
            Call(hooks.pump);
    }
    while (total < length) {
        // Never more than one byte past the limit is taken: the body fails once it has passed it,
        // however its bytes arrive. The limit may be the largest value there is ("no limit"), and
        // total has not passed it here.
        const int64_t room = bodyLimit_ - total;
        const int64_t pastLimit = room < INT64_MAX ? room + 1 : room;
        const qsizetype want =
            static_cast<qsizetype>(std::min({int64_t{HttpLimits::ReceiveBlock}, length - total, pastLimit}));
        const qsizetype got = ReceiveBlock(sink, want);
        if (got > 0) {
            total += got;
            CheckBodyLimit(total);
            Call(hooks.work, total);
            if (sink != nullptr)
                Call(hooks.pump);
        }
        // A server that closes gracefully before the announced length simply ends the body there;
        // the caller can compare the length it got with the one announced.
        if (got < want)
            break;
    }
}

void ResponseReader::ReadUntilClose(BodySink* sink, const TransferHooks& hooks) {
    if (sink == nullptr) {
        // Discarded: no progress to report, but the window is kept live after every read.
        int64_t total = PendingSize();
        DropPending();
        scratch_.resize(HttpLimits::ReceiveBlock);
        while (!closed_) {
            CheckBodyLimit(total);
            const qsizetype got = input_.Receive(scratch_.data(), scratch_.size());
            if (got == 0)
                closed_ = true;
            total += got;
            Call(hooks.pump);
        }
        CheckBodyLimit(total);
        return;
    }
    int64_t total = TakePending(PendingSize(), sink);
    CheckBodyLimit(total);
    if (total > 0) {
        Call(hooks.work, total);
        Call(hooks.pump);
    }
    while (!closed_) {
        const qsizetype got = ReceiveBlock(sink, HttpLimits::ReceiveBlock);
        if (got > 0) {
            total += got;
            CheckBodyLimit(total);
            Call(hooks.work, total);
            Call(hooks.pump);
        }
    }
}

void ResponseReader::ReadChunked(BodySink* sink, HttpHeaderList& headers, const TransferHooks& hooks) {
    ChunkedDecoder decoder;
    int64_t total = 0; // bytes of the body taken in, framing and trailers included
    int64_t reported = 0;
    // Decodes pending bytes, but no further than `limit` bytes into the body.
    const auto decodePending = [&](int64_t limit) {
        const qsizetype most = static_cast<qsizetype>(std::min<int64_t>(PendingSize(), limit - total));
        const qsizetype used = decoder.Feed(pending_.constData() + pendingStart_, most, sink);
        Consume(used);
        total += used;
        CheckBodyLimit(total);
    };
    const auto report = [&] {
        if (total == reported)
            return;
        reported = total;
        Call(hooks.work, total);
        if (sink != nullptr)
            Call(hooks.pump);
    };
    // What came with the head is reported on its own; then, as for the other framings, one report
    // per full block taken in, and one at the end of the body.
    decodePending(INT64_MAX);
    report();
    while (!decoder.Done()) {
        const int64_t blockEnd = reported + HttpLimits::ReceiveBlock;
        while (!decoder.Done() && total < blockEnd) {
            if (PendingSize() == 0 && ReceiveIntoPending(static_cast<qsizetype>(blockEnd - total)) == 0)
                break;
            decodePending(blockEnd);
        }
        report();
        if (!decoder.Done() && closed_) {
            decoder.FinishAtClose();
            break;
        }
    }
    for (const QByteArray& trailer : decoder.Trailers())
        headers.AddLine(trailer);
}
