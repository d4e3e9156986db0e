// The response reader on arbitrary server bytes: heads (interim ones included), bodies of every
// framing, and what is left for the next exchange. The outcome must not depend on how the bytes are
// split into arrivals, so every input is read twice, at once and in pieces, and both are compared.
#include "platform/Exception.h"
#include "update/HttpResponseReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

class PiecewiseInput final : public ResponseInput {
public:
    PiecewiseInput(const uint8_t* data, size_t size, std::vector<size_t> pieces)
        : data_(reinterpret_cast<const char*>(data)), size_(size), pieces_(std::move(pieces)) {}

    qsizetype Receive(char* into, qsizetype limit) override {
        if (at_ == size_)
            return 0;
        size_t piece = size_ - at_;
        if (next_ < pieces_.size())
            piece = std::min(piece, pieces_[next_++]);
        const size_t count = std::min(piece, static_cast<size_t>(limit));
        std::memcpy(into, data_ + at_, count);
        at_ += count;
        return static_cast<qsizetype>(count);
    }
    Arrival WaitForData(std::chrono::milliseconds) override {
        return at_ == size_ ? Arrival::Closed : Arrival::Data;
    }

private:
    const char* data_;
    size_t size_;
    size_t at_ = 0;
    std::vector<size_t> pieces_;
    size_t next_ = 0;
};

// What a reader made of the bytes, in a form to compare.
std::string ReadResponses(PiecewiseInput& input) {
    std::string outcome;
    ResponseReader reader(input);
    // Small enough that a fuzzed length does not make each run slow.
    reader.SetBodyLimit(1 << 20);
    int64_t lastWork = -1;
    TransferHooks hooks;
    hooks.begin = [&](int64_t max) { outcome += "B" + std::to_string(max) + ";"; };
    hooks.work = [&](int64_t count) {
        if (count <= lastWork)
            std::abort(); // a running total never goes back
        lastWork = count;
    };
    // How far the count got when a body fails depends on the arrivals; only a whole body's does not.
    hooks.end = [&] { outcome += "E;"; };
    try {
        for (int response = 0; response < 2; ++response) {
            qsizetype headBytes = 0;
            ResponseHead head;
            for (int interim = 0; interim <= HttpLimits::MaxInterimResponses; ++interim) {
                head = reader.ReadHead(headBytes);
                if (head.StatusCode != 100)
                    break;
            }
            outcome += head.StatusLine.toStdString() + "|" + std::to_string(head.StatusCode) + ";";
            QByteArray body;
            ByteArraySink sink(body);
            lastWork = -1;
            reader.ReadBody(FramingOf(head.Headers), response == 0 ? &sink : nullptr, head.Headers, hooks);
            outcome += "W" + std::to_string(lastWork) + ";";
            for (const QByteArray& line : head.Headers.Lines())
                outcome += line.toStdString() + "\n";
            outcome += "body:" + body.toStdString() + ";";
            if (reader.PeerClosed() && reader.PendingSize() == 0)
                break;
        }
    } catch (const Exception& e) {
        outcome += std::string("error:") + typeid(e).name();
    }
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PiecewiseInput whole(data, size, {});
    const std::string atOnce = ReadResponses(whole);

    // Piece sizes from the bytes themselves, so that a finding replays exactly.
    std::vector<size_t> pieces;
    uint32_t state = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        state = (state ^ data[i]) * 16777619u;
    for (size_t covered = 0; covered < size;) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const size_t piece = (state & 7) == 0 ? 1 + state % 4096 : 1 + state % 9;
        pieces.push_back(piece);
        covered += piece;
    }
    PiecewiseInput split(data, size, pieces);
    if (ReadResponses(split) != atOnce)
        std::abort();
    return 0;
}
