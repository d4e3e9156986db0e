#pragma once

#include <QString>

#include <chrono>

struct ifaddrs;

// The online test: true when any interface other than loopback is up and running and holds an
// IPv4 or IPv6 address. Nothing is sent.
bool SystemReportsConnection();

// The rule behind it, over an interface list as getifaddrs returns it.
bool AnyInterfaceConnected(const ifaddrs* interfaces);

// The network probe: resolves the host of an "http://host[:port]/..." address and opens a TCP
// connection to it (port 80 when none is given), then closes it. True when the connection was made
// within the limit. Blocks the calling thread.
bool ProbeConnection(const QString& address, std::chrono::milliseconds limit = std::chrono::seconds(20));
