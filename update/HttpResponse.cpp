#include "update/HttpResponse.h"

#include "platform/CodePage.h"
#include "update/HttpErrors.h"

#include <QStringDecoder>

namespace {

QByteArray NameOf(const QByteArray& line) {
    const qsizetype colon = line.indexOf(':');
    return colon < 0 ? QByteArray() : line.left(colon).trimmed();
}

QByteArray ValueOf(const QByteArray& line) {
    const qsizetype colon = line.indexOf(':');
    return colon < 0 ? QByteArray() : line.mid(colon + 1).trimmed();
}

bool SameName(const QByteArray& a, const QByteArray& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool IsDecimal(const QByteArray& text) {
    if (text.isEmpty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

} // namespace

void HttpHeaderList::AddLine(const QByteArray& line) {
    if (!lines_.isEmpty() && !line.isEmpty() && (line[0] == ' ' || line[0] == '\t')) {
        lines_.last() += ' ' + line.trimmed();
        return;
    }
    lines_.append(line);
}

QByteArray HttpHeaderList::Value(const QByteArray& name) const {
    for (const QByteArray& line : lines_)
        if (SameName(NameOf(line), name))
            return ValueOf(line);
    return {};
}

QList<QByteArray> HttpHeaderList::Values(const QByteArray& name) const {
    QList<QByteArray> values;
    for (const QByteArray& line : lines_)
        if (SameName(NameOf(line), name))
            values.append(ValueOf(line));
    return values;
}

bool HttpHeaderList::Has(const QByteArray& name) const {
    for (const QByteArray& line : lines_)
        if (SameName(NameOf(line), name))
            return true;
    return false;
}

int StatusCodeOf(const QByteArray& statusLine) {
    const QList<QByteArray> fields = statusLine.simplified().split(' ');
    if (fields.size() < 2)
        return -1;
    const QByteArray& field = fields[1];
    if (!IsDecimal(field) || field.size() > 9)
        return -1;
    return field.toInt();
}

BodyFraming FramingOf(const HttpHeaderList& headers) {
    if (headers.Value("Transfer-Encoding").toLower().contains("chunked"))
        return {BodyFraming::Kind::Chunked, 0};
    const QList<QByteArray> lengths = headers.Values("Content-Length");
    if (!lengths.isEmpty()) {
        // A length that is no number, signed, too large or given twice differently leaves the
        // body's end unknown (RFC 7230, 3.3.3): reading until the close would take a cut-off body
        // as whole. The field is digits only (RFC 9110, 8.6).
        const QByteArray& text = lengths.first();
        bool ok = IsDecimal(text);
        const qlonglong length = ok ? text.toLongLong(&ok) : 0;
        for (const QByteArray& other : lengths)
            ok = ok && other == lengths.first();
        if (!ok)
            throw MalformedResponseError(QStringLiteral("Invalid Content-Length"));
        return length > 0 ? BodyFraming{BodyFraming::Kind::Length, length}
                          : BodyFraming{BodyFraming::Kind::Empty, 0};
    }
    return {BodyFraming::Kind::UntilClose, 0};
}

bool AllowsKeepAlive(const HttpHeaderList& headers) {
    for (const char* name : {"Connection", "Proxy-Connection"})
        for (const QByteArray& value : headers.Values(name))
            if (SameName(value, "close"))
                return false;
    return true;
}

ResponseVerdict JudgeResponse(int statusCode, const QByteArray& location) {
    if (statusCode != 201 && !location.isEmpty())
        return ResponseVerdict::Redirect;
    // A redirect status without a target cannot be followed: re-requesting the same address
    // would only spin until the redirect limit.
    if (statusCode >= 300 && statusCode <= 399 && statusCode != 304)
        return ResponseVerdict::Error;
    if (statusCode == 204)
        return ResponseVerdict::NoContent;
    if (statusCode >= 200 && statusCode <= 299)
        return ResponseVerdict::Success;
    if ((statusCode >= 100 && statusCode <= 199) || statusCode == 304)
        return ResponseVerdict::ErrorIfBodyArrives;
    return ResponseVerdict::Error;
}

QString DecodeBodyText(const QByteArray& body, const HttpHeaderList& headers) {
    QByteArray charset;
    for (QByteArray parameter : headers.Value("Content-Type").split(';')) {
        parameter = parameter.trimmed();
        if (parameter.toLower().startsWith("charset=")) {
            charset = parameter.mid(8).trimmed();
            if (charset.size() >= 2 && charset.startsWith('"') && charset.endsWith('"'))
                charset = charset.mid(1, charset.size() - 2);
            charset = charset.toLower();
        }
    }
    if (charset == "gbk" || charset == "gb2312" || charset == "gb18030" || charset == "cp936")
        return DecodeAnsi(body);
    if (!charset.isEmpty()) {
        QStringDecoder decoder(charset.constData());
        if (decoder.isValid())
            return decoder.decode(body);
    }
    return QString::fromLatin1(body);
}
