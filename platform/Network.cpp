#include "platform/Network.h"

#include "platform/AbortRequest.h"
#include "platform/FileDescriptor.h"
#include "platform/NameResolution.h"

#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

bool AnyInterfaceConnected(const ifaddrs* interfaces) {
    for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr)
            continue;
        const int family = entry->ifa_addr->sa_family;
        const unsigned flags = entry->ifa_flags;
        if ((family == AF_INET || family == AF_INET6) && (flags & IFF_LOOPBACK) == 0 &&
            (flags & IFF_UP) != 0 && (flags & IFF_RUNNING) != 0)
            return true;
    }
    return false;
}

bool SystemReportsConnection() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return false;
    const bool connected = AnyInterfaceConnected(list);
    ::freeifaddrs(list);
    return connected;
}

namespace {

// The wait is cut into short slices so that an ending session does not wait for the deadline.
constexpr std::chrono::milliseconds kAbortCheckSlice{100};

bool ConnectWithin(const addrinfo& address, std::chrono::steady_clock::time_point deadline) {
    FileDescriptor socket(
        ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol));
    if (socket.get() < 0)
        return false;
    if (::connect(socket.get(), address.ai_addr, address.ai_addrlen) == 0)
        return true;
    if (errno != EINPROGRESS)
        return false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || AbortRequested())
            return false;
        pollfd pfd{socket.get(), POLLOUT, 0};
        const int rc = ::poll(&pfd, 1, static_cast<int>(std::min(left, kAbortCheckSlice).count()));
        if ((rc < 0 && errno == EINTR) || rc == 0)
            continue;
        if (rc < 0)
            return false;
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &length);
        return error == 0;
    }
}

} // namespace

bool ProbeConnection(const QString& address, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const QUrl url(address);
    const QString host = url.host();
    if (host.isEmpty())
        return false;
    const QByteArray port = QByteArray::number(url.port(80));
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    // The lookup counts against the same limit: a name server that does not answer gives false.
    const NameResolution resolution = ResolveName(host.toUtf8(), port, hints, limit, limit);
    bool connected = false;
    for (const addrinfo* entry = resolution.addresses.First(); entry != nullptr && !connected;
         entry = entry->ai_next)
        connected = ConnectWithin(*entry, deadline);
    return connected;
}
