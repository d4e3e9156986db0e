#include "update/CookieStore.h"

#include <QDateTime>
#include <QSet>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <limits>

namespace {

struct Attribute {
    QByteArray name;  // lower case
    QByteArray value; // quotes removed
    bool hasValue = false;
};

struct ParsedCookie {
    QByteArray name;
    QByteArray value;
    QList<Attribute> attributes;
};

// Splits at `separator` outside double quotes.
QList<QByteArray> SplitOutsideQuotes(const QByteArray& text, char separator) {
    QList<QByteArray> parts;
    QByteArray current;
    bool quoted = false;
    for (char c : text) {
        if (c == '"')
            quoted = !quoted;
        if (c == separator && !quoted) {
            parts.append(current);
            current.clear();
        } else {
            current.append(c);
        }
    }
    parts.append(current);
    return parts;
}

bool IsLettersOnly(const QByteArray& text) {
    return !text.isEmpty() && std::all_of(text.begin(), text.end(),
                                          [](char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; });
}

// Splits a "Set-Cookie" value into its cookies: RFC 2109 separates them with commas. The comma after
// the weekday of a Netscape-style Expires date ("Expires=Wed, 09-Jun-2021 10:18:14 GMT") belongs to
// the date, as do commas inside double quotes.
QList<QByteArray> SplitSetCookieList(const QByteArray& header) {
    QList<QByteArray> cookies;
    QByteArray current;
    qsizetype attributeStart = 0; // where the current attribute begins in `current`
    bool quoted = false;
    for (char c : header) {
        if (c == '"')
            quoted = !quoted;
        if (c == ',' && !quoted) {
            const QByteArray attribute = current.mid(attributeStart).trimmed();
            const qsizetype equals = attribute.indexOf('=');
            const bool weekdayOfADate = equals > 0 &&
                                        attribute.left(equals).trimmed().toLower() == "expires" &&
                                        IsLettersOnly(attribute.mid(equals + 1).trimmed());
            if (!weekdayOfADate) {
                cookies.append(current);
                current.clear();
                attributeStart = 0;
                continue;
            }
        }
        current.append(c);
        if (c == ';' && !quoted)
            attributeStart = current.size();
    }
    cookies.append(current);
    return cookies;
}

QByteArray Unquoted(QByteArray text) {
    text = text.trimmed();
    if (text.size() >= 2 && text.startsWith('"') && text.endsWith('"'))
        return text.mid(1, text.size() - 2);
    return text;
}

std::optional<ParsedCookie> ParseCookie(const QByteArray& text) {
    const QList<QByteArray> parts = SplitOutsideQuotes(text, ';');
    const qsizetype equals = parts[0].indexOf('=');
    if (equals <= 0)
        return std::nullopt;
    ParsedCookie cookie;
    cookie.name = parts[0].left(equals).trimmed();
    cookie.value = parts[0].mid(equals + 1).trimmed();
    if (cookie.name.isEmpty() || cookie.name.startsWith('$'))
        return std::nullopt;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray part = parts[i].trimmed();
        if (part.isEmpty())
            continue;
        const qsizetype eq = part.indexOf('=');
        Attribute attribute;
        attribute.name = (eq < 0 ? part : part.left(eq)).trimmed().toLower();
        attribute.hasValue = eq >= 0;
        attribute.value = eq < 0 ? QByteArray() : Unquoted(part.mid(eq + 1));
        cookie.attributes.append(attribute);
    }
    return cookie;
}

bool IsIpAddress(const QString& host) {
    const QByteArray text = host.toLatin1();
    unsigned char address[16];
    return ::inet_pton(AF_INET, text.constData(), address) == 1 ||
           ::inet_pton(AF_INET6, text.constData(), address) == 1;
}

