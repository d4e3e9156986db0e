#include "update/IdHTTP.h"
#include "update/HttpErrors.h"
#include "update/IdAntiFreeze.h"

#include "tests/support/CaseName.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/SlowNameServer.h"
#include "tests/support/UnresolvableHost.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Server = LoopbackServer;

enum class Failure {
    None,
    Protocol,
    Socket,
    ConnectTimeout,
    ReadTimeout,
    Closed,
    LineTooLong,
    Tls,
    Malformed,
    TooLarge,
    LowSpeed,
    Scheme,
    Other
};

struct Outcome {
    QByteArray buffer;
    Failure failure = Failure::None;
    int errorCode = 0;
    QString errorBody;
};

// Every test of the client runs with an anti-freeze whose pump only leaves a mark in the trace.
class ClientTest : public ::testing::Test {
protected:
    ClientTest() : antiFreeze([this] { trace.push_back("P"); }) {
        http.HandleRedirects = true;
        http.OnWorkBegin = [this](TIdHTTP&, TWorkMode mode, int64_t max) {
            EXPECT_EQ(mode, wmRead);
            trace.push_back("B" + std::to_string(max));
        };
        http.OnWork = [this](TIdHTTP&, TWorkMode, int64_t count) {
            trace.push_back("W" + std::to_string(count));
        };
        http.OnWorkEnd = [this](TIdHTTP&, TWorkMode) { trace.push_back("E"); };
    }

    Outcome Fetch(const QString& address, const QByteArray& before = "prefix:") {
        Outcome outcome;
        outcome.buffer = before;
        try {
            http.Get(address, outcome.buffer);
        } catch (const HttpProtocolError& e) {
            outcome.failure = Failure::Protocol;
            outcome.errorCode = e.ErrorCode();
            outcome.errorBody = e.ErrorBody();
        } catch (const SocketError& e) {
            outcome.failure = Failure::Socket;
            outcome.errorCode = e.ErrorCode();
        } catch (const ConnectTimeoutError&) {
            outcome.failure = Failure::ConnectTimeout;
        } catch (const ReadTimeoutError&) {
            outcome.failure = Failure::ReadTimeout;
        } catch (const ConnectionClosedError&) {
            outcome.failure = Failure::Closed;
        } catch (const LineTooLongError&) {
            outcome.failure = Failure::LineTooLong;
        } catch (const TlsError&) {
            outcome.failure = Failure::Tls;
        } catch (const MalformedResponseError&) {
            outcome.failure = Failure::Malformed;
        } catch (const BodyTooLargeError&) {
            outcome.failure = Failure::TooLarge;
        } catch (const LowSpeedError&) {
            outcome.failure = Failure::LowSpeed;
        } catch (const UnsupportedSchemeError&) {
            outcome.failure = Failure::Scheme;
        } catch (const std::exception&) {
            outcome.failure = Failure::Other;
        }
        return outcome;
    }

    // (announced maximum, last work count or 0) of every transfer in the trace.
    std::vector<std::pair<int64_t, int64_t>> Transfers() const {
        std::vector<std::pair<int64_t, int64_t>> transfers;
        for (const std::string& event : trace) {
            if (event[0] == 'B')
                transfers.emplace_back(std::stoll(event.substr(1)), 0);
            else if (event[0] == 'W')
                transfers.back().second = std::stoll(event.substr(1));
        }
        return transfers;
    }

    std::vector<std::string> trace;
    TIdAntiFreeze antiFreeze;
    TIdHTTP http;
};

QByteArray FirstLine(const QByteArray& request) {
    return request.left(request.indexOf("\r\n"));
}

const QByteArray okHead = "HTTP/1.1 200 OK\r\n";
const QByteArray longLine(20000, 'x');

QByteArray ManyHeaders() {
    QByteArray headers = okHead;
    for (int i = 0; i < 70; ++i)
        headers += "X-Filler: " + QByteArray(16000, 'f') + "\r\n";
    return headers + "\r\n";
}

QByteArray Continues(int count, const QByteArray& headers = "") {
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += "HTTP/1.1 100 Continue\r\n" + headers + "\r\n";
    return bytes;
}

