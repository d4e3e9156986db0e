#include "update/CookieStore.h"

#include "tests/support/CaseName.h"

#include <gtest/gtest.h>

namespace {

HttpAddress At(const QString& address) {
    return ResolveAddress(address, std::nullopt);
}
HttpAddress At(const char* address) {
    return At(QString::fromUtf8(address));
}

HttpHeaderList Headers(std::initializer_list<const char*> lines) {
    HttpHeaderList headers;
    for (const char* line : lines)
        headers.AddLine(line);
    return headers;
}

HttpHeaderList Headers(const QList<QByteArray>& lines) {
    HttpHeaderList headers;
    for (const QByteArray& line : lines)
        headers.AddLine(line);
    return headers;
}

struct CookieCase {
    const char* name;
    std::initializer_list<const char*> response;
    const char* from;
    const char* to;
    std::initializer_list<const char*> sent;
};

void PrintTo(const CookieCase& c, std::ostream* out) {
    *out << c.name;
}

class CookieSending : public ::testing::TestWithParam<CookieCase> {};

TEST_P(CookieSending, LinesForTheNextRequest) {
    const CookieCase& c = GetParam();
    CookieStore store;
    store.TakeFrom(Headers(c.response), At(c.from));
    QList<QByteArray> expected;
    for (const char* line : c.sent)
        expected.append(line);
    EXPECT_EQ(store.RequestLines(At(c.to)), expected);
}

const char* const v1 = "Cookie2: $Version=\"1\"";

const CookieCase cookieCases[] = {
    {"NetscapeStyleSentBack",
     {"Set-Cookie: sid=abc"},
     "http://a.example/dl/x.zip",
     "http://a.example/dl/y.zip",
     {"Cookie: sid=abc", v1}},
    {"DefaultPathLimitsIt",
     {"Set-Cookie: sid=abc"},
     "http://a.example/dl/x.zip",
     "http://a.example/other",
     {}},
    {"PathAttributeWidensIt",
     {"Set-Cookie: sid=abc; Path=/"},
     "http://a.example/dl/x.zip",
     "http://a.example/other",
     {"Cookie: sid=abc", v1}},
    {"OtherHostGetsNothing", {"Set-Cookie: sid=abc; Path=/"}, "http://a.example/", "http://b.example/", {}},
    {"DomainCoversSubdomains",
     {"Set-Cookie: sid=abc; Domain=.example.com; Path=/"},
     "http://www.example.com/",
     "http://img.example.com/",
     {"Cookie: sid=abc", v1}},
    {"DomainWithoutDotsRejected",
     {"Set-Cookie: sid=abc; Domain=.com; Path=/"},
     "http://www.example.com/",
     "http://www.example.com/",
     {}},
    {"DomainTooFarUpRejected",
     {"Set-Cookie: sid=abc; Domain=.example.com; Path=/"},
     "http://a.b.example.com/",
     "http://a.b.example.com/",
     {}},
    {"ForeignPathRejected",
     {"Set-Cookie: sid=abc; Path=/elsewhere"},
     "http://a.example/dl/x.zip",
     "http://a.example/elsewhere/",
     {}},
    {"SecureAndEmptyNotSent",
     {"Set-Cookie: s=1; Secure; Path=/", "Set-Cookie: e=; Path=/"},
     "http://a.example/",
     "http://a.example/",
     {}},
    {"SecureGoesOverHttps",
     {"Set-Cookie: s=1; Secure; Path=/"},
     "https://a.example/",
     "https://a.example/x",
     {"Cookie: s=1", v1}},
    {"SecureNeverOverHttp",
     {"Set-Cookie: s=1; Secure; Path=/"},
     "https://a.example/",
     "http://a.example/x",
     {}},
    {"VersionedRfc2109Form",
     {"Set-Cookie: sid=\"abc\"; Version=1; Path=/"},
     "http://a.example/",
     "http://a.example/x",
     {"Cookie: $Version=\"1\"; sid=\"abc\"; $Path=\"/\"", v1}},
    {"Rfc2965OnCookie2Line",
     {"Set-Cookie2: sid=abc; Version=1; Path=/"},
     "http://a.example/",
     "http://a.example/x",
     {"Cookie2: $Version=\"1\"; sid=abc; $Path=\"/\""}},
    {"Rfc2965DefaultPathKeepsSlash",
     {"Set-Cookie2: sid=abc; Version=1"},
     "http://a.example/dl/x.zip",
     "http://a.example/dl/y.zip",
     {"Cookie2: $Version=\"1\"; sid=abc"}},
    {"Rfc2965ListOfCookies",
     {"Set-Cookie2: a=1; Version=1; Path=/, b=\"x,y\"; Version=1; Path=/"},
     "http://a.example/",
     "http://a.example/",
     {"Cookie2: $Version=\"1\"; a=1; $Path=\"/\"", "Cookie2: $Version=\"1\"; b=\"x,y\"; $Path=\"/\""}},
    {"Rfc2965PortListed",
     {"Set-Cookie2: a=1; Version=1; Path=/; Port=\"81,82\""},
     "http://a.example:81/",
     "http://a.example:82/",
     {"Cookie2: $Version=\"1\"; a=1; $Path=\"/\"; $Port=\"81,82\""}},
    {"Rfc2965PortNotListed",
     {"Set-Cookie2: a=1; Version=1; Path=/; Port=\"81\""},
     "http://a.example:81/",
     "http://a.example:83/",
     {}},
    {"Rfc2965WinsOverSameName",
     {"Set-Cookie: a=old; Path=/", "Set-Cookie2: a=new; Version=1; Path=/"},
     "http://a.example/",
     "http://a.example/",
     {"Cookie2: $Version=\"1\"; a=new; $Path=\"/\""}},
    {"MixedStoresInOrder",
     {"Set-Cookie: n=1; Path=/", "Set-Cookie2: r=2; Version=1; Path=/"},
     "http://a.example/",
     "http://a.example/",
     {"Cookie2: $Version=\"1\"; r=2; $Path=\"/\"", "Cookie: n=1"}},
    {"ExpiresWithCommaKept",
     {"Set-Cookie: a=1; Expires=Wed, 09-Jun-2100 10:18:14 GMT; Path=/"},
     "http://a.example/",
     "http://a.example/",
     {"Cookie: a=1", v1}},
    // A control character would land inside a request header line.
    {"ControlCharactersRejected",
     {"Set-Cookie: a=x\ry; Path=/", "Set-Cookie: b=1; Path=/\x01", "Set-Cookie: c=ok"},
     "http://a.example/",
     "http://a.example/",
     {"Cookie: c=ok", v1}},
    {"IpHostExactOnly",
     {"Set-Cookie: a=1; Path=/"},
     "http://127.0.0.1:8080/",
     "http://127.0.0.1:9090/",
     {"Cookie: a=1", v1}},
};

INSTANTIATE_TEST_SUITE_P(Table, CookieSending, ::testing::ValuesIn(cookieCases), CaseName{});

TEST(CookieStore, ExpiryByMaxAgeAndExpiresWithReplacementInPlace) {
    int64_t now = 1'000'000;
    CookieStore store([&now] { return now; });
    const HttpAddress site = At("http://a.example/");
    store.TakeFrom(Headers({"Set-Cookie: a=1; Max-Age=10; Path=/", "Set-Cookie: b=2; Path=/"}), site);
    store.TakeFrom(Headers({"Set-Cookie: a=3; Max-Age=10; Path=/"}), site);
    EXPECT_EQ(store.RequestLines(site),
              QList<QByteArray>({"Cookie: a=3", "Cookie: b=2", "Cookie2: $Version=\"1\""}));

    now += 10;
    EXPECT_EQ(store.RequestLines(site), QList<QByteArray>({"Cookie: b=2", "Cookie2: $Version=\"1\""}));
    EXPECT_EQ(store.Cookies().size(), 1u);

    // A date in the past removes the cookie; Max-Age=0 does too.
    store.TakeFrom(Headers({"Set-Cookie: b=gone; Expires=Thu, 01 Jan 1970 00:00:01 GMT; Path=/",
                            "Set-Cookie: c=never; Max-Age=0; Path=/"}),
                   site);
    EXPECT_TRUE(store.Cookies().empty());
}

TEST(CookieStore, OneSetCookieCarriesSeveralCookiesSeparatedByCommas) {
    const HttpAddress site = At("http://a.example/");
    CookieStore store([] { return int64_t{1'000'000}; });
    store.TakeFrom(Headers({"Set-Cookie: a=1; Expires=Wed, 09-Jun-2100 10:18:14 GMT; Path=/, b=2;path=/,"
                            "c=\"x,y\"; Path=/ ,d=gone; expires=Thursday, 01-Jan-70 00:00:01 GMT,"
                            "e=5; Expires=Sun Nov  6 08:49:37 2100"}),
                   site);
    EXPECT_EQ(store.RequestLines(site), QList<QByteArray>({"Cookie: a=1", "Cookie: b=2", "Cookie: c=\"x,y\"",
                                                           "Cookie: e=5", "Cookie2: $Version=\"1\""}));
    ASSERT_EQ(store.Cookies().size(), 4u);
    EXPECT_EQ(store.Cookies()[0].ExpiresAt, ParseHttpDate("Wed, 09-Jun-2100 10:18:14 GMT"));
    EXPECT_EQ(store.Cookies()[1].Path, QStringLiteral("/"));
    EXPECT_EQ(store.Cookies()[3].ExpiresAt, ParseHttpDate("Sun Nov  6 08:49:37 2100"));
}

// A flood of cookies is capped as browsers cap it: the oldest go first, per domain and overall.
TEST(CookieStore, FloodsAreCappedOldestFirst) {
    CookieStore store;
    const auto flood = [&store](const QString& host, int from, int count) {
        QList<QByteArray> lines;
        for (int i = from; i < from + count; ++i)
            lines.append("Set-Cookie: c" + QByteArray::number(i) + "=v; Path=/");
        store.TakeFrom(Headers(lines), At(QStringLiteral("http://%1/").arg(host)));
    };
    flood(QStringLiteral("one.example"), 0, 60);
    QList<QByteArray> lines = store.RequestLines(At("http://one.example/"));
    ASSERT_EQ(lines.size(), CookieStore::MaxPerDomain + 1);
    EXPECT_EQ(lines.first(), "Cookie: c10=v") << "the ten oldest went";
    EXPECT_EQ(lines[CookieStore::MaxPerDomain - 1], "Cookie: c59=v");

    // Replacing a cookie keeps its age; a new one then pushes out the oldest.
    flood(QStringLiteral("one.example"), 10, 1);
    flood(QStringLiteral("one.example"), 60, 1);
    lines = store.RequestLines(At("http://one.example/"));
    EXPECT_EQ(lines.first(), "Cookie: c11=v");
    EXPECT_FALSE(lines.contains("Cookie: c10=v"));
    EXPECT_EQ(lines[CookieStore::MaxPerDomain - 1], "Cookie: c60=v");

    // Sixty-one domains of fifty: the first domain's cookies are the oldest overall and go.
    for (int host = 0; host < 60; ++host)
        flood(QStringLiteral("h%1.example").arg(host), 0, CookieStore::MaxPerDomain);
    EXPECT_EQ(store.Cookies().size(), static_cast<size_t>(CookieStore::MaxCookies));
    EXPECT_TRUE(store.RequestLines(At("http://one.example/")).isEmpty());
    EXPECT_EQ(store.RequestLines(At("http://h0.example/")).size(), CookieStore::MaxPerDomain + 1);
}

TEST(CookieStore, HttpDateForms) {
    const int64_t expected = 784111777; // Sun, 06 Nov 1994 08:49:37 GMT
    for (const char* text : {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
                             "Sun Nov  6 08:49:37 1994", "Sun, 06-Nov-1994 08:49:37 GMT"})
        EXPECT_EQ(ParseHttpDate(text), expected) << text;
    for (const char* text : {"", "tomorrow", "Sun, 31 Feb 1994 08:49:37 GMT", "06 Nov 1994"})
        EXPECT_EQ(ParseHttpDate(text), std::nullopt) << text;
}

} // namespace
