// The client over TLS, against loopback servers whose certificates an authority made in the test
// signed; the client trusts that authority through SSL_CERT_FILE.
#include "platform/AbortRequest.h"
#include "update/HttpErrors.h"
#include "update/IdAntiFreeze.h"
#include "update/IdHTTP.h"

#include "tests/support/LoopbackServer.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TestAuthority.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Server = LoopbackServer;

const Server::Step R = Server::ReadRequest();
Server::Step S(const QByteArray& bytes) {
    return Server::Send(bytes);
}

QByteArray OkHead(qsizetype length) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(length) + "\r\n\r\n";
}
const QByteArray ok = OkHead(2) + "ok";
const QByteArray localNames = "DNS:localhost,IP:127.0.0.1";

// How a fetch ended.
enum class Ending {
    Success,
    Certificate,
    SecureConnection,
    Closed,
    Socket,
    ConnectTimeout,
    ReadTimeout,
    LowSpeed,
    TooLarge,
    Aborted,
    Other
};

std::ostream& operator<<(std::ostream& out, Ending ending) {
    static const char* const names[] = {
        "Success",     "Certificate", "SecureConnection", "Closed",  "Socket", "ConnectTimeout",
        "ReadTimeout", "LowSpeed",    "TooLarge",         "Aborted", "Other"};
    return out << names[static_cast<int>(ending)];
}

class HttpsTest : public ::testing::Test {
protected:
    HttpsTest() : antiFreeze([this] { Pump(); }) {
        authority.WriteCertificate(folder.filePath(QStringLiteral("authority.pem")));
        http.HandleRedirects = true;
    }
    ~HttpsTest() override { ClearAbortRequest(); }

    Ending Fetch(const QString& address) {
        body.clear();
        try {
            http.Get(address, body);
            return Ending::Success;
        } catch (const TlsCertificateError&) {
            return Ending::Certificate;
        } catch (const TlsError&) {
            return Ending::SecureConnection;
        } catch (const ConnectionClosedError&) {
            return Ending::Closed;
        } catch (const SocketError&) {
            return Ending::Socket;
        } catch (const ConnectTimeoutError&) {
            return Ending::ConnectTimeout;
        } catch (const ReadTimeoutError&) {
            return Ending::ReadTimeout;
        } catch (const LowSpeedError&) {
            return Ending::LowSpeed;
        } catch (const BodyTooLargeError&) {
            return Ending::TooLarge;
        } catch (const AbortedError&) {
            return Ending::Aborted;
        } catch (const std::exception&) {
            return Ending::Other;
        }
    }

    void Pump() {
        ++pumps;
        if (onPump)
            onPump();
    }

    QTemporaryDir folder;
    TestAuthority authority;
    ScopedVariable certificateFile{"SSL_CERT_FILE",
                                   QFile::encodeName(folder.filePath(QStringLiteral("authority.pem")))};
    ScopedVariable certificateFolder{"SSL_CERT_DIR", std::nullopt};
    int pumps = 0;
    std::function<void()> onPump;
    TIdAntiFreeze antiFreeze;
    TIdHTTP http;
    QByteArray body;
};

