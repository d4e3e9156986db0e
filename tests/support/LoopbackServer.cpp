#include "tests/support/LoopbackServer.h"

#include "update/TlsChannel.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int Forever = -1;

int ToPollTimeout(std::chrono::milliseconds limit) {
    return limit.count() < 0 ? Forever : static_cast<int>(limit.count());
}

void CloseFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

SSL_CTX* NewServerContext(const LoopbackServer::TlsIdentity& identity) {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    BIO* certificates = BIO_new_mem_buf(identity.certificatesPem.constData(),
                                        static_cast<int>(identity.certificatesPem.size()));
    BIO* key = BIO_new_mem_buf(identity.keyPem.constData(), static_cast<int>(identity.keyPem.size()));
    bool ok = context != nullptr && certificates != nullptr && key != nullptr;
    if (ok) {
        X509* leaf = PEM_read_bio_X509(certificates, nullptr, nullptr, nullptr);
        ok = leaf != nullptr && SSL_CTX_use_certificate(context, leaf) == 1;
        X509_free(leaf);
        // Whatever follows the server's own certificate is its chain.
        while (X509* link = ok ? PEM_read_bio_X509(certificates, nullptr, nullptr, nullptr) : nullptr)
            ok = SSL_CTX_add0_chain_cert(context, link) == 1;
        EVP_PKEY* privateKey = PEM_read_bio_PrivateKey(key, nullptr, nullptr, nullptr);
        ok = ok && privateKey != nullptr && SSL_CTX_use_PrivateKey(context, privateKey) == 1;
        EVP_PKEY_free(privateKey);
    }
    BIO_free(certificates);
    BIO_free(key);
    ERR_clear_error();
    if (!ok) {
        SSL_CTX_free(context);
        throw std::runtime_error("LoopbackServer: the TLS identity cannot be used");
    }
    return context;
}

} // namespace

LoopbackServer::Step LoopbackServer::ReadRequest() {
    return {Step::Kind::ReadRequest, {}, 0, {}};
}
LoopbackServer::Step LoopbackServer::Send(QByteArray bytes) {
    return {Step::Kind::Send, std::move(bytes), 0, {}};
}
LoopbackServer::Step LoopbackServer::SendSlowly(QByteArray bytes, qsizetype pieceSize,
                                                std::chrono::milliseconds pause) {
    return {Step::Kind::SendSlowly, std::move(bytes), pieceSize, pause};
}
LoopbackServer::Step LoopbackServer::Sleep(std::chrono::milliseconds pause) {
    return {Step::Kind::Sleep, {}, 0, pause};
}
LoopbackServer::Step LoopbackServer::Stall() {
    return {Step::Kind::Stall, {}, 0, {}};
}
LoopbackServer::Step LoopbackServer::Close() {
    return {Step::Kind::Close, {}, 0, {}};
}
LoopbackServer::Step LoopbackServer::CloseWithoutNotify() {
    return {Step::Kind::CloseWithoutNotify, {}, 0, {}};
}
LoopbackServer::Step LoopbackServer::ShutdownWrite() {
    return {Step::Kind::ShutdownWrite, {}, 0, {}};
}
LoopbackServer::Step LoopbackServer::Reset() {
    return {Step::Kind::Reset, {}, 0, {}};
}

LoopbackServer::LoopbackServer(std::vector<Script> scripts, Family family)
    : LoopbackServer(std::move(scripts), std::nullopt, family, std::nullopt) {}

LoopbackServer::LoopbackServer(std::vector<Script> scripts, const TlsIdentity& identity)
    : LoopbackServer(std::move(scripts), std::nullopt, Family::IPv4, identity) {}

std::unique_ptr<LoopbackServer>
LoopbackServer::AnsweringEveryGet(QByteArray response, const std::optional<TlsIdentity>& identity) {
    return std::unique_ptr<LoopbackServer>(
        new LoopbackServer({}, Script{ReadRequest(), Send(std::move(response))}, Family::IPv4, identity));
}