// A header block of about `size` bytes in lines well within the line limit.
QByteArray Padding(qsizetype size) {
    QByteArray headers;
    while (headers.size() < size)
        headers += "X-Padding: " + QByteArray(10000, 'p') + "\r\n";
    return headers;
}

Server::Script Repeated(int times, const Server::Script& steps) {
    Server::Script script;
    for (int i = 0; i < times; ++i)
        script.insert(script.end(), steps.begin(), steps.end());
    return script;
}

struct FetchCase {
    const char* name;
    std::vector<Server::Script> scripts;
    const char* path;
    QByteArray body; // appended to "prefix:" on success
    Failure failure;
    std::vector<std::pair<int64_t, int64_t>> transfers; // a last count of -1 is not checked
    std::vector<QByteArray> requestLines;
    int accepted;
};

void PrintTo(const FetchCase& c, std::ostream* out) {
    *out << c.name;
}

class Fetching : public ClientTest, public ::testing::WithParamInterface<FetchCase> {};

TEST_P(Fetching, BodyEventsRequestsAndOutcome) {
    const FetchCase& c = GetParam();
    Server server(c.scripts);
    const Outcome outcome = Fetch(server.Url(c.path));

    EXPECT_EQ(outcome.failure, c.failure);
    EXPECT_EQ(outcome.buffer, "prefix:" + (c.failure == Failure::None ? c.body : QByteArray()));
    auto transfers = Transfers();
    ASSERT_EQ(transfers.size(), c.transfers.size());
    for (size_t i = 0; i < transfers.size(); ++i) {
        EXPECT_EQ(transfers[i].first, c.transfers[i].first) << "transfer " << i;
        if (c.transfers[i].second >= 0) {
            EXPECT_EQ(transfers[i].second, c.transfers[i].second) << "transfer " << i;
        }
    }
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "E"), static_cast<long>(c.transfers.size()));
    std::vector<QByteArray> lines;
    for (const QByteArray& request : server.Requests())
        lines.push_back(FirstLine(request));
    EXPECT_EQ(lines, c.requestLines);
    EXPECT_EQ(server.AcceptedConnections(), c.accepted);
}

const QByteArray pkg = "GET /pkg.zip HTTP/1.1";
const Server::Step R = Server::ReadRequest();
Server::Step S(const QByteArray& bytes) {
    return Server::Send(bytes);
}