// Both names of the loopback address are accepted; only a name goes out by SNI (RFC 6066 leaves an
// address out).
TEST_F(HttpsTest, ATrustedCertificateForTheHostIsAccepted) {
    // The second body comes in many records, in two parts with a pause between them.
    QByteArray large(300000, '\0');
    for (qsizetype i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>(i * 7 + i / 1000);
    Server server(
        {{R, S(ok)},
         {R, S(OkHead(large.size()) + large.left(100000)), Server::Sleep(100ms), S(large.mid(100000))}},
        authority.Issue(localNames));
    EXPECT_EQ(Fetch(server.UrlAt(QStringLiteral("localhost"))), Ending::Success);
    EXPECT_EQ(body, "ok");
    http.Disconnect();
    EXPECT_EQ(Fetch(server.Url()), Ending::Success);
    EXPECT_EQ(body, large);
    EXPECT_EQ(server.ServerNames(), (std::vector<QByteArray>{"localhost", ""}));
}

TEST_F(HttpsTest, CertificatesThatAreRefusedBeforeAnythingIsSent) {
    const TestAuthority stranger("Someone Else's Authority");
    const struct {
        const char* name;
        LoopbackServer::TlsIdentity identity;
        const char* host;
    } cases[] = {
        {"signed by an authority not trusted", stranger.Issue(localNames), "127.0.0.1"},
        {"made out for another name", authority.Issue("DNS:tv.example"), "localhost"},
        {"made out for another address", authority.Issue("DNS:localhost,IP:127.0.0.2"), "127.0.0.1"},
        {"a wildcard for a name one label further down", authority.Issue("DNS:*.localhost"), "localhost"},
        {"expired", authority.Issue(localNames, {-48h, -24h}), "localhost"},
        {"not valid yet", authority.Issue(localNames, {24h, 48h}), "localhost"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Server server({{R, S(ok)}}, c.identity);
        EXPECT_EQ(Fetch(server.UrlAt(QString::fromLatin1(c.host))), Ending::Certificate);
        EXPECT_TRUE(body.isEmpty());
        EXPECT_FALSE(http.Connected());
        ASSERT_TRUE(server.WaitForFinishedConnections(1));
        EXPECT_EQ(server.FailedHandshakes(), 1);
        EXPECT_TRUE(server.Requests().empty());
    }
}

// Without SSL_CERT_FILE or SSL_CERT_DIR the system's store is used, which never holds an authority
// made a moment ago; SSL_CERT_DIR alone is read as a folder of hashed names.
TEST_F(HttpsTest, TheAuthoritiesComeFromTheEnvironmentOrTheSystem) {
    Server server({{R, S(ok)}, {R, S(ok)}, {R, S(ok)}}, authority.Issue(localNames));
    {
        const ScopedVariable noFile("SSL_CERT_FILE", std::nullopt);
        EXPECT_EQ(Fetch(server.Url()), Ending::Certificate);
        const ScopedVariable emptyFolder("SSL_CERT_DIR", QFile::encodeName(folder.path()));
        EXPECT_EQ(Fetch(server.Url()), Ending::Certificate);
    }
    EXPECT_EQ(Fetch(server.Url()), Ending::Success);
}

TEST_F(HttpsTest, AServerThatSpeaksNoTlsFailsTheSecureConnection) {
    Server plain({{S("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n"), Server::Close()}});
    EXPECT_EQ(Fetch(QStringLiteral("https://127.0.0.1:%1/").arg(plain.Port())), Ending::SecureConnection);
    EXPECT_TRUE(plain.Requests().empty());
}

// The request is the one plain http sends, byte for byte, and the connection is kept for the next.
TEST_F(HttpsTest, RequestBytesAndKeepAliveAreThoseOfPlainHttp) {
    Server server({{R, S(ok), R, S(ok)}}, authority.Issue(localNames));
    const QString address =
        server.UrlAt(QStringLiteral("localhost"), QStringLiteral("/download/showtime.zip?20110916210509"));
    ASSERT_EQ(Fetch(address), Ending::Success);
    ASSERT_EQ(Fetch(address), Ending::Success);
    const QByteArray request = "GET /download/showtime.zip?20110916210509 HTTP/1.1\r\n"
                               "Host: localhost:" +
                               QByteArray::number(server.Port()) +
                               "\r\n"
                               "Accept: text/html, */*\r\n"
                               "Accept-Encoding: identity\r\n"
                               "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
                               "\r\n";
    EXPECT_EQ(server.Requests(), (std::vector<QByteArray>{request, request}));
    EXPECT_EQ(server.AcceptedConnections(), 1);
}

// A connection kept open for http is never taken for https to the same host and port: the request
// would go out in the clear.
TEST_F(HttpsTest, AKeptPlainConnectionIsNotUsedForHttps) {
    Server plain({{R, S(ok), R, S(ok)}});
    ASSERT_EQ(Fetch(plain.Url()), Ending::Success);
    ASSERT_TRUE(http.Connected());
    EXPECT_NE(Fetch(QStringLiteral("https://127.0.0.1:%1/").arg(plain.Port())), Ending::Success);
    EXPECT_EQ(plain.AcceptedConnections(), 2);
    EXPECT_EQ(plain.Requests().size(), 1u);
}

// From http to https and back; a cookie marked Secure goes back over https only.
TEST_F(HttpsTest, RedirectsCrossSchemesBothWaysAndSecureCookiesStayOnTls) {
    Server mirror({{R, S(OkHead(7) + "PACKAGE")}});
    const QByteArray toMirror = mirror.Url(QStringLiteral("/mirror.zip")).toLatin1();
    Server secure({{R, S("HTTP/1.1 302 Found\r\nSet-Cookie: sid=abc; Secure; Path=/\r\n"
                         "Set-Cookie: lang=zh; Path=/\r\nLocation: " +
                         toMirror + "\r\nContent-Length: 0\r\n\r\n")},
                   {R, S(ok)}},
                  authority.Issue(localNames));
    const QByteArray toSecure = secure.Url(QStringLiteral("/pkg.zip")).toLatin1();
    Server plain({{R, S("HTTP/1.1 301 Moved\r\nLocation: " + toSecure + "\r\nContent-Length: 0\r\n\r\n")}});

    ASSERT_EQ(Fetch(plain.Url(QStringLiteral("/pkg.zip"))), Ending::Success);
    EXPECT_EQ(body, "PACKAGE");
    ASSERT_EQ(mirror.Requests().size(), 1u);
    EXPECT_TRUE(mirror.Requests()[0].contains("\r\nCookie: lang=zh\r\n"));
    EXPECT_FALSE(mirror.Requests()[0].contains("sid=abc"));

    ASSERT_EQ(Fetch(secure.Url()), Ending::Success);
    ASSERT_EQ(secure.Requests().size(), 2u);
    EXPECT_TRUE(secure.Requests()[1].contains("\r\nCookie: sid=abc\r\nCookie: lang=zh\r\n"))
        << secure.Requests()[1].toStdString();
}

// A close without close-notify may be anyone's on the way: inside a body of announced length it
// cuts the body short, and a body read until the close is never taken as whole without it.
TEST_F(HttpsTest, ABodyIsWholeOnlyWithTheServersCloseNotify) {
    const struct {
        const char* name;
        LoopbackServer::Step close;
        QByteArray head;
        Ending ending;
        QByteArray body;
    } cases[] = {
        {"announced length, close-notify", Server::Close(), OkHead(10), Ending::Success, "12345"},
        {"announced length, no close-notify", Server::CloseWithoutNotify(), OkHead(10), Ending::Closed, ""},
        {"until the close, close-notify", Server::Close(), "HTTP/1.0 200 OK\r\n\r\n", Ending::Success,
         "12345"},
        {"until the close, no close-notify", Server::CloseWithoutNotify(), "HTTP/1.0 200 OK\r\n\r\n",
         Ending::Closed, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Server server({{R, S(c.head + "12345"), Server::Sleep(50ms), c.close}}, authority.Issue(localNames));
        EXPECT_EQ(Fetch(server.Url()), c.ending);
        EXPECT_EQ(body, c.body);
        EXPECT_EQ(http.ResponseCode(), 200);
    }
}

// Time-outs, the low-speed and body limits, the pump and an abort request all hold over TLS, in the
// handshake as in the body.
TEST_F(HttpsTest, EveryBoundHoldsOverTls) {
    antiFreeze.IdleTimeOut = 50;
    http.ReadTimeout = 400;
    http.MaxBodySize = 50000;
    const auto identity = authority.Issue(localNames);
    const auto abortAtThePump = [this] { onPump = [] { RequestAbort(); }; };
    const struct {
        const char* name;
        bool tls; // a plain server that stalls holds the client in its handshake
        Server::Script script;
        std::function<void()> arrange;
        Ending ending;
    } cases[] = {
        {"the handshake stalls", false, {Server::Stall()}, nullptr, Ending::ConnectTimeout},
        {"the body stalls", true, {R, S(OkHead(10) + "ab"), Server::Stall()}, nullptr, Ending::ReadTimeout},
        {"the body trickles",
         true,
         {R, S(OkHead(48000)), Server::SendSlowly(QByteArray(48000, 't'), 10, 50ms)},
         [this] { http.LowSpeedTime = 400; },
         Ending::LowSpeed},
        {"the body passes the limit",
         true,
         {R, S(OkHead(60000) + QByteArray(60000, 'z'))},
         nullptr,
         Ending::TooLarge},
        {"an abort in the handshake", false, {Server::Stall()}, abortAtThePump, Ending::Aborted},
        {"an abort in the body",
         true,
         {R, S(OkHead(10) + "ab"), Server::Stall()},
         abortAtThePump,
         Ending::Aborted},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClearAbortRequest();
        onPump = nullptr;
        pumps = 0;
        http.LowSpeedTime = 60000;
        if (c.arrange)
            c.arrange();
        const auto server = c.tls ? std::make_unique<Server>(std::vector<Server::Script>{c.script}, identity)
                                  : std::make_unique<Server>(std::vector<Server::Script>{c.script});
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(Fetch(QStringLiteral("https://localhost:%1/").arg(server->Port())), c.ending);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
        EXPECT_GE(pumps, 1) << "the window was kept live";
        EXPECT_FALSE(http.Connected());
    }
}

} // namespace
