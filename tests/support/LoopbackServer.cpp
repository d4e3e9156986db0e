#include "tests/support/LoopbackServer.h"

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
LoopbackServer::Step LoopbackServer::ShutdownWrite() {
    return {Step::Kind::ShutdownWrite, {}, 0, {}};
}
LoopbackServer::Step LoopbackServer::Reset() {
    return {Step::Kind::Reset, {}, 0, {}};
}

LoopbackServer::LoopbackServer(std::vector<Script> scripts, Family family)
    : LoopbackServer(std::move(scripts), std::nullopt, family) {}

std::unique_ptr<LoopbackServer> LoopbackServer::AnsweringEveryGet(QByteArray response) {
    return std::unique_ptr<LoopbackServer>(
        new LoopbackServer({}, Script{ReadRequest(), Send(std::move(response))}, Family::IPv4));
}

LoopbackServer::LoopbackServer(std::vector<Script> scripts, std::optional<Script> everyConnection,
                               Family family)
    : scripts_(std::move(scripts)), everyConnection_(std::move(everyConnection)), family_(family) {
    const int domain = family == Family::IPv6 ? AF_INET6 : AF_INET;
    listenFd_ = ::socket(domain, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (listenFd_ < 0 || stopFd_ < 0)
        throw std::runtime_error("LoopbackServer: no socket");
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
}

QString LoopbackServer::Url(const QString& path) const {
    const QString host = family_ == Family::IPv6 ? QStringLiteral("[::1]") : QStringLiteral("127.0.0.1");
    return QStringLiteral("http://%1:%2%3").arg(host).arg(port_).arg(path);
}

std::vector<QByteArray> LoopbackServer::Requests() const {
    const std::lock_guard lock(mutex_);
    return requests_;
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
    QByteArray input;
    if (everyConnection_) {
        for (bool going = true; going;)
            for (const Step& step : *everyConnection_)
                if (!(going = RunStep(fd, input, step)))
                    break;
    } else if (index < static_cast<int>(scripts_.size())) {
        for (const Step& step : scripts_[index])
            if (!RunStep(fd, input, step))
                break;
    }
    CloseFd(fd);
    finished_.fetch_add(1);
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

bool LoopbackServer::RunStep(int& fd, QByteArray& input, const Step& step) {
    if (fd < 0)
        return false;
    const auto sendAll = [&](const char* data, qsizetype size) {
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
        if (!WaitFor(fd, POLLIN, std::chrono::milliseconds(Forever)))
            return false;
        char buffer[4096];
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
        CloseFd(fd);
        return false;
    case Step::Kind::ShutdownWrite:
        ::shutdown(fd, SHUT_WR);
        return true;
    case Step::Kind::Reset: {
        const linger abort{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        CloseFd(fd);
        return false;
    }
    }
    return false;
}
