#include "update/HttpResponseReader.h"
#include "update/HttpErrors.h"

#include "tests/support/CaseName.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace {

// Response bytes as they arrive: each piece is what one receive can get at most; after the last
// piece the peer closes (or the connection breaks).
class ScriptedInput final : public ResponseInput {
public:
    explicit ScriptedInput(std::vector<QByteArray> pieces, bool breaksAtEnd = false)
        : pieces_(pieces.begin(), pieces.end()), breaksAtEnd_(breaksAtEnd) {}

    qsizetype Receive(char* into, qsizetype limit) override {
        if (pieces_.empty()) {
            if (breaksAtEnd_)
                throw SocketError(ECONNRESET, "reset");
            return 0;
        }
        QByteArray& piece = pieces_.front();
        const qsizetype count = std::min(limit, piece.size());
        std::copy_n(piece.constData(), count, into);
        piece.remove(0, count);
        if (piece.isEmpty())
            pieces_.pop_front();
        return count;
    }
    Arrival WaitForData(std::chrono::milliseconds) override {
        return pieces_.empty() ? Arrival::Closed : Arrival::Data;
    }

private:
    std::deque<QByteArray> pieces_;
    bool breaksAtEnd_;
};

// The events of one body as text: "B<max>", "W<count>", "P" (pump), "E".
struct Trace {
    std::vector<std::string> events;
    TransferHooks Hooks() {
        return {[this](int64_t max) { events.push_back("B" + std::to_string(max)); },
                [this](int64_t count) { events.push_back("W" + std::to_string(count)); },
                [this] { events.push_back("E"); }, [this] { events.push_back("P"); }};
    }
};

ResponseHead ParseHead(const QByteArray& bytes) {
    ResponseHeadParser parser;
    EXPECT_EQ(parser.Feed(bytes.constData(), bytes.size()), bytes.size());
    if (!parser.Done())
        parser.FinishAtClose();
    return parser.Head();
}

TEST(ResponseHead, StatusCodeIsSecondFieldOrMinusOne) {
    const std::pair<const char*, int> cases[] = {
        {"HTTP/1.1 200 OK", 200},
        {"HTTP/1.0 404", 404},
        {"HTTP/1.1  302  Found", 302},
        {"HTTP/1.1 2x0 OK", -1},
        {"HTTP/1.1", -1},
        {"", -1},
        {"HTTP/1.1 -1 Odd", -1},
        {"HTTP/1.1 99999999999 Big", -1},
    };
    for (const auto& [line, code] : cases)
        EXPECT_EQ(StatusCodeOf(line), code) << line;
}

