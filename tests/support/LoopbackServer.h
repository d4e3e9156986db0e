#pragma once

#include <QByteArray>
#include <QString>

#include <openssl/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// A scripted TCP server on the loopback address for tests and benchmarks. Every accepted
// connection runs a script of steps on its own thread: read a request up to its blank line (and
// record it), send bytes (at once or slowly in pieces), sleep, stall, close, shut the write side,
// or reset. Given a TLS identity, it speaks TLS on every connection and runs the script over it
// once the handshake is done. The destructor stops every thread, wherever it waits.
class LoopbackServer final {
public:
    struct Step {
        enum class Kind {
            ReadRequest,
            Send,
            SendSlowly,
            Sleep,
            Stall,
            Close,
            CloseWithoutNotify,
            ShutdownWrite,
            Reset
        };
        Kind kind = Kind::Close;
        QByteArray bytes;
        qsizetype pieceSize = 0;
        std::chrono::milliseconds pause{0};
    };
    using Script = std::vector<Step>;

    // Reads one request up to and including its empty line and records it; a connection closed
    // before that ends the script.
    static Step ReadRequest();
    static Step Send(QByteArray bytes);
    // Sends in pieces of `pieceSize` bytes with `pause` after each piece but the last.
    static Step SendSlowly(QByteArray bytes, qsizetype pieceSize, std::chrono::milliseconds pause);
    static Step Sleep(std::chrono::milliseconds pause);
    // Keeps the connection open, reading and dropping whatever comes, until the client closes it
    // or the server stops.
    static Step Stall();
    // Over TLS, Close and ShutdownWrite send a close-notify first, as a script that runs out does.
    static Step Close();
    // Over TLS, closes without a close-notify, as a connection cut on the way; over TCP a Close.
    static Step CloseWithoutNotify();
    static Step ShutdownWrite();
    // Closes with a reset (RST) instead of the graceful close.
    static Step Reset();

    enum class Family { IPv4, IPv6 };

    // The server's certificate (the chain up to, not including, the authority) and its key, as PEM.
    struct TlsIdentity {
        QByteArray certificatesPem;
        QByteArray keyPem;
    };

    // Connection i runs scripts[i]; a connection past the last script is closed at once. A script
    // that runs out closes its connection. Throws std::runtime_error when it cannot listen.
    explicit LoopbackServer(std::vector<Script> scripts, Family family = Family::IPv4);
    // The same over TLS (IPv4). Throws std::runtime_error when the identity cannot be used.
    LoopbackServer(std::vector<Script> scripts, const TlsIdentity& identity);
    // Every connection answers each request with `response` until the client closes it; over TLS
    // when an identity is given.
    static std::unique_ptr<LoopbackServer> AnsweringEveryGet(QByteArray response,
                                                             const std::optional<TlsIdentity>& identity = {});
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    uint16_t Port() const { return port_; }
    // "http://127.0.0.1:<port>" (or "http://[::1]:<port>", or "https://…" over TLS) followed by `path`.
    QString Url(const QString& path = QStringLiteral("/")) const;
    // The same with another name for the loopback address, e.g. "localhost".
    QString UrlAt(const QString& host, const QString& path = QStringLiteral("/")) const;
    int AcceptedConnections() const { return accepted_.load(); }
    // Connections whose script has run out and whose socket the server has closed.
    int FinishedConnections() const { return finished_.load(); }
    // Waits until `count` connections have finished; false after `limit`.
    bool WaitForFinishedConnections(int count,
                                    std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
    // Every request read so far, in the order they were completed.
    std::vector<QByteArray> Requests() const;
    // Over TLS: the name each connection asked for by SNI (empty for none), in the order of the
    // handshakes that succeeded, and the number of handshakes that failed.
    std::vector<QByteArray> ServerNames() const;
    int FailedHandshakes() const { return failedHandshakes_.load(); }

private:
    struct Connection {
        int fd = -1;
        SSL* tls = nullptr;
        bool notify = true; // a close-notify is still to be sent before the close
    };
    LoopbackServer(std::vector<Script> scripts, std::optional<Script> everyConnection, Family family,
                   const std::optional<TlsIdentity>& identity);
    void AcceptLoop();
    void RunConnection(int fd, int index);
    bool Handshake(Connection& connection);
    void CloseConnection(Connection& connection);
    bool RunStep(Connection& connection, QByteArray& input, const Step& step);
    bool WaitFor(int fd, short events, std::chrono::milliseconds limit) const;
    bool Stopping() const;

    std::vector<Script> scripts_;
    std::optional<Script> everyConnection_;
    Family family_;
    int listenFd_ = -1;
    int stopFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<int> accepted_{0};
    std::atomic<int> finished_{0};
    std::atomic<int> failedHandshakes_{0};
    SSL_CTX* tlsContext_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<QByteArray> requests_;
    std::vector<QByteArray> serverNames_;
    std::vector<std::thread> connectionThreads_;
    std::thread acceptThread_;
};