// RFC 2965 treats a host name without dots as if it ended in ".local".
QString EffectiveHost(const QString& host, bool rfc2965) {
    QString lowered = host.toLower();
    if (rfc2965 && !lowered.contains(u'.') && !IsIpAddress(host))
        return lowered + QStringLiteral(".local");
    return lowered;
}

// RFC 2109 section 2 / RFC 2965 section 1: identical, or the host ends in a domain that starts
// with a dot. IP addresses match only themselves.
bool DomainMatches(const QString& host, const QString& domain) {
    if (host == domain)
        return true;
    if (IsIpAddress(host) || !domain.startsWith(u'.'))
        return false;
    return host.endsWith(domain) && host.size() > domain.size();
}

// The default path: the request path up to its last "/" (RFC 2965 keeps the slash, RFC 2109 not).
QString DefaultPath(const HttpAddress& address, bool rfc2965) {
    QString path = address.Path;
    if (!rfc2965 && path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path.isEmpty() ? QStringLiteral("/") : path;
}

QList<int> PortList(const QByteArray& text, bool& ok) {
    QList<int> ports;
    ok = true;
    for (const QByteArray& item : text.split(',')) {
        const int port = item.trimmed().toInt(&ok);
        if (!ok)
            return {};
        ports.append(port);
    }
    return ports;
}

int64_t SaturatingAdd(int64_t a, int64_t b) {
    if (b > 0 && a > std::numeric_limits<int64_t>::max() - b)
        return std::numeric_limits<int64_t>::max();
    return a + b;
}

// A control character would end up inside a request header line.
bool HasControlCharacter(const QByteArray& text) {
    for (char c : text)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F)
            return true;
    return false;
}

// Builds a cookie from one parsed entry and the address it came with; none when the RFC's
// rules reject it. `expired` tells that it asks to be removed (Max-Age=0, a past Expires).
std::optional<Cookie> MakeCookie(const ParsedCookie& parsed, const HttpAddress& address, bool rfc2965,
                                 int64_t now, bool& expired) {
    Cookie cookie;
    cookie.Name = parsed.name;
    cookie.Value = parsed.value;
    cookie.FromSetCookie2 = rfc2965;
    cookie.Version = rfc2965 ? 1 : 0;
    std::optional<int64_t> maxAge;
    std::optional<int64_t> expires;
    for (const Attribute& attribute : parsed.attributes) {
        if (attribute.name == "domain" && !attribute.value.isEmpty()) {
            cookie.Domain = QString::fromLatin1(attribute.value).toLower();
            cookie.DomainGiven = true;
        } else if (attribute.name == "path" && attribute.hasValue) {
            cookie.Path = QString::fromLatin1(attribute.value);
            cookie.PathGiven = true;
        } else if (attribute.name == "max-age") {
            bool ok = false;
            const qlonglong seconds = attribute.value.toLongLong(&ok);
            if (ok)
                maxAge = seconds;
        } else if (attribute.name == "expires" && !rfc2965) {
            expires = ParseHttpDate(attribute.value);
        } else if (attribute.name == "secure") {
            cookie.Secure = true;
        } else if (attribute.name == "version") {
            bool ok = false;
            const int version = attribute.value.toInt(&ok);
            if (ok)
                cookie.Version = version;
        } else if (attribute.name == "port" && rfc2965) {
            cookie.PortGiven = true;
            cookie.PortText = attribute.value;
            bool ok = true;
            cookie.Ports = attribute.hasValue ? PortList(attribute.value, ok) : QList<int>{address.Port};
            if (!ok || !cookie.Ports.contains(address.Port))
                return std::nullopt;
        }
    }

    if (HasControlCharacter(cookie.Name + cookie.Value + cookie.Path.toLatin1() + cookie.Domain.toLatin1() +
                            cookie.PortText))
        return std::nullopt;
    const QString host = EffectiveHost(address.Host, rfc2965);
    const QString requestPath = address.FullPath();
    if (cookie.PathGiven && !requestPath.startsWith(cookie.Path))
        return std::nullopt;
    if (!cookie.PathGiven)
        cookie.Path = DefaultPath(address, rfc2965);
    if (cookie.DomainGiven) {
        if (IsIpAddress(address.Host)) {
            // An IP host can only name itself.
            if (QStringView(cookie.Domain).mid(cookie.Domain.startsWith(u'.') ? 1 : 0) != host)
                return std::nullopt;
            cookie.Domain = host;
        } else {
            if (!cookie.Domain.startsWith(u'.'))
                cookie.Domain.prepend(u'.');
            const bool embeddedDot = cookie.Domain.indexOf(u'.', 1) > 0;
            if (!embeddedDot && !(rfc2965 && cookie.Domain == u".local"))
                return std::nullopt;
            if (!DomainMatches(host, cookie.Domain))
                return std::nullopt;
            // The host may not reach more than one label above the domain.
            if (host.left(host.size() - cookie.Domain.size()).contains(u'.'))
                return std::nullopt;
        }
    } else {
        cookie.Domain = host;
    }

    if (maxAge) {
        cookie.ExpiresAt = SaturatingAdd(now, *maxAge);
        expired = *maxAge <= 0;
    } else if (expires) {
        cookie.ExpiresAt = *expires;
        expired = *expires <= now;
    }
    return cookie;
}

