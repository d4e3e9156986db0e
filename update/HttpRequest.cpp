#include "update/HttpRequest.h"

namespace {

// A header value never ends its line early: line breaks inside it would start a header of
// someone else's making.
QByteArray OnOneLine(QByteArray value) {
    value.replace('\r', ' ');
    value.replace('\n', ' ');
    return value;
}

} // namespace

QByteArray BuildGetRequest(const HttpAddress& address, const RequestHeaderValues& values,
                           const QList<QByteArray>& cookieLines) {
    QByteArray request;
    request.reserve(256);
    request += "GET " + address.RequestTarget() + " HTTP/" + OnOneLine(values.HttpVersion) + "\r\n";
    request += "Host: " + OnOneLine(address.HostHeader()) + "\r\n";
    request += "Accept: " + OnOneLine(values.Accept) + "\r\n";
    request += "Accept-Encoding: " + OnOneLine(values.AcceptEncoding) + "\r\n";
    request += "User-Agent: " + OnOneLine(values.UserAgent) + "\r\n";
    for (const QByteArray& line : cookieLines)
        request += OnOneLine(line) + "\r\n";
    request += "\r\n";
    return request;
}