const FetchCase fetchCases[] = {
    {"ChunkedBodyCountsFraming",
     {{R, S(okHead + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n")}},
     "/pkg.zip",
     "hello world",
     Failure::None,
     {{0, 26}},
     {pkg},
     1},
    {"AnnouncedEmptyBodyHasNoEvents",
     {{R, S(okHead + "Content-Length: 0\r\n\r\n")}},
     "/pkg.zip",
     "",
     Failure::None,
     {},
     {pkg},
     1},
    {"RedirectBodyDiscardedThenPackage",
     {{R,
       S("HTTP/1.1 302 Found\r\nLocation: /files/pkg2.zip\r\nContent-Length: 18\r\n\r\n<html>moved</html>"),
       R, S(okHead + "Content-Length: 7\r\n\r\nPACKAGE")}},
     "/pkg.zip",
     "PACKAGE",
     Failure::None,
     {{18, 18}, {7, 7}},
     {pkg, "GET /files/pkg2.zip HTTP/1.1"},
     1},
    {"RelativeRedirectMergedWithPath",
     {{R, S("HTTP/1.1 301 Moved\r\nLocation: next.zip?b=2\r\nContent-Length: 0\r\n\r\n"), R,
       S(okHead + "Content-Length: 2\r\n\r\nok")}},
     "/dir/pkg.zip?a=1",
     "ok",
     Failure::None,
     {{2, 2}},
     {"GET /dir/pkg.zip?a=1 HTTP/1.1", "GET /dir/next.zip?b=2 HTTP/1.1"},
     1},
    {"OkWithLocationIsFollowed",
     {{R, S(okHead + "Location: /real.zip\r\nContent-Length: 4\r\n\r\nstub"), R,
       S(okHead + "Content-Length: 4\r\n\r\nREAL")}},
     "/pkg.zip",
     "REAL",
     Failure::None,
     {{4, 4}, {4, 4}},
     {pkg, "GET /real.zip HTTP/1.1"},
     1},
    {"NotFoundPageReadThenError",
     {{R, S("HTTP/1.1 404 Not Found\r\nContent-Length: 13\r\n\r\n<h1>gone</h1>")}},
     "/pkg.zip",
     "",
     Failure::Protocol,
     {{13, 13}},
     {pkg},
     1},
    {"ErrorAnnouncedEmpty",
     {{R, S("HTTP/1.1 500 Oops\r\nContent-Length: 0\r\n\r\n")}},
     "/pkg.zip",
     "",
     Failure::Protocol,
     {},
     {pkg},
     1},
    {"NotModifiedWithoutBody",
     {{R, S("HTTP/1.1 304 Not Modified\r\n\r\n"), Server::Stall()}},
     "/pkg.zip",
     "",
     Failure::Protocol,
     {},
     {pkg},
     1},
    {"RedirectWithoutLocationIsAnError",
     {{R, S("HTTP/1.1 302 Found\r\nContent-Length: 0\r\n\r\n")}},
     "/pkg.zip",
     "",
     Failure::Protocol,
     {},
     {pkg},
     1},
    {"FifteenthRedirectEndsTheFetch",
     {Repeated(15, {R, S("HTTP/1.1 302 Found\r\nLocation: /loop\r\nContent-Length: 0\r\n\r\n")})},
     "/pkg.zip",
     "",
     Failure::None,
     {},
     {pkg, "GET /loop HTTP/1.1", "GET /loop HTTP/1.1", "GET /loop HTTP/1.1", "GET /loop HTTP/1.1",
      "GET /loop HTTP/1.1", "GET /loop HTTP/1.1", "GET /loop HTTP/1.1", "GET /loop HTTP/1.1",
      "GET /loop HTTP/1.1", "GET /loop HTTP/1.1", "GET /loop HTTP/1.1", "GET /loop HTTP/1.1",
      "GET /loop HTTP/1.1", "GET /loop HTTP/1.1"},
     1},
    {"GracefulCloseShortOfLengthEndsTheBody",
     {{R, S(okHead + "Content-Length: 10\r\n\r\n12345"), Server::Close()}},
     "/pkg.zip",
     "12345",
     Failure::None,
     {{10, 5}},
     {pkg},
     1},
    {"HugeAnnouncedLength",
     {{R, S(okHead + "Content-Length: 1000000000000000\r\n\r\nabc"), Server::Close()}},
     "/pkg.zip",
     "abc",
     Failure::None,
     {{1000000000000000, 3}},
     {pkg},
     1},
    {"ResetMidBody",
     {{R, S(okHead + "Content-Length: 10\r\n\r\n12345"), Server::Sleep(100ms), Server::Reset()}},
     "/pkg.zip",
     "",
     Failure::Socket,
     {{10, -1}},
     {pkg},
     1},
    {"BodyUntilClose",
     {{R, S("HTTP/1.0 200 OK\r\n\r\nuntil the end"), Server::Close()}},
     "/pkg.zip",
     "until the end",
     Failure::None,
     {{0, 13}},
     {pkg},
     1},
    {"NoContent",
     {{R, S("HTTP/1.1 204 No Content\r\n\r\n"), Server::Stall()}},
     "/pkg.zip",
     "",
     Failure::None,
     {},
     {pkg},
     1},
    {"ContinueThenResponse",
     {{R, S("HTTP/1.1 100 Continue\r\n\r\n" + okHead + "Content-Length: 2\r\n\r\nok")}},
     "/pkg.zip",
     "ok",
     Failure::None,
     {{2, 2}},
     {pkg},
     1},
    {"ClosedBeforeStatusLine",
     {{R, S("HTTP/1.1 2"), Server::Close()}},
     "/pkg.zip",
     "",
     Failure::Closed,
     {},
     {pkg},
     1},
    {"StatusLineTooLong",
     {{R, S("HTTP/1.1 200 " + longLine + "\r\n\r\n")}},
     "/pkg.zip",
     "",
     Failure::LineTooLong,
     {},
     {pkg},
     1},
    {"HeaderBlockTooLarge", {{R, S(ManyHeaders())}}, "/pkg.zip", "", Failure::LineTooLong, {}, {pkg}, 1},
    // Framing that cannot be trusted fails the fetch instead of ending the body early.
    {"ChunkSizeNotHexadecimal",
     {{R, S(okHead + "Transfer-Encoding: chunked\r\n\r\n2\r\nAB\r\nzz\r\nCDEF\r\n0\r\n\r\n")}},
     "/pkg.zip",
     "",
     Failure::Malformed,
     {{0, -1}},
     {pkg},
     1},
    {"NegativeContentLength",
     {{R, S(okHead + "Content-Length: -1\r\n\r\nAB"), Server::Close()}},
     "/pkg.zip",
     "",
     Failure::Malformed,
     {},
     {pkg},
     1},
    {"OverflowingContentLength",
     {{R, S(okHead + "Content-Length: 18446744073709551617\r\n\r\nAB"), Server::Close()}},
     "/pkg.zip",
     "",
     Failure::Malformed,
     {},
     {pkg},
     1},
    // Interim responses: at most sixteen, and all heads of one request share the head limit.
    {"SixteenContinuesThenResponse",
     {{R, S(Continues(16) + okHead + "Content-Length: 2\r\n\r\nok")}},
     "/pkg.zip",
     "ok",
     Failure::None,
     {{2, 2}},
     {pkg},
     1},
    {"SeventeenContinues",
     {{R, S(Continues(17) + okHead + "Content-Length: 2\r\n\r\nok")}},
     "/pkg.zip",
     "",
     Failure::Malformed,
     {},
     {pkg},
     1},
    {"ContinuesPastTheHeadLimit",
     {{R, S(Continues(8, Padding(140000)) + okHead + "Content-Length: 2\r\n\r\nok")}},
     "/pkg.zip",
     "",
     Failure::LineTooLong,
     {},
     {pkg},
     1},
};

INSTANTIATE_TEST_SUITE_P(Table, Fetching, ::testing::ValuesIn(fetchCases), CaseName{});

// Only http and https are followed: a redirect to another scheme fails, instead of being fetched as
// plain http from the host and port it names.
TEST_F(ClientTest, OnlyHttpRedirectsAreFollowed) {
    const std::pair<const char*, Failure> cases[] = {{"file", Failure::Scheme},
                                                     {"ftp", Failure::Scheme},
                                                     {"gopher", Failure::Scheme},
                                                     {"HTTP", Failure::None}};
    for (const auto& [scheme, failure] : cases) {
        SCOPED_TRACE(scheme);
        Server target({{R, S(okHead + "Content-Length: 2\r\n\r\nok")}});
        const QByteArray location =
            QByteArray(scheme) + "://127.0.0.1:" + QByteArray::number(target.Port()) + "/x.zip";
        Server server(
            {{R, S("HTTP/1.1 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n")}});
        const Outcome outcome = Fetch(server.Url("/pkg.zip"));
        EXPECT_EQ(outcome.failure, failure);
        EXPECT_EQ(target.AcceptedConnections(), failure == Failure::None ? 1 : 0);
    }
    EXPECT_EQ(Fetch(QStringLiteral("ftp://127.0.0.1:1/pkg.zip")).failure, Failure::Scheme);
}

TEST_F(ClientTest, BodyPastItsLimitFails) {
    EXPECT_EQ(TIdHTTP().MaxBodySize, int64_t{1} << 30);
    http.MaxBodySize = 50000;
    Server server({{R, S("HTTP/1.0 200 OK\r\n\r\n" + QByteArray(60000, 'z')), Server::Close()},
                   {R, S(okHead + "Content-Length: 50000\r\n\r\n" + QByteArray(50000, 'z'))}});
    const Outcome over = Fetch(server.Url());
    EXPECT_EQ(over.failure, Failure::TooLarge);
    EXPECT_EQ(over.buffer, "prefix:");
    EXPECT_EQ(trace.back(), "E");
    EXPECT_EQ(Fetch(server.Url()).failure, Failure::None) << "a body of exactly the limit is whole";
}

// A server that trickles keeps the read time-out from ever running out; the low-speed limit ends it.
TEST_F(ClientTest, TricklingServerFailsAtTheLowSpeedLimit) {
    antiFreeze.IdleTimeOut = 50;
    http.LowSpeedLimit = 1024;
    http.LowSpeedTime = 400;
    const QByteArray body(48000, 't');
    Server server({{R, S(okHead + "Content-Length: 48000\r\n\r\n"), Server::SendSlowly(body, 10, 50ms)},
                   {R, S(okHead + "Content-Length: 48000\r\n\r\n"), Server::SendSlowly(body, 2000, 50ms)}});
    const auto started = std::chrono::steady_clock::now();
    const Outcome trickle = Fetch(server.Url());
    EXPECT_EQ(trickle.failure, Failure::LowSpeed);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 400ms) << "a whole window is waited for";
    EXPECT_EQ(trace.back(), "E");
    EXPECT_FALSE(http.Connected());
    // Far more than the limit per window goes through: only a stall of most of a window would fail it.
    const Outcome steady = Fetch(server.Url());
    EXPECT_EQ(steady.failure, Failure::None);
    EXPECT_EQ(steady.buffer, "prefix:" + body);
}

// An endless run of "100 Continue" ends at the seventeenth, and the window is pumped meanwhile.
TEST_F(ClientTest, InterimResponsesAreBoundedAndPumped) {
    Server server({{R, S(Continues(17)), Server::Stall()}});
    EXPECT_EQ(Fetch(server.Url()).failure, Failure::Malformed);
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "P"), 16);
    EXPECT_FALSE(http.Connected());
}

