#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// One request address, split into the parts the request is built from. Nothing is percent-encoded
// or decoded when splitting; the fragment is dropped.
struct HttpAddress final {
    QString Protocol; // as written, e.g. "http"
    QString Host;     // without the brackets of an IPv6 literal
    bool HostIsIPv6 = false;
    int Port = 80;
    QString Path;     // up to and including the last "/"
    QString Document; // the rest of the path
    QString Query;    // everything after the first "?", without it

    bool IsHttps() const;
    // The host as sent and resolved: names outside US-ASCII in their IDNA form.
    QByteArray AsciiHost() const;
    // Path and document, then "?" and the query when there is one, as request-line bytes.
    QByteArray RequestTarget() const;
    // The Host header's value: the host, and ":" and the port unless it is the scheme's default.
    QByteArray HostHeader() const;
    // Path and document as text, for cookie path matching.
    QString FullPath() const { return Path + Document; }
};

// Splits `text` and fills what it leaves out from `previous` (the client's last request): scheme,
// host and port, and the path of a relative reference. Throws InvalidAddressError when there is
// no host to be had or the port is not a number from 1 to 65535.
HttpAddress ResolveAddress(const QString& text, const std::optional<HttpAddress>& previous);

// The scheme's port when the address names none.
int DefaultPort(const QString& protocol);
