#pragma once

#include "update/HttpAddress.h"
#include "update/HttpResponse.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <list>
#include <optional>
#include <vector>

// One stored cookie. Name and value are kept exactly as the server wrote them.
struct Cookie final {
    QByteArray Name;
    QByteArray Value;
    QString Domain; // lower case; starts with "." when it came from a Domain attribute
    bool DomainGiven = false;
    QString Path;
    bool PathGiven = false;
    std::optional<int64_t> ExpiresAt; // seconds since the epoch (UTC); none: kept until the program ends
    bool Secure = false;
    int Version = 0;             // 0: a Netscape-style cookie without Version
    bool FromSetCookie2 = false; // stored by RFC 2965 rules, sent on a "Cookie2" line
    bool PortGiven = false;
    QByteArray PortText; // the Port attribute's list as written (RFC 2965)
    QList<int> Ports;
};

// The client's cookies, in memory only: "Set-Cookie" by RFC 2109, "Set-Cookie2" by RFC 2965,
// each stored for the address of the response that carried it. Capped as browsers cap theirs, so
// that a server cannot grow the store, and every request, without end: at most MaxPerDomain cookies
// per domain and MaxCookies in all, the oldest going first.
class CookieStore final {
public:
    static constexpr int MaxPerDomain = 50;
    static constexpr int MaxCookies = 3000;

    // Seconds since the epoch; a seam for tests of expiry.
    using Clock = std::function<int64_t()>;
    explicit CookieStore(Clock clock = {});

    void TakeFrom(const HttpHeaderList& headers, const HttpAddress& address);

    // Drops expired cookies and returns the header lines to send to `address`, in store order.
    QList<QByteArray> RequestLines(const HttpAddress& address);

    // A copy, in store order: the order of first arrival.
    std::vector<Cookie> Cookies() const { return {cookies_.begin(), cookies_.end()}; }

private:
    using Entry = std::list<Cookie>::iterator;
    void Store(Cookie cookie, bool expired);
    void Remove(Entry entry);
    void DropExpired();
    int64_t Now() const;

    Clock clock_;
    std::list<Cookie> cookies_;
    // Name, domain and path to the cookie, so that storing stays linear however many come.
    QHash<QByteArray, Entry> index_;
    // Each domain's cookies in the order they came.
    QHash<QString, std::vector<Entry>> byDomain_;
};

// Parses an HTTP date (RFC 1123, RFC 850, asctime, and the Netscape cookie form) into seconds since
// the epoch; none when it cannot be read.
std::optional<int64_t> ParseHttpDate(const QByteArray& text);
