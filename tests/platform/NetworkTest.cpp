#include "platform/Network.h"
#include "platform/NameResolution.h"

#include "tests/support/SlowNameServer.h"
#include "tests/support/UnresolvableHost.h"

#include <QDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// A TCP socket bound to a free port of 127.0.0.1; listening only when asked.
class LoopbackSocket final {
public:
    explicit LoopbackSocket(bool listening, int backlog = 16) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            (listening && ::listen(fd_, backlog) != 0) ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        port_ = ntohs(address.sin_port);
    }
    ~LoopbackSocket() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;

    int port() const { return port_; }
    QString address() const { return QStringLiteral("http://127.0.0.1:%1/").arg(port_); }

    // A client connection left in the accept queue.
    bool connectClient(int& clientFd) const {
        clientFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port_));
        return clientFd >= 0 &&
               ::connect(clientFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

TEST(ProbeConnection, ConnectsOnlyWhereSomeoneListens) {
    LoopbackSocket listening(true);
    LoopbackSocket bound(false); // holds its port, so nothing else takes it, and refuses connections
    ASSERT_NE(listening.port(), 0);
    ASSERT_NE(bound.port(), 0);
    const struct {
        QString address;
        bool expected;
    } cases[] = {
        {listening.address(), true},
        {QStringLiteral("http://localhost:%1/download/showtime.zip").arg(listening.port()), true},
        {bound.address(), false},
        {QStringLiteral("http://%1:%2/").arg(UnresolvableHost()).arg(listening.port()), false},
        {QStringLiteral("not an address"), false},
        {QString(), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProbeConnection(c.address, 10s), c.expected) << c.address.toStdString();
}

// A listener whose accept queue is full drops further handshakes without answering, which makes a
// host that stays silent without sending anything off this machine.
TEST(ProbeConnection, GivesUpOnASilentHostAtTheLimit) {
    LoopbackSocket full(true, 0);
    ASSERT_NE(full.port(), 0);
    int queued = -1;
    ASSERT_TRUE(full.connectClient(queued));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(ProbeConnection(full.address(), 300ms));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 15s); // well below the 20 s default
    ::close(queued);
}

TEST(ProbeConnection, GivesUpOnANameServerThatDoesNotAnswerAtTheLimit) {
    LoopbackSocket listening(true);
    const SlowNameServer nameServer;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(ProbeConnection(QStringLiteral("http://tv.example:%1/").arg(listening.port()), 300ms));
    EXPECT_LT(std::chrono::steady_clock::now() - started, SlowNameServer::Delay);
}

// Lookups that a dead name server holds used to leave one detached thread each, without bound.
TEST(ResolveName, LookupsGivenUpOnHoldABoundedPoolAndThoseNotStartedNeverRun) {
    static std::atomic<int> started{0};
    static std::atomic<bool> release{false};
    const NameResolver previous =
        ReplaceNameResolver([](const char*, const char*, const addrinfo*, addrinfo**) {
            ++started;
            while (!release)
                std::this_thread::sleep_for(10ms);
            return EAI_AGAIN;
        });
    const auto threads = [] { return QDir(QStringLiteral("/proc/self/task")).count() - 2; };
    // A sanitizer's runtime starts a thread of its own with the first thread made.
    std::thread([] {}).join();
    const qsizetype before = threads();
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    for (int i = 0; i < 3 * kNameLookupThreads; ++i)
        EXPECT_TRUE(ResolveName("tv.example", "80", hints, 50ms, 10ms).timedOut);
    EXPECT_LE(threads() - before, kNameLookupThreads);
    release = true;
    ReplaceNameResolver(previous);
    // The held threads serve again; the lookups given up on before they started were dropped.
    const NameResolution answered = ResolveName("127.0.0.1", "80", hints, 10s, 10ms);
    EXPECT_EQ(answered.error, 0);
    EXPECT_NE(answered.addresses.First(), nullptr);
    EXPECT_LE(started.load(), kNameLookupThreads);
    EXPECT_LE(threads() - before, kNameLookupThreads);
}

TEST(AnyInterfaceConnected, NeedsAnAddressedInterfaceOtherThanLoopbackThatIsUpAndRunning) {
    sockaddr ipv4{};
    ipv4.sa_family = AF_INET;
    sockaddr ipv6{};
    ipv6.sa_family = AF_INET6;
    sockaddr packet{};
    packet.sa_family = AF_PACKET;
    const unsigned upAndRunning = IFF_UP | IFF_RUNNING;
    const struct {
        const char* name;
        sockaddr* address;
        unsigned flags;
        bool connected;
    } cases[] = {
        {"eth0 with IPv4", &ipv4, upAndRunning, true},
        {"eth0 with IPv6", &ipv6, upAndRunning, true},
        {"loopback", &ipv4, upAndRunning | IFF_LOOPBACK, false},
        {"down", &ipv4, IFF_RUNNING, false},
        {"up, no carrier", &ipv4, IFF_UP, false},
        {"link layer only", &packet, upAndRunning, false},
        {"no address", nullptr, upAndRunning, false},
    };
    for (const auto& c : cases) {
        ifaddrs entry{};
        entry.ifa_name = const_cast<char*>(c.name);
        entry.ifa_addr = c.address;
        entry.ifa_flags = c.flags;
        EXPECT_EQ(AnyInterfaceConnected(&entry), c.connected) << c.name;
        // Behind a loopback entry the answer is the same.
        ifaddrs loopback{};
        loopback.ifa_addr = &ipv4;
        loopback.ifa_flags = upAndRunning | IFF_LOOPBACK;
        loopback.ifa_next = &entry;
        EXPECT_EQ(AnyInterfaceConnected(&loopback), c.connected) << c.name;
    }
    EXPECT_FALSE(AnyInterfaceConnected(nullptr));
}

} // namespace
