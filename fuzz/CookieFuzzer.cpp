// The cookie store on arbitrary response headers: each line a header of a response from the address
// on the first line (or a fixed one), then the request lines for a few addresses.
#include "platform/Exception.h"
#include "update/CookieStore.h"

#include <QHash>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QList<QByteArray> lines = bytes.split('\n');
    HttpAddress from;
    try {
        from = ResolveAddress(QString::fromLatin1(lines.first()).trimmed(), std::nullopt);
    } catch (const Exception&) {
        from = ResolveAddress(QStringLiteral("http://www.example.com/dir/page.html"), std::nullopt);
    }
    HttpHeaderList headers;
    for (qsizetype i = 1; i < lines.size(); ++i)
        headers.AddLine(lines[i]);
    int64_t now = 1'000'000'000;
    CookieStore store([&now] { return now; });
    store.TakeFrom(headers, from);
    store.TakeFrom(headers, from); // a second time: replacement in place
    if (store.Cookies().size() > static_cast<size_t>(CookieStore::MaxCookies))
        std::abort();
    QHash<QString, int> perDomain;
    for (const Cookie& cookie : store.Cookies())
        if (++perDomain[cookie.Domain] > CookieStore::MaxPerDomain)
            std::abort();
    for (const char* address :
         {"http://www.example.com/", "http://example.com/dir/", "http://127.0.0.1:8080/x"}) {
        for (const QByteArray& line :
             store.RequestLines(ResolveAddress(QString::fromLatin1(address), std::nullopt)))
            if (line.contains('\n') || line.contains('\r'))
                std::abort();
    }
    static_cast<void>(store.RequestLines(from));
    now += 400'000'000; // most cookies expire
    static_cast<void>(store.RequestLines(from));
    return 0;
}
