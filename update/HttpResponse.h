#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

// The header lines of a response (trailers of a chunked body included), in arrival order.
class HttpHeaderList final {
public:
    // A line that begins with a blank continues the previous header (RFC 2616, 4.2).
    void AddLine(const QByteArray& line);
    // Value of the first header of that name (case ignored), blanks trimmed; empty when absent.
    QByteArray Value(const QByteArray& name) const;
    // Values of every header of that name, in order.
    QList<QByteArray> Values(const QByteArray& name) const;
    bool Has(const QByteArray& name) const;
    const QList<QByteArray>& Lines() const { return lines_; }

private:
    QList<QByteArray> lines_;
};

struct ResponseHead final {
    QByteArray StatusLine;
    int StatusCode = -1;
    HttpHeaderList Headers;
};

// The second blank-separated field of the status line as a decimal number, else -1.
int StatusCodeOf(const QByteArray& statusLine);

// How the body of a response is delimited.
struct BodyFraming final {
    enum class Kind { Chunked, Length, Empty, UntilClose };
    Kind kind = Kind::UntilClose;
    int64_t length = 0; // for Kind::Length, greater than 0
};
// Throws MalformedResponseError for a Content-Length that is not one decimal length.
BodyFraming FramingOf(const HttpHeaderList& headers);

// False when "Connection" or "Proxy-Connection" says "close".
bool AllowsKeepAlive(const HttpHeaderList& headers);

// What the client does with a response, by its status and Location header.
enum class ResponseVerdict {
    Redirect,           // a Location to follow: discard the body, follow or end
    Success,            // 2xx but 204: body into the caller's buffer
    NoContent,          // 204: discard whatever body comes within a short wait
    ErrorIfBodyArrives, // 1xx but 100, and 304: error page only if it comes within a short wait
    Error,              // everything else (3xx without Location too): error page read, then a protocol error
};
ResponseVerdict JudgeResponse(int statusCode, const QByteArray& location);

// Decodes an error page by the charset of its Content-Type (ISO-8859-1 when none is named).
QString DecodeBodyText(const QByteArray& body, const HttpHeaderList& headers);