TEST_F(ClientTest, ErrorCarriesStatusAndDecodedPage) {
    Server server({{R, S("HTTP/1.1 404 Not Found\r\nContent-Type: text/html; charset=gbk\r\n"
                         "Content-Length: 4\r\n\r\n\xD6\xD0\xCE\xC4")}});
    const Outcome outcome = Fetch(server.Url("/x"));
    EXPECT_EQ(outcome.errorCode, 404);
    EXPECT_EQ(outcome.errorBody, QString::fromUtf8("中文"));
    EXPECT_EQ(http.ResponseCode(), 404);
}

struct RequestCase {
    const char* name;
    QByteArray setCookie;
    QByteArray cookieLines; // as they follow the User-Agent line of the next fetch
};

void PrintTo(const RequestCase& c, std::ostream* out) {
    *out << c.name;
}

class RequestBytes : public ClientTest, public ::testing::WithParamInterface<RequestCase> {};

// The exact request of a first fetch, and of the next update's fetch on the kept connection.
TEST_P(RequestBytes, FirstFetchAndFetchAfterCookies) {
    const RequestCase& c = GetParam();
    const QByteArray answer = okHead + c.setCookie + "Content-Length: 2\r\n\r\nok";
    Server server({{R, S(answer), R, S(answer)}});
    const QString address = server.Url("/download/showtime.zip?20110916210509");
    ASSERT_EQ(Fetch(address).failure, Failure::None);
    ASSERT_EQ(Fetch(address).failure, Failure::None);

    const QByteArray common = "GET /download/showtime.zip?20110916210509 HTTP/1.1\r\n"
                              "Host: 127.0.0.1:" +
                              QByteArray::number(server.Port()) +
                              "\r\n"
                              "Accept: text/html, */*\r\n"
                              "Accept-Encoding: identity\r\n"
                              "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n";
    const std::vector<QByteArray> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], common + "\r\n");
    EXPECT_EQ(requests[1], common + c.cookieLines + "\r\n");
    EXPECT_EQ(server.AcceptedConnections(), 1);
}

