#include "update/TcpSocket.h"

#include "platform/NameResolution.h"
#include "platform/SystemMessage.h"
#include "update/HttpErrors.h"

#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <future>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

[[noreturn]] void ThrowErrno(int error) {
    throw SocketError(error, ErrnoMessageText(error));
}

// Resolves on a helper thread, so that a dead name server holds the window no longer than `limit`,
// pumping meanwhile.
ResolvedAddresses Resolve(const QByteArray& host, int port, bool ipv6, std::chrono::milliseconds limit,
                          std::chrono::milliseconds step, const std::function<void()>& afterStep) {
    addrinfo hints{};
    hints.ai_family = ipv6 ? AF_INET6 : AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    NameResolution resolution = ResolveName(host, QByteArray::number(port), hints, limit, step, afterStep);
    if (resolution.timedOut)
        throw SocketError(EAI_AGAIN, QStringLiteral("Name resolution timed out"));
    if (resolution.error == EAI_SYSTEM)
        ThrowErrno(resolution.systemError);
    if (resolution.error != 0)
        throw SocketError(resolution.error, QString::fromLocal8Bit(::gai_strerror(resolution.error)));
    if (resolution.addresses.First() == nullptr)
        throw SocketError(EAI_NONAME, QString::fromLocal8Bit(::gai_strerror(EAI_NONAME)));
    return std::move(resolution.addresses);
}

// Signals the connect thread to give up.
class EventFd final {
public:
    EventFd() : fd_(::eventfd(0, EFD_CLOEXEC)) {
        if (!fd_.valid())
            ThrowErrno(errno);
    }
    int Descriptor() const { return fd_.get(); }
    void Signal() const {
        const uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(fd_.get(), &one, sizeof one);
    }

private:
    FileDescriptor fd_;
};

// Runs on the connect thread: touches only the socket and the cancel signal. Returns 0 or an
// errno value; ECANCELED when told to give up.
int ConnectUntilCancelled(int fd, const sockaddr* address, socklen_t length, int cancelFd) {
    if (::connect(fd, address, length) == 0)
        return 0;
    if (errno != EINPROGRESS)
        return errno;
    for (;;) {
        pollfd fds[2] = {{fd, POLLOUT, 0}, {cancelFd, POLLIN, 0}};
        const int rc = ::poll(fds, 2, -1);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (fds[1].revents != 0)
            return ECANCELED;
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
            return errno;
        return error;
    }
}

void SetBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0)
        ThrowErrno(errno);
}

} // namespace

TcpSocket TcpSocket::Connect(const QByteArray& host, int port, bool ipv6,
                             std::chrono::milliseconds resolveLimit, std::chrono::milliseconds limit,
                             std::chrono::milliseconds step, const std::function<void()>& afterStep) {
    const ResolvedAddresses addresses = Resolve(host, port, ipv6, resolveLimit, step, afterStep);
    const addrinfo& address = *addresses.First();
    TcpSocket socket(
        ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol));
    if (!socket.IsOpen())
        ThrowErrno(errno);

    const EventFd cancel;
    std::packaged_task<int()> task([fd = socket.Descriptor(), &address, cancelFd = cancel.Descriptor()] {
        return ConnectUntilCancelled(fd, address.ai_addr, address.ai_addrlen, cancelFd);
    });
    std::future<int> result = task.get_future();
    std::thread connector(std::move(task));
    // Whatever leaves this function (a pump that throws included), the thread is stopped and
    // joined before the socket it uses is closed.
    const auto stopAndJoin = qScopeGuard([&] {
        if (connector.joinable()) {
            cancel.Signal();
            connector.join();
        }
    });

    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool timedOut = false;
    while (result.wait_for(step) != std::future_status::ready) {
        if (afterStep)
            afterStep();
        if (std::chrono::steady_clock::now() >= deadline) {
            timedOut = true;
            cancel.Signal();
            break;
        }
    }
    connector.join();
    const int error = result.get();
    if (timedOut && error != 0)
        throw ConnectTimeoutError(); // the socket closes as it goes out of scope
    if (error != 0)
        ThrowErrno(error);
    SetBlocking(socket.Descriptor());
    return socket;
}

void TcpSocket::SendAll(const QByteArray& bytes) {
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t rc = ::send(fd_.get(), bytes.constData() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            ThrowErrno(errno);
        }
        sent += rc;
    }
}

qsizetype TcpSocket::ReceiveNow(char* into, qsizetype limit) {
    for (;;) {
        const ssize_t rc = ::recv(fd_.get(), into, static_cast<size_t>(limit), MSG_DONTWAIT);
        if (rc >= 0)
            return rc;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return -1;
        ThrowErrno(errno);
    }
}

int TcpSocket::PeekNow() {
    char byte = 0;
    for (;;) {
        const ssize_t rc = ::recv(fd_.get(), &byte, 1, MSG_DONTWAIT | MSG_PEEK);
        if (rc >= 0)
            return static_cast<int>(rc);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return -1;
        ThrowErrno(errno);
    }
}

bool TcpSocket::WaitReadable(std::chrono::milliseconds wait) {
    pollfd fd{fd_.get(), POLLIN, 0};
    const int rc = ::poll(&fd, 1, static_cast<int>(std::max<int64_t>(0, wait.count())));
    if (rc < 0) {
        if (errno == EINTR)
            return false;
        ThrowErrno(errno);
    }
    return rc > 0;
}