TEST(ResponseHead, LinesEndAtLineFeedWithCarriageReturnRemoved) {
    const ResponseHead head =
        ParseHead("HTTP/1.1 200 OK\nContent-Length: 5\r\nX-Folded: a\r\n  b\r\nX-Cr: in\rside\r\n\r\n");
    EXPECT_EQ(head.StatusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(head.Headers.Value("content-length"), "5");
    EXPECT_EQ(head.Headers.Value("X-Folded"), "a b");
    EXPECT_EQ(head.Headers.Value("X-Cr"), "in\rside");
}

TEST(ResponseHead, ParserStopsAtTheEmptyLine) {
    const QByteArray bytes = "HTTP/1.1 200 OK\r\nA: 1\r\n\r\nbody";
    ResponseHeadParser parser;
    EXPECT_EQ(parser.Feed(bytes.constData(), bytes.size()), bytes.size() - 4);
    EXPECT_TRUE(parser.Done());
}

TEST(ResponseHead, CloseEndsTheHeaderBlockButNotTheStatusLine) {
    EXPECT_EQ(ParseHead("HTTP/1.1 200 OK\r\nA: 1\r\nB: 2").Headers.Lines(),
              QList<QByteArray>({"A: 1", "B: 2"}));
    EXPECT_THROW(ParseHead("HTTP/1.1 200"), ConnectionClosedError);
    EXPECT_THROW(ParseHead(""), ConnectionClosedError);
}

TEST(ResponseHead, LineAndBlockLimits) {
    const QByteArray longest(HttpLimits::MaxLineLength, 'x');
    EXPECT_NO_THROW(ParseHead("HTTP/1.1 200 OK\r\nA: " + longest.mid(3) + "\r\n\r\n"));
    EXPECT_THROW(ParseHead("HTTP/1.1 200 OK\r\nA: " + longest.mid(2) + "\r\n\r\n"), LineTooLongError);
    // Found without the line's end arriving: the open line alone is over the limit.
    ResponseHeadParser parser;
    const QByteArray open = "HTTP/1.1 " + longest;
    EXPECT_THROW(parser.Feed(open.constData(), open.size()), LineTooLongError);

    QByteArray many = "HTTP/1.1 200 OK\r\n";
    while (many.size() <= HttpLimits::MaxHeaderBlock)
        many += "X-Padding: " + QByteArray(1000, 'p') + "\r\n";
    EXPECT_THROW(ParseHead(many + "\r\n"), LineTooLongError);
}

TEST(ChunkedDecoder, ChunkSizeLine) {
    // A line that is no size, or one past 63 bits, is no size at all: read as 0 it would end the
    // body as if it were complete.
    const std::pair<const char*, std::optional<int64_t>> cases[] = {
        {"1a", 26},
        {" 1A ; name=value", 26},
        {"0", 0},
        {"7fffffffffffffff", INT64_MAX},
        {"10;", 16},
        {"", std::nullopt},
        {"zz", std::nullopt},
        {"-1", std::nullopt},
        {"1 a", std::nullopt},
        {"ffffffffffffffffff", std::nullopt},
        {"8000000000000000", std::nullopt},
    };
    for (const auto& [line, size] : cases)
        EXPECT_EQ(ChunkedDecoder::ChunkSizeOf(line), size) << line;
}

enum class Outcome { Complete, ClosedEarly, Broken, LineTooLong, Malformed, TooLarge };

struct BodyCase {
    const char* name;
    QByteArray headers;             // after the status line, up to and including the empty line
    std::vector<QByteArray> pieces; // body bytes as they arrive; the first one comes with the head
    bool intoBuffer;
    Outcome outcome;
    QByteArray body;
    std::vector<std::string> events;
    const char* trailer = nullptr; // expected value of an "X-Trailer" header after the body
    int64_t bodyLimit = HttpLimits::MaxBody;
};

void PrintTo(const BodyCase& c, std::ostream* out) {
    *out << c.name;
}

class BodyReading : public ::testing::TestWithParam<BodyCase> {};

TEST_P(BodyReading, EventsBodyAndOutcome) {
    const BodyCase& c = GetParam();
    std::vector<QByteArray> pieces = c.pieces;
    pieces.front().prepend("HTTP/1.1 200 OK\r\n" + c.headers);
    ScriptedInput input(pieces, c.outcome == Outcome::Broken);
    ResponseReader reader(input);
    reader.SetBodyLimit(c.bodyLimit);
    ResponseHead head = reader.ReadHead();
    QByteArray sink = "kept|";
    ByteArraySink into(sink);
    Trace trace;
    const auto read = [&] {
        reader.ReadBody(FramingOf(head.Headers), c.intoBuffer ? &into : nullptr, head.Headers, trace.Hooks());
    };
    switch (c.outcome) {
    case Outcome::Complete:
        EXPECT_NO_THROW(read());
        break;
    case Outcome::ClosedEarly:
        EXPECT_THROW(read(), ConnectionClosedError);
        break;
    case Outcome::Broken:
        EXPECT_THROW(read(), SocketError);
        break;
    case Outcome::LineTooLong:
        EXPECT_THROW(read(), LineTooLongError);
        break;
    case Outcome::Malformed:
        EXPECT_THROW(read(), MalformedResponseError);
        break;
    case Outcome::TooLarge:
        EXPECT_THROW(read(), BodyTooLargeError);
        break;
    }
    EXPECT_EQ(sink, "kept|" + c.body);
    EXPECT_EQ(trace.events, c.events);
    if (c.trailer != nullptr) {
        EXPECT_EQ(head.Headers.Value("X-Trailer"), c.trailer);
    }
}

const QByteArray fullBlock(HttpLimits::ReceiveBlock, 'k');
const QByteArray tail = "0123456789";

// An empty piece (nothing comes with the head), then `bytes` in pieces of `size`.
std::vector<QByteArray> AfterTheHeadInPieces(const QByteArray& bytes, qsizetype size) {
    std::vector<QByteArray> pieces{QByteArray()};
    for (qsizetype at = 0; at < bytes.size(); at += size)
        pieces.push_back(bytes.mid(at, size));
    return pieces;
}

// One chunk whose framing makes the body 3 × 32768 + 5 bytes in all.
const QByteArray bigPayload(3 * HttpLimits::ReceiveBlock + 5 - 14, 'p');
const QByteArray bigChunkedBody =
    QByteArray::number(bigPayload.size(), 16) + "\r\n" + bigPayload + "\r\n0\r\n\r\n";

const BodyCase bodyCases[] = {
    {"LengthPartWithHeadThenBlocks",
     "Content-Length: 65549\r\n\r\n",
     {"abc", fullBlock + fullBlock + tail},
     true,
     Outcome::Complete,
     "abc" + fullBlock + fullBlock + tail,
     {"B65549", "W3", "P", "W32771", "P", "W65539", "P", "W65549", "P", "E"}},
    {"LengthDiscardedCountsButDoesNotPump",
     "Content-Length: 65549\r\n\r\n",
     {"abc", fullBlock + fullBlock + tail},
     false,
     Outcome::Complete,
     "",
     {"B65549", "W3", "W32771", "W65539", "W65549", "E"}},
    {"LengthBlockWaitsForAllItsPieces",
     "Content-Length: 6\r\n\r\n",
     {"", "ab", "cd", "ef"},
     true,
     Outcome::Complete,
     "abcdef",
     {"B6", "W6", "P", "E"}},
    {"LengthCutShortByGracefulCloseEndsTheBody",
     "Content-Length: 10\r\n\r\n",
     {"12345"},
     true,
     Outcome::Complete,
     "12345",
     {"B10", "W5", "P", "E"}},
    {"LengthBrokenConnection",
     "Content-Length: 10\r\n\r\n",
     {"12345"},
     true,
     Outcome::Broken,
     "12345",
     {"B10", "W5", "P", "E"}},
    {"HugeAnnouncedLengthReservesNothingHuge",
     "Content-Length: 1000000000000000\r\n\r\n",
     {"abc"},
     true,
     Outcome::Complete,
     "abc",
     {"B1000000000000000", "W3", "P", "E"}},
    {"AnnouncedEmpty", "Content-Length: 0\r\n\r\n", {""}, true, Outcome::Complete, "", {}},
    // A length that is no length leaves the body's end unknown: no event, nothing kept.
    {"NegativeLength", "Content-Length: -5\r\n\r\n", {"xyz"}, true, Outcome::Malformed, "", {}},
    {"SignedLength", "Content-Length: +3\r\n\r\n", {"xyz"}, true, Outcome::Malformed, "", {}},
    {"OverflowingLength",
     "Content-Length: 99999999999999999999\r\n\r\n",
     {"xyz"},
     true,
     Outcome::Malformed,
     "",
     {}},
    {"LengthNotANumber", "Content-Length: 12abc\r\n\r\n", {"xyz"}, true, Outcome::Malformed, "", {}},
    {"TwoDifferentLengths",
     "Content-Length: 3\r\nContent-Length: 4\r\n\r\n",
     {"xyz"},
     true,
     Outcome::Malformed,
     "",
     {}},
    {"RepeatedSameLength",
     "Content-Length: 3\r\nContent-Length: 3\r\n\r\n",
     {"xyz"},
     true,
     Outcome::Complete,
     "xyz",
     {"B3", "W3", "P", "E"}},
    {"ChunkedCountsFramingAndTrailers",
     "Transfer-Encoding: chunked\r\n\r\n",
     {"", "5\r\nhello\r\n", "6;x=1\r\n world\r\n0\r\nX-Trailer: t\r\n\r\n"},
     true,
     Outcome::Complete,
     "hello world",
     {"B0", "W44", "P", "E"},
     "t"},
    {"ChunkedReportsFullBlocksNotArrivals",
     "Transfer-Encoding: chunked\r\n\r\n",
     AfterTheHeadInPieces(bigChunkedBody, 1000),
     true,
     Outcome::Complete,
     bigPayload,
     {"B0", "W32768", "P", "W65536", "P", "W98304", "P", "W98309", "P", "E"}},
    {"ChunkedArrivedWithHead",
     "Transfer-Encoding: Chunked\r\n\r\n",
     {"3\r\nabc\r\n0\r\n\r\n"},
     true,
     Outcome::Complete,
     "abc",
     {"B0", "W13", "P", "E"}},
    {"ChunkedDiscarded",
     "Transfer-Encoding: chunked\r\n\r\n",
     {"3\r\nabc\r\n0\r\n\r\n"},
     false,
     Outcome::Complete,
     "",
     {"B0", "W13", "E"}},
    {"ChunkedCutShortFails",
     "Transfer-Encoding: chunked\r\n\r\n",
     {"5\r\nhel"},
     true,
     Outcome::ClosedEarly,
     "hel",
     {"B0", "W6", "P", "E"}},
    {"ChunkedClosedInTrailersKeepsPayload",
     "Transfer-Encoding: chunked\r\n\r\n",
     {"1\r\nz\r\n0\r\nX-Tr"},
     true,
     Outcome::Complete,
     "z",
     {"B0", "W13", "P", "E"}},
    // The reproducer of a broken chunked response once taken as the whole package "AB".
    {"ChunkSizeNotHexadecimal",
     "Transfer-Encoding: chunked\r\n\r\n",
     {"2\r\nAB\r\nzz\r\nCDEF\r\n0\r\n\r\n"},
     true,
     Outcome::Malformed,
     "AB",
     {"B0", "E"}},
    {"ChunkSizePast63Bits",
     "Transfer-Encoding: chunked\r\n\r\n",
     {"2\r\nAB\r\n10000000000000000\r\nCD"},
     true,
     Outcome::Malformed,
     "AB",
     {"B0", "E"}},
    {"ChunkSizeLineTooLong",
     "Transfer-Encoding: chunked\r\n\r\n",
     {QByteArray(20000, '1')},
     true,
     Outcome::LineTooLong,
     "",
     {"B0", "E"}},
    {"UntilCloseIntoBuffer",
     "\r\n",
     {"ab", "cd", "ef"},
     true,
     Outcome::Complete,
     "abcdef",
     {"B0", "W2", "P", "W6", "P", "E"}},
    {"UntilCloseDiscardedPumpsAfterEveryRead",
     "\r\n",
     {"ab", "cd", "ef"},
     false,
     Outcome::Complete,
     "",
     {"B0", "P", "P", "P", "E"}},
    // Past the body limit, however the body is framed and whether it is kept or not.
    {"LengthPastTheLimit",
     "Content-Length: 12\r\n\r\n",
     {"abcd", "efgh", "ijkl"},
     true,
     Outcome::TooLarge,
     "abcdefghijk",
     {"B12", "W4", "P", "E"},
     nullptr,
     10},
    {"LengthAtTheLimit",
     "Content-Length: 10\r\n\r\n",
     {"abcd", "efghij"},
     true,
     Outcome::Complete,
     "abcdefghij",
     {"B10", "W4", "P", "W10", "P", "E"},
     nullptr,
     10},
    // The natural "no limit": the limit's arithmetic must not overflow, however the body is framed.
    {"LengthWithoutLimit",
     "Content-Length: 10\r\n\r\n",
     {"abcd", "efghij"},
     true,
     Outcome::Complete,
     "abcdefghij",
     {"B10", "W4", "P", "W10", "P", "E"},
     nullptr,
     INT64_MAX},
    {"UntilCloseWithoutLimit",
     "\r\n",
     {"abcd", "efgh"},
     true,
     Outcome::Complete,
     "abcdefgh",
     {"B0", "W4", "P", "W8", "P", "E"},
     nullptr,
     INT64_MAX},
    {"ChunkedWithoutLimit",
     "Transfer-Encoding: chunked\r\n\r\n",
     {"3\r\nabc\r\n0\r\n\r\n"},
     true,
     Outcome::Complete,
     "abc",
     {"B0", "W13", "P", "E"},
     nullptr,
     INT64_MAX},
    {"UntilClosePastTheLimit",
     "\r\n",
     {"abcd", "efgh", "ijkl"},
     true,
     Outcome::TooLarge,
     "abcdefghijkl",
     {"B0", "W4", "P", "E"},
     nullptr,
     10},
    {"UntilCloseDiscardedPastTheLimit",
     "\r\n",
     {"abcd", "efgh", "ijkl"},
     false,
     Outcome::TooLarge,
     "",
     {"B0", "P", "P", "E"},
     nullptr,
     10},
    {"ChunkedPastTheLimit",
     "Transfer-Encoding: chunked\r\n\r\n",
     {"", "c\r\nabcdefghijkl\r\n0\r\n\r\n"},
     true,
     Outcome::TooLarge,
     "abcdefghijkl",
     {"B0", "E"},
     nullptr,
     10},
};

INSTANTIATE_TEST_SUITE_P(Table, BodyReading, ::testing::ValuesIn(bodyCases), CaseName{});

TEST(BodyReading, BytesAfterTheBodyStayPendingForTheNextExchange) {
    ScriptedInput input({"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nokHTTP/1.1 404 No\r\n\r\n"});
    ResponseReader reader(input);
    ResponseHead head = reader.ReadHead();
    QByteArray body;
    ByteArraySink sink(body);
    reader.ReadBody(FramingOf(head.Headers), &sink, head.Headers, {});
    EXPECT_EQ(body, "ok");
    EXPECT_EQ(reader.ReadHead().StatusCode, 404);
}

} // namespace