LoopbackServer::LoopbackServer(std::vector<Script> scripts, std::optional<Script> everyConnection,
                               Family family, const std::optional<TlsIdentity>& identity)
    : scripts_(std::move(scripts)), everyConnection_(std::move(everyConnection)), family_(family) {
    if (identity)
        tlsContext_ = NewServerContext(*identity);
    const int domain = family == Family::IPv6 ? AF_INET6 : AF_INET;
    listenFd_ = ::socket(domain, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (listenFd_ < 0 || stopFd_ < 0) {
        SSL_CTX_free(tlsContext_);
        throw std::runtime_error("LoopbackServer: no socket");
    }
    const int yes = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (family == Family::IPv6) {
        auto* address = reinterpret_cast<sockaddr_in6*>(&storage);
        address->sin6_family = AF_INET6;
        address->sin6_addr = in6addr_loopback;
        length = sizeof *address;
    } else {
        auto* address = reinterpret_cast<sockaddr_in*>(&storage);
        address->sin_family = AF_INET;
        address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *address;
    }
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
        ::listen(listenFd_, 16) != 0) {
        CloseFd(listenFd_);
        CloseFd(stopFd_);
        SSL_CTX_free(tlsContext_);
        throw std::runtime_error("LoopbackServer: cannot listen on the loopback address");
    }
    length = sizeof storage;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&storage), &length);
    port_ = ntohs(family == Family::IPv6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                                         : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    const uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(stopFd_, &one, sizeof one);
    acceptThread_.join();
    // The accept thread has ended, so the list no longer grows.
    for (std::thread& thread : connectionThreads_)
        thread.join();
    CloseFd(listenFd_);
    CloseFd(stopFd_);
    SSL_CTX_free(tlsContext_);
}

QString LoopbackServer::Url(const QString& path) const {
    return UrlAt(family_ == Family::IPv6 ? QStringLiteral("[::1]") : QStringLiteral("127.0.0.1"), path);
}

QString LoopbackServer::UrlAt(const QString& host, const QString& path) const {
    return QStringLiteral("%1://%2:%3%4")
        .arg(tlsContext_ != nullptr ? QStringLiteral("https") : QStringLiteral("http"), host)
        .arg(port_)
        .arg(path);
}

std::vector<QByteArray> LoopbackServer::Requests() const {
    const std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<QByteArray> LoopbackServer::ServerNames() const {
    const std::lock_guard lock(mutex_);
    return serverNames_;
}

bool LoopbackServer::Stopping() const {
    pollfd fd{stopFd_, POLLIN, 0};
    return ::poll(&fd, 1, 0) > 0;
}

// Waits for `events` on `fd` or the stop signal; true only for the events.
bool LoopbackServer::WaitFor(int fd, short events, std::chrono::milliseconds limit) const {
    for (;;) {
        pollfd fds[2] = {{stopFd_, POLLIN, 0}, {fd, events, 0}};
        const int rc = ::poll(fds, fd >= 0 ? 2 : 1, ToPollTimeout(limit));
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc <= 0 || fds[0].revents != 0)
            return false;
        return fds[1].revents != 0;
    }
}

void LoopbackServer::AcceptLoop() {
    for (int index = 0;; ++index) {
        if (!WaitFor(listenFd_, POLLIN, std::chrono::milliseconds(Forever)))
            return;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            --index;
            continue;
        }
        accepted_.fetch_add(1);
        const int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        const std::lock_guard lock(mutex_);
        connectionThreads_.emplace_back([this, fd, index] { RunConnection(fd, index); });
    }
}

void LoopbackServer::RunConnection(int fd, int index) {
    Connection connection{fd};
    QByteArray input;
    if (!Handshake(connection)) {
        failedHandshakes_.fetch_add(1);
    } else if (everyConnection_) {
        for (bool going = true; going;)
            for (const Step& step : *everyConnection_)
                if (!(going = RunStep(connection, input, step)))
                    break;
    } else if (index < static_cast<int>(scripts_.size())) {
        for (const Step& step : scripts_[index])
            if (!RunStep(connection, input, step))
                break;
    }
    CloseConnection(connection);
    finished_.fetch_add(1);
}

bool LoopbackServer::Handshake(Connection& connection) {
    if (tlsContext_ == nullptr)
        return true;
    connection.tls = SSL_new(tlsContext_);
    BIO* bio = NewSocketBio(connection.fd);
    if (connection.tls == nullptr || bio == nullptr) {
        BIO_free(bio);
        connection.notify = false;
        return false;
    }
    SSL_set_bio(connection.tls, bio, bio);
    SSL_set_accept_state(connection.tls);
    for (;;) {
        ERR_clear_error();
        const int rc = SSL_do_handshake(connection.tls);
        if (rc == 1)
            break;
        const int error = SSL_get_error(connection.tls, rc);
        const short events = error == SSL_ERROR_WANT_READ    ? POLLIN
                             : error == SSL_ERROR_WANT_WRITE ? POLLOUT
                                                             : 0;
        if (events == 0 || !WaitFor(connection.fd, events, std::chrono::milliseconds(Forever))) {
            ERR_clear_error();
            connection.notify = false;
            return false;
        }
    }
    const char* name = SSL_get_servername(connection.tls, TLSEXT_NAMETYPE_host_name);
    const std::lock_guard lock(mutex_);
    serverNames_.emplace_back(name != nullptr ? name : "");
    return true;
}