const RequestCase requestCases[] = {
    {"NoCookies", "", ""},
    {"Rfc2109Store", "Set-Cookie: sid=abc; Path=/\r\nSet-Cookie: lang=zh; Path=/download\r\n",
     "Cookie: sid=abc\r\nCookie: lang=zh\r\nCookie2: $Version=\"1\"\r\n"},
    {"Rfc2965Store", "Set-Cookie2: sid=abc; Version=1; Path=/\r\n",
     "Cookie2: $Version=\"1\"; sid=abc; $Path=\"/\"\r\n"},
    {"SecureOnlyCookieStaysHome", "Set-Cookie: sid=abc; Secure; Path=/\r\n", ""},
};

INSTANTIATE_TEST_SUITE_P(Table, RequestBytes, ::testing::ValuesIn(requestCases), CaseName{});

TEST_F(ClientTest, CookiesBelongToOneClient) {
    Server server({{R, S(okHead + "Set-Cookie: sid=abc; Path=/\r\nContent-Length: 0\r\n\r\n")},
                   {R, S(okHead + "Content-Length: 0\r\n\r\n")}});
    ASSERT_EQ(Fetch(server.Url()).failure, Failure::None);
    // A new client, as after a restart of the program, starts without them.
    TIdHTTP fresh;
    QByteArray buffer;
    fresh.Get(server.Url(), buffer);
    EXPECT_FALSE(server.Requests().back().contains("Cookie"));
}