// Name, domain and path identify a cookie; a NUL cannot stand in any of them.
QByteArray KeyOf(const Cookie& cookie) {
    return cookie.Name + '\0' + cookie.Domain.toUtf8() + '\0' + cookie.Path.toUtf8();
}

bool ShouldSend(const Cookie& cookie, const HttpAddress& address) {
    // A cookie marked Secure goes only over TLS, where no one on the way reads it.
    if ((cookie.Secure && !address.IsHttps()) || cookie.Value.isEmpty())
        return false;
    const QString host = EffectiveHost(address.Host, cookie.FromSetCookie2);
    const bool domainOk = cookie.DomainGiven ? DomainMatches(host, cookie.Domain) : host == cookie.Domain;
    if (!domainOk || !address.FullPath().startsWith(cookie.Path))
        return false;
    return !cookie.FromSetCookie2 || !cookie.PortGiven || cookie.Ports.contains(address.Port);
}

QByteArray Quoted(const QString& text) {
    return '"' + text.toLatin1() + '"';
}

// RFC 2109 section 4.3.4 and RFC 2965 section 3.3.4; a cookie without Version goes out bare.
QByteArray CookieLine(const Cookie& cookie) {
    QByteArray value = cookie.Name + '=' + cookie.Value;
    if (cookie.Version == 0 && !cookie.FromSetCookie2)
        return "Cookie: " + value;
    QByteArray line = (cookie.FromSetCookie2 ? "Cookie2: " : "Cookie: ") + QByteArray("$Version=\"") +
                      QByteArray::number(cookie.Version) + "\"; " + value;
    if (cookie.PathGiven)
        line += "; $Path=" + Quoted(cookie.Path);
    if (cookie.DomainGiven)
        line += "; $Domain=" + Quoted(cookie.Domain);
    if (cookie.PortGiven)
        line += cookie.PortText.isEmpty() ? QByteArray("; $Port") : "; $Port=\"" + cookie.PortText + '"';
    return line;
}

int MonthOf(const QByteArray& token) {
    static const char* const names[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
    const QByteArray lowered = token.left(3).toLower();
    for (int i = 0; i < 12; ++i)
        if (lowered == names[i])
            return i + 1;
    return 0;
}

} // namespace