void LoopbackServer::CloseConnection(Connection& connection) {
    if (connection.tls != nullptr) {
        if (connection.notify && connection.fd >= 0)
            SSL_shutdown(connection.tls);
        ERR_clear_error();
        SSL_free(connection.tls);
        connection.tls = nullptr;
    }
    CloseFd(connection.fd);
}

bool LoopbackServer::WaitForFinishedConnections(int count, std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (finished_.load() < count) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool LoopbackServer::RunStep(Connection& connection, QByteArray& input, const Step& step) {
    int& fd = connection.fd;
    if (fd < 0)
        return false;
    SSL* const tls = connection.tls;
    // Runs a TLS call until it is done, waiting as it asks; false when it fails or the server stops.
    const auto untilDone = [&](const auto& call) {
        for (;;) {
            ERR_clear_error();
            const int rc = call();
            if (rc == 1)
                return true;
            const int error = SSL_get_error(tls, rc);
            const short events = error == SSL_ERROR_WANT_READ    ? POLLIN
                                 : error == SSL_ERROR_WANT_WRITE ? POLLOUT
                                                                 : 0;
            if (events == 0 || !WaitFor(fd, events, std::chrono::milliseconds(Forever))) {
                ERR_clear_error();
                connection.notify = false;
                return false;
            }
        }
    };
    const auto sendAll = [&](const char* data, qsizetype size) {
        if (tls != nullptr) {
            size_t written = 0;
            return size == 0 ||
                   untilDone([&] { return SSL_write_ex(tls, data, static_cast<size_t>(size), &written); });
        }
        qsizetype sent = 0;
        while (sent < size) {
            const ssize_t rc = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL);
            if (rc > 0) {
                sent += rc;
            } else if (rc < 0 && (errno == EAGAIN || errno == EINTR)) {
                if (!WaitFor(fd, POLLOUT, std::chrono::milliseconds(Forever)))
                    return false;
            } else {
                return false;
            }
        }
        return true;
    };
    // Waits for data and takes what came; false when the client closed, the read failed or the
    // server stops.
    const auto receiveSome = [&](QByteArray& into) {
        char buffer[4096];
        if (tls != nullptr) {
            size_t received = 0;
            if (!untilDone([&] { return SSL_read_ex(tls, buffer, sizeof buffer, &received); }))
                return false;
            into.append(buffer, static_cast<qsizetype>(received));
            return true;
        }
        if (!WaitFor(fd, POLLIN, std::chrono::milliseconds(Forever)))
            return false;
        const ssize_t rc = ::recv(fd, buffer, sizeof buffer, 0);
        if (rc == 0 || (rc < 0 && errno != EAGAIN && errno != EINTR))
            return false;
        if (rc > 0)
            into.append(buffer, rc);
        return true;
    };
    switch (step.kind) {
    case Step::Kind::ReadRequest:
        for (;;) {
            const qsizetype end = input.indexOf("\r\n\r\n");
            if (end >= 0) {
                const std::lock_guard lock(mutex_);
                requests_.push_back(input.left(end + 4));
                input.remove(0, end + 4);
                return true;
            }
            if (!receiveSome(input))
                return false;
        }
    case Step::Kind::Send:
        return sendAll(step.bytes.constData(), step.bytes.size());
    case Step::Kind::SendSlowly:
        for (qsizetype at = 0; at < step.bytes.size(); at += std::max<qsizetype>(1, step.pieceSize)) {
            if (at > 0 && Stopping())
                return false;
            if (at > 0)
                WaitFor(-1, 0, step.pause);
            if (!sendAll(step.bytes.constData() + at,
                         std::min(std::max<qsizetype>(1, step.pieceSize), step.bytes.size() - at)))
                return false;
        }
        return true;
    case Step::Kind::Sleep:
        WaitFor(-1, 0, step.pause);
        return !Stopping();
    case Step::Kind::Stall:
        for (QByteArray dropped;; dropped.clear()) {
            if (!receiveSome(dropped))
                return false;
        }
    case Step::Kind::Close:
        CloseConnection(connection);
        return false;
    case Step::Kind::CloseWithoutNotify:
        connection.notify = false;
        CloseConnection(connection);
        return false;
    case Step::Kind::ShutdownWrite:
        if (tls != nullptr && connection.notify)
            SSL_shutdown(tls);
        connection.notify = false;
        ::shutdown(fd, SHUT_WR);
        return true;
    case Step::Kind::Reset: {
        const linger abort{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        connection.notify = false;
        CloseConnection(connection);
        return false;
    }
    }
    return false;
}
