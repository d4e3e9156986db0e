#include "update/HttpAddress.h"

#include "update/HttpErrors.h"

#include <QUrl>

namespace {

// Backslashes before the query or fragment are taken as path separators; a query may hold them.
QString WithForwardSlashes(QString text) {
    qsizetype end = text.size();
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'?' || text[i] == u'#') {
            end = i;
            break;
        }
    }
    for (qsizetype i = 0; i < end; ++i)
        if (text[i] == u'\\')
            text[i] = u'/';
    return text;
}

bool IsSchemeText(QStringView text) {
    if (text.isEmpty())
        return false;
    for (QChar c : text)
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != u'+' && c != u'-' && c != u'.')
            return false;
    return true;
}

int ParsePort(const QString& text, const QString& address) {
    bool ok = false;
    const int port = text.toInt(&ok, 10);
    if (!ok || port < 1 || port > 65535 || text.startsWith(u'+') || text.startsWith(u'-'))
        throw InvalidAddressError(address);
    return port;
}

struct Authority {
    QString host;
    bool ipv6 = false;
    std::optional<int> port;
};

Authority SplitAuthority(QString authority, const QString& address) {
    // Credentials are not used by this client: whatever stands before "@" is dropped.
    const qsizetype at = authority.lastIndexOf(u'@');
    if (at >= 0)
        authority = authority.mid(at + 1);
    Authority result;
    QString portText;
    if (authority.startsWith(u'[')) {
        const qsizetype close = authority.indexOf(u']');
        if (close < 0)
            throw InvalidAddressError(address);
        result.host = authority.mid(1, close - 1);
        result.ipv6 = true;
        const QString rest = authority.mid(close + 1);
        if (rest.startsWith(u':'))
            portText = rest.mid(1);
        else if (!rest.isEmpty())
            throw InvalidAddressError(address);
    } else {
        const qsizetype colon = authority.lastIndexOf(u':');
        result.host = colon >= 0 ? authority.left(colon) : authority;
        if (colon >= 0)
            portText = authority.mid(colon + 1);
    }
    if (!portText.isEmpty())
        result.port = ParsePort(portText, address);
    if (result.host.isEmpty())
        throw InvalidAddressError(address);
    return result;
}

// Bytes that would break the request line (controls, blanks) and characters outside US-ASCII are
// sent percent-encoded as UTF-8; everything else goes out exactly as written.
void AppendTargetText(QByteArray& out, const QString& text) {
    static const char hex[] = "0123456789ABCDEF";
    for (char byte : text.toUtf8()) {
        const auto value = static_cast<unsigned char>(byte);
        if (value > 0x20 && value < 0x7F) {
            out.append(byte);
        } else {
            out.append('%');
            out.append(hex[value >> 4]);
            out.append(hex[value & 0x0F]);
        }
    }
}

} // namespace

int DefaultPort(const QString& protocol) {
    return protocol.compare(u"https", Qt::CaseInsensitive) == 0 ? 443 : 80;
}

bool HttpAddress::IsHttps() const {
    return Protocol.compare(u"https", Qt::CaseInsensitive) == 0;
}

QByteArray HttpAddress::RequestTarget() const {
    QByteArray target;
    AppendTargetText(target, Path);
    AppendTargetText(target, Document);
    if (!Query.isEmpty()) {
        target.append('?');
        AppendTargetText(target, Query);
    }
    return target;
}

QByteArray HttpAddress::AsciiHost() const {
    for (QChar c : Host)
        if (c.unicode() >= 0x80) {
            const QByteArray ace = QUrl::toAce(Host);
            return ace.isEmpty() ? Host.toUtf8() : ace;
        }
    return Host.toLatin1();
}

QByteArray HttpAddress::HostHeader() const {
    QByteArray value = HostIsIPv6 ? "[" + AsciiHost() + "]" : AsciiHost();
    if (Port != DefaultPort(Protocol))
        value += ":" + QByteArray::number(Port);
    return value;
}

HttpAddress ResolveAddress(const QString& text, const std::optional<HttpAddress>& previous) {
    QString rest = WithForwardSlashes(text);
    const qsizetype hash = rest.indexOf(u'#');
    if (hash >= 0)
        rest.truncate(hash);

    HttpAddress address;
    std::optional<Authority> authority;
    const qsizetype schemeEnd = rest.indexOf(u"://");
    if (schemeEnd > 0 && IsSchemeText(QStringView(rest).left(schemeEnd))) {
        address.Protocol = rest.left(schemeEnd);
        rest = rest.mid(schemeEnd + 3);
    }
    if (!address.Protocol.isEmpty() || rest.startsWith(u"//")) {
        if (rest.startsWith(u"//"))
            rest = rest.mid(2);
        qsizetype end = rest.size();
        for (qsizetype i = 0; i < rest.size(); ++i)
            if (rest[i] == u'/' || rest[i] == u'?') {
                end = i;
                break;
            }
        authority = SplitAuthority(rest.left(end), text);
        rest = rest.mid(end);
    }

    const qsizetype question = rest.indexOf(u'?');
    if (question >= 0) {
        address.Query = rest.mid(question + 1);
        rest.truncate(question);
    }
    const qsizetype slash = rest.lastIndexOf(u'/');
    address.Path = rest.left(slash + 1);
    address.Document = rest.mid(slash + 1);

    if (authority) {
        if (address.Protocol.isEmpty())
            address.Protocol = previous ? previous->Protocol : QStringLiteral("http");
        address.Host = authority->host;
        address.HostIsIPv6 = authority->ipv6;
        address.Port = authority->port.value_or(DefaultPort(address.Protocol));
        if (!address.Path.startsWith(u'/'))
            address.Path.prepend(u'/');
        return address;
    }
    // A reference without a host belongs to the server of the previous request.
    if (!previous)
        throw InvalidAddressError(text);
    address.Protocol = previous->Protocol;
    address.Host = previous->Host;
    address.HostIsIPv6 = previous->HostIsIPv6;
    address.Port = previous->Port;
    if (!address.Path.startsWith(u'/'))
        address.Path.prepend(previous->Path);
    if (!address.Path.startsWith(u'/'))
        address.Path.prepend(u'/');
    return address;
}