struct ReuseCase {
    const char* name;
    std::vector<Server::Script> scripts;
    int finishedBeforeSecondFetch; // server connections to be closed before the second fetch
    int accepted;
};

void PrintTo(const ReuseCase& c, std::ostream* out) {
    *out << c.name;
}

class ConnectionReuse : public ClientTest, public ::testing::WithParamInterface<ReuseCase> {};

TEST_P(ConnectionReuse, SecondFetchOfTheRun) {
    const ReuseCase& c = GetParam();
    Server server(c.scripts);
    ASSERT_EQ(Fetch(server.Url()).failure, Failure::None);
    ASSERT_TRUE(server.WaitForFinishedConnections(c.finishedBeforeSecondFetch));
    const Outcome second = Fetch(server.Url());
    EXPECT_EQ(second.failure, Failure::None);
    EXPECT_EQ(second.buffer, "prefix:ok");
    EXPECT_EQ(server.AcceptedConnections(), c.accepted);
}

const QByteArray ok = okHead + "Content-Length: 2\r\n\r\nok";
const QByteArray okThenClose = okHead + "Connection: Close \r\nContent-Length: 2\r\n\r\nok";

const ReuseCase reuseCases[] = {
    {"KeptOpen", {{R, S(ok), R, S(ok)}}, 0, 1},
    {"ConnectionCloseHonoured", {{R, S(okThenClose), Server::Stall()}, {R, S(ok)}}, 0, 2},
    {"ClosedByServerMeanwhile", {{R, S(ok), Server::Close()}, {R, S(ok)}}, 1, 2},
};

INSTANTIATE_TEST_SUITE_P(Table, ConnectionReuse, ::testing::ValuesIn(reuseCases), CaseName{});

TEST_F(ClientTest, AddressesRefusedBeforeConnectingKeepTheOpenConnection) {
    Server server({{R, S(ok), R, S(ok)}});
    ASSERT_EQ(Fetch(server.Url()).buffer, "prefix:ok");
    ASSERT_TRUE(http.Connected());
    EXPECT_EQ(Fetch(QStringLiteral("ftp://127.0.0.1:%1/").arg(server.Port())).failure, Failure::Scheme);
    EXPECT_EQ(Fetch(QStringLiteral("http://127.0.0.1:99999/")).failure, Failure::Other);
    EXPECT_EQ(http.ResponseCode(), -1) << "no status line was read by the failed fetches";
    EXPECT_TRUE(http.Connected());
    EXPECT_EQ(Fetch(server.Url()).buffer, "prefix:ok");
    EXPECT_EQ(server.AcceptedConnections(), 1);
}