std::optional<int64_t> ParseHttpDate(const QByteArray& text) {
    int day = 0, month = 0, year = -1;
    QTime time;
    QByteArray normalised = text;
    for (char& c : normalised)
        if (c == ',' || c == '-')
            c = ' ';
    for (const QByteArray& token : normalised.simplified().split(' ')) {
        if (token.contains(':')) {
            time = QTime::fromString(QString::fromLatin1(token), QStringLiteral("H:m:s"));
        } else if (month == 0 && MonthOf(token) != 0) {
            month = MonthOf(token);
        } else {
            bool ok = false;
            const int number = token.toInt(&ok);
            if (!ok)
                continue;
            if (token.size() <= 2 && day == 0)
                day = number;
            else
                year = number;
        }
    }
    if (year >= 0 && year < 70)
        year += 2000;
    else if (year >= 70 && year < 100)
        year += 1900;
    const QDate date(year, month, day);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, Qt::UTC).toSecsSinceEpoch();
}

CookieStore::CookieStore(Clock clock) : clock_(std::move(clock)) {}

int64_t CookieStore::Now() const {
    if (clock_)
        return clock_();
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void CookieStore::Store(Cookie cookie, bool expired) {
    const QByteArray key = KeyOf(cookie);
    if (const auto found = index_.constFind(key); found != index_.constEnd()) {
        // Replaced in place, so the store order stays the order of first arrival.
        if (expired)
            Remove(found.value());
        else
            *found.value() = std::move(cookie);
        return;
    }
    if (expired)
        return;
    const Entry entry = cookies_.insert(cookies_.end(), std::move(cookie));
    index_.insert(key, entry);
    std::vector<Entry>& domain = byDomain_[entry->Domain];
    domain.push_back(entry);
    if (domain.size() > static_cast<size_t>(MaxPerDomain))
        Remove(domain.front());
    if (cookies_.size() > static_cast<size_t>(MaxCookies))
        Remove(cookies_.begin());
}

void CookieStore::Remove(Entry entry) {
    index_.remove(KeyOf(*entry));
    const auto domain = byDomain_.find(entry->Domain);
    std::erase(domain.value(), entry);
    if (domain.value().empty())
        byDomain_.erase(domain);
    cookies_.erase(entry);
}

void CookieStore::TakeFrom(const HttpHeaderList& headers, const HttpAddress& address) {
    const int64_t now = Now();
    QSet<QByteArray> rfc2965Names;
    for (const QByteArray& header : headers.Values("Set-Cookie2")) {
        for (const QByteArray& entry : SplitOutsideQuotes(header, ',')) {
            const auto parsed = ParseCookie(entry);
            if (!parsed)
                continue;
            rfc2965Names.insert(parsed->name);
            bool expired = false;
            if (auto cookie = MakeCookie(*parsed, address, true, now, expired))
                Store(std::move(*cookie), expired);
        }
    }
    for (const QByteArray& header : headers.Values("Set-Cookie")) {
        for (const QByteArray& entry : SplitSetCookieList(header)) {
            const auto parsed = ParseCookie(entry);
            if (!parsed || rfc2965Names.contains(parsed->name))
                continue;
            bool expired = false;
            if (auto cookie = MakeCookie(*parsed, address, false, now, expired))
                Store(std::move(*cookie), expired);
        }
    }
}

void CookieStore::DropExpired() {
    const int64_t now = Now();
    for (auto it = cookies_.begin(); it != cookies_.end();) {
        const Entry entry = it++;
        if (entry->ExpiresAt && *entry->ExpiresAt <= now)
            Remove(entry);
    }
}

QList<QByteArray> CookieStore::RequestLines(const HttpAddress& address) {
    DropExpired();
    QList<QByteArray> lines;
    bool anyFromSetCookie2 = false;
    for (const Cookie& cookie : cookies_) {
        if (!ShouldSend(cookie, address))
            continue;
        lines.append(CookieLine(cookie));
        anyFromSetCookie2 = anyFromSetCookie2 || cookie.FromSetCookie2;
    }
    // Tells the server that this client understands RFC 2965 cookies (section 3.3.5).
    if (!lines.isEmpty() && !anyFromSetCookie2)
        lines.append("Cookie2: $Version=\"1\"");
    return lines;
}
