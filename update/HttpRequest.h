#pragma once

#include "update/HttpAddress.h"

#include <QByteArray>
#include <QList>

inline constexpr char kDefaultAccept[] = "text/html, */*";
inline constexpr char kDefaultUserAgent[] = "Mozilla/3.0 (compatible; Indy Library)";

// The header values a GET request carries besides Host and cookies.
struct RequestHeaderValues final {
    QByteArray HttpVersion = "1.1";
    QByteArray Accept = kDefaultAccept;
    QByteArray AcceptEncoding = "identity";
    QByteArray UserAgent = kDefaultUserAgent;
};

// The whole request as one block of US-ASCII text, lines ending in CR LF: request line, Host,
// Accept, Accept-Encoding, User-Agent, then the cookie lines, then the empty line.
QByteArray BuildGetRequest(const HttpAddress& address, const RequestHeaderValues& values,
                           const QList<QByteArray>& cookieLines);