// In a buffer, every block taken in is followed by a pump; after the last end event nothing pumps.
TEST_F(ClientTest, StreamedBodyPumpsAfterEveryBlockAndNeverAfterTheEnd) {
    const QByteArray body(100000, 'b');
    Server server({{R, S(okHead + "Content-Length: 100000\r\n\r\n"), Server::Sleep(50ms), S(body)}});
    const Outcome outcome = Fetch(server.Url());
    ASSERT_EQ(outcome.failure, Failure::None);
    EXPECT_EQ(outcome.buffer, "prefix:" + body);

    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.back(), "E");
    int64_t previous = -1;
    int works = 0;
    for (size_t i = 0; i < trace.size(); ++i) {
        if (trace[i][0] != 'W')
            continue;
        ++works;
        ASSERT_LT(i + 1, trace.size());
        EXPECT_EQ(trace[i + 1], "P") << "after " << trace[i];
        const int64_t count = std::stoll(trace[i].substr(1));
        if (previous >= 0) {
            EXPECT_LE(count - previous, 32768);
        }
        previous = count;
    }
    EXPECT_GE(works, 4);
    EXPECT_EQ(previous, 100000);
}

TEST_F(ClientTest, StalledServerPumpsInIdleSlices) {
    antiFreeze.IdleTimeOut = 50;
    Server server({{R, S(okHead + "Content-Length: 5\r\n\r\n"), Server::Sleep(600ms), S("abcde")}});
    const Outcome outcome = Fetch(server.Url());
    ASSERT_EQ(outcome.failure, Failure::None);
    const auto firstWork = std::find(trace.begin(), trace.end(), "W5");
    ASSERT_NE(firstWork, trace.end());
    EXPECT_GE(std::count(trace.begin(), firstWork, "P"), 3);
    EXPECT_EQ(std::vector<std::string>(firstWork, trace.end()), (std::vector<std::string>{"W5", "P", "E"}));
}

TEST_F(ClientTest, DiscardedRedirectBodyUntilClosePumpsPerReadWithoutWork) {
    Server server({{R, S("HTTP/1.1 302 Found\r\nLocation: /b\r\n\r\n"), Server::Sleep(30ms), S("abc"),
                    Server::Sleep(30ms), S("def"), Server::Close()},
                   {R, S(ok)}});
    const Outcome outcome = Fetch(server.Url());
    ASSERT_EQ(outcome.failure, Failure::None);
    EXPECT_EQ(outcome.buffer, "prefix:ok");
    const auto secondBegin = std::find(trace.begin(), trace.end(), "B2");
    ASSERT_NE(secondBegin, trace.end());
    const std::vector<std::string> first(trace.begin(), secondBegin);
    ASSERT_GE(first.size(), 3u);
    EXPECT_EQ(first.front(), "B0");
    EXPECT_EQ(first.back(), "E");
    EXPECT_GE(std::count(first.begin(), first.end(), "P"), 2);
    EXPECT_EQ(std::count_if(first.begin(), first.end(), [](const std::string& e) { return e[0] == 'W'; }), 0);
}

TEST_F(ClientTest, ErrorPageEndsWithEndEventAndNoPump) {
    Server server({{R, S("HTTP/1.1 503 Busy\r\nContent-Length: 3\r\n\r\nbad")}});
    EXPECT_EQ(Fetch(server.Url()).failure, Failure::Protocol);
    EXPECT_EQ(trace, (std::vector<std::string>{"B3", "W3", "P", "E"}));
}

// A listener whose accept queue is full leaves further connects unanswered.
class UnansweringListener final {
public:
    UnansweringListener() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), length), 0);
        EXPECT_EQ(::listen(listener_, 0), 0);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        EXPECT_EQ(::connect(filler_, reinterpret_cast<sockaddr*>(&address), length), 0);
    }
    ~UnansweringListener() {
        ::close(filler_);
        ::close(listener_);
    }
    int Port() const { return port_; }

private:
    int listener_ = -1;
    int filler_ = -1;
    int port_ = 0;
};

TEST_F(ClientTest, ConnectGivesUpAtItsLimitAndPumpsMeanwhile) {
    UnansweringListener listener;
    http.ConnectTimeout = 400;
    const Outcome outcome = Fetch(QStringLiteral("http://127.0.0.1:%1/pkg.zip").arg(listener.Port()));
    EXPECT_EQ(outcome.failure, Failure::ConnectTimeout);
    EXPECT_GE(std::count(trace.begin(), trace.end(), "P"), 2);
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "P"), static_cast<long>(trace.size()));
    EXPECT_FALSE(http.Connected());
}

