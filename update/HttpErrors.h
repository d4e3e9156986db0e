#pragma once

#include "platform/Exception.h"

#include <QByteArray>
#include <QString>

// The errors a fetch can end with. All derive from the program's one error class; the download
// step drops them alike, so their texts are for logs and tests only.

// The server answered with a status that is not a success (or a redirect the client may not follow).
class HttpProtocolError final : public Exception {
public:
    HttpProtocolError(int errorCode, QString statusLine, QString errorBody)
        : Exception(statusLine), errorCode_(errorCode), statusLine_(std::move(statusLine)),
          errorBody_(std::move(errorBody)) {}

    int ErrorCode() const noexcept { return errorCode_; }
    const QString& StatusLine() const noexcept { return statusLine_; }
    // The error page, decoded in the response's character set.
    const QString& ErrorBody() const noexcept { return errorBody_; }

private:
    int errorCode_;
    QString statusLine_;
    QString errorBody_;
};

// A failure of the system's socket layer; the code is the errno value (for a name that cannot be
// resolved, the resolver's EAI_ code, which is negative).
class SocketError final : public Exception {
public:
    SocketError(int errorCode, const QString& text)
        : Exception(QStringLiteral("Socket error #%1: %2").arg(errorCode).arg(text)), errorCode_(errorCode) {}
    int ErrorCode() const noexcept { return errorCode_; }

private:
    int errorCode_;
};

class ConnectTimeoutError final : public Exception {
public:
    ConnectTimeoutError() : Exception(QStringLiteral("Connect timed out")) {}
};

// No byte arrived for longer than the client's read limit.
class ReadTimeoutError final : public Exception {
public:
    ReadTimeoutError() : Exception(QStringLiteral("Read timed out")) {}
};

// The server closed the connection where the response could not end: before the status line was
// complete, inside a chunked body, or short of an announced length.
class ConnectionClosedError final : public Exception {
public:
    ConnectionClosedError() : Exception(QStringLiteral("Connection closed by the server")) {}
};

// A status, header or chunk-size line, or the header block as a whole, exceeds its limit.
class LineTooLongError final : public Exception {
public:
    LineTooLongError() : Exception(QStringLiteral("Maximum line length exceeded")) {}
};

// The response breaks the message framing (RFC 7230, 3.3): a chunk size or Content-Length that is
// no number, too many interim responses. Nothing of such a body can be trusted to be whole.
class MalformedResponseError final : public Exception {
public:
    explicit MalformedResponseError(const QString& what)
        : Exception(QStringLiteral("Malformed response: %1").arg(what)) {}
};

// A body passed the client's limit.
class BodyTooLargeError final : public Exception {
public:
    BodyTooLargeError() : Exception(QStringLiteral("Response body too large")) {}
};

// Fewer bytes came within the low-speed window than its limit asks for.
class LowSpeedError final : public Exception {
public:
    LowSpeedError() : Exception(QStringLiteral("Transfer too slow")) {}
};

// An address (or a redirect target) of a scheme other than "http" and "https"; file, ftp and the
// rest are never fetched as if they were http.
class UnsupportedSchemeError final : public Exception {
public:
    explicit UnsupportedSchemeError(const QString& scheme)
        : Exception(QStringLiteral("Unsupported scheme: %1").arg(scheme)) {}
};

// The server's certificate was not accepted: no trusted authority signed it, it is not valid now, or
// it is made out for another host. Nothing is sent over such a connection.
class TlsCertificateError final : public Exception {
public:
    explicit TlsCertificateError(const QString& reason)
        : Exception(QStringLiteral("Server certificate not accepted: %1").arg(reason)) {}
};

// The TLS handshake, or the protocol over an established TLS connection, failed.
class TlsError final : public Exception {
public:
    explicit TlsError(const QString& reason)
        : Exception(QStringLiteral("Secure connection failed: %1").arg(reason)) {}
};

class InvalidAddressError final : public Exception {
public:
    explicit InvalidAddressError(const QString& address)
        : Exception(QStringLiteral("Invalid address: %1").arg(address)) {}
};