TEST_F(ClientTest, ANameThatDoesNotResolveInTheReadTimeOutFailsAndPumpsMeanwhile) {
    const SlowNameServer nameServer;
    http.ReadTimeout = 400;
    const auto started = std::chrono::steady_clock::now();
    const Outcome outcome = Fetch(QStringLiteral("http://tv.example/pkg.zip"));
    EXPECT_LT(std::chrono::steady_clock::now() - started, SlowNameServer::Delay);
    EXPECT_EQ(outcome.failure, Failure::Socket);
    EXPECT_GE(std::count(trace.begin(), trace.end(), "P"), 2);
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "P"), static_cast<long>(trace.size()));
}

TEST_F(ClientTest, StalledServerEndsInReadTimeout) {
    http.ReadTimeout = 300;
    Server server({{R, S(okHead + "Content-Length: 10\r\n\r\nab"), Server::Stall()}, {R, Server::Stall()}});
    const Outcome midBody = Fetch(server.Url());
    EXPECT_EQ(midBody.failure, Failure::ReadTimeout);
    EXPECT_EQ(Transfers(), (std::vector<std::pair<int64_t, int64_t>>{{10, 2}}));
    EXPECT_EQ(trace.back(), "E");
    EXPECT_FALSE(http.Connected());

    EXPECT_EQ(Fetch(server.Url()).failure, Failure::ReadTimeout); // waiting for the status line
    EXPECT_EQ(server.AcceptedConnections(), 2);
}

TEST_F(ClientTest, UnreachableAddresses) {
    Server server({});
    int closedPort = 0;
    {
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), length), 0);
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
        closedPort = ntohs(address.sin_port);
        ::close(probe);
    }
    const Outcome refused = Fetch(QStringLiteral("http://127.0.0.1:%1/").arg(closedPort));
    EXPECT_EQ(refused.failure, Failure::Socket);
    EXPECT_EQ(refused.errorCode, ECONNREFUSED);

    EXPECT_EQ(Fetch(QStringLiteral("http://%1/").arg(UnresolvableHost())).failure, Failure::Socket);
    EXPECT_EQ(Fetch(QStringLiteral("relative.zip")).failure, Failure::Other);
    EXPECT_EQ(server.AcceptedConnections(), 0);
    EXPECT_TRUE(trace.empty());
}

TEST_F(ClientTest, BracketedIPv6Literal) {
    std::unique_ptr<Server> server;
    try {
        server = std::make_unique<Server>(std::vector<Server::Script>{{R, S(ok)}}, Server::Family::IPv6);
    } catch (const std::runtime_error&) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    const Outcome outcome = Fetch(server->Url("/v6.zip"));
    EXPECT_EQ(outcome.buffer, "prefix:ok");
    ASSERT_EQ(server->Requests().size(), 1u);
    EXPECT_TRUE(
        server->Requests()[0].contains("\r\nHost: [::1]:" + QByteArray::number(server->Port()) + "\r\n"));
}

TEST_F(ClientTest, AntiFreezeIsSingleAndPumpsOnlyWhenActiveOnItsThread) {
    EXPECT_EQ(TIdAntiFreeze::Instance(), &antiFreeze);
    EXPECT_THROW(TIdAntiFreeze second, Exception);
    EXPECT_EQ(TIdAntiFreeze::Instance(), &antiFreeze);

    antiFreeze.DoProcess();
    std::thread([this] { antiFreeze.DoProcess(); }).join();
    antiFreeze.Active = false;
    antiFreeze.DoProcess();
    EXPECT_EQ(trace, std::vector<std::string>{"P"});
}

TEST_F(ClientTest, NestedFetchFromAnEventIsRefused) {
    Server server({{R, S(ok)}});
    bool refused = false;
    http.OnWork = [&](TIdHTTP& sender, TWorkMode, int64_t) {
        QByteArray inner;
        try {
            sender.Get(server.Url(), inner);
        } catch (const Exception&) {
            refused = true;
        }
    };
    EXPECT_EQ(Fetch(server.Url()).buffer, "prefix:ok");
    EXPECT_TRUE(refused);
    EXPECT_EQ(server.Requests().size(), 1u);
}

} // namespace
