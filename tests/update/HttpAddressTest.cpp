#include "update/HttpAddress.h"
#include "update/HttpErrors.h"
#include "update/HttpRequest.h"

#include "tests/support/CaseName.h"

#include <gtest/gtest.h>

namespace {

struct AddressCase {
    const char* name;
    const char* previous; // nullptr: first request of the client
    const char* text;
    const char* target;
    const char* hostHeader;
    int port;
};

void PrintTo(const AddressCase& c, std::ostream* out) {
    *out << c.name;
}

class AddressResolution : public ::testing::TestWithParam<AddressCase> {};

TEST_P(AddressResolution, GivesTargetHostAndPort) {
    const AddressCase& c = GetParam();
    std::optional<HttpAddress> previous;
    if (c.previous != nullptr)
        previous = ResolveAddress(QString::fromUtf8(c.previous), std::nullopt);
    const HttpAddress address = ResolveAddress(QString::fromUtf8(c.text), previous);
    EXPECT_EQ(address.RequestTarget(), QByteArray(c.target));
    EXPECT_EQ(address.HostHeader(), QByteArray(c.hostHeader));
    EXPECT_EQ(address.Port, c.port);
}

const AddressCase addressCases[] = {
    {"TimeStampQuery", nullptr, "http://dl.example/download/showtime.zip?20110916210509",
     "/download/showtime.zip?20110916210509", "dl.example", 80},
    {"SecondQuestionMarkKept", nullptr, "http://dl.example/showtime.zip?a=1?20110916210509",
     "/showtime.zip?a=1?20110916210509", "dl.example", 80},
    {"BackslashesOnlyBeforeQuery", nullptr, "http://dl.example:8080\\a\\b.zip?x\\y", "/a/b.zip?x\\y",
     "dl.example:8080", 8080},
    {"FragmentDropped", nullptr, "http://dl.example/a.zip?q=1#part", "/a.zip?q=1", "dl.example", 80},
    {"FragmentBeforeQuestionMark", nullptr, "http://dl.example/a.zip#x?y", "/a.zip", "dl.example", 80},
    {"CredentialsDroppedEmptyPath", nullptr, "http://user:pw@dl.example:81", "/", "dl.example:81", 81},
    {"EncodedTextKept", nullptr, "http://dl.example/a%20b/c.zip?x=%41", "/a%20b/c.zip?x=%41", "dl.example",
     80},
    {"UnsafeBytesEncoded", nullptr, "http://dl.example/a b/\xC3\xBC.zip", "/a%20b/%C3%BC.zip", "dl.example",
     80},
    {"IPv6Literal", nullptr, "http://[::1]:8080/x.zip", "/x.zip", "[::1]:8080", 8080},
    {"HttpsDefaultPort", nullptr, "https://dl.example/x", "/x", "dl.example", 443},
    {"HttpsPort80Named", nullptr, "https://dl.example:80/x", "/x", "dl.example:80", 80},
    {"RelativeStaysHttps", "https://dl.example/dir/a.zip", "b.zip", "/dir/b.zip", "dl.example", 443},
    {"RelativeDocumentMerged", "http://dl.example:81/dir/a.zip", "b.zip?1", "/dir/b.zip?1", "dl.example:81",
     81},
    {"RelativePathMerged", "http://dl.example/dir/a.zip", "sub/b.zip", "/dir/sub/b.zip", "dl.example", 80},
    {"AbsolutePathKeepsServer", "http://dl.example:81/dir/a.zip", "/top.zip", "/top.zip", "dl.example:81",
     81},
    {"NetworkPathKeepsScheme", "http://dl.example/dir/a.zip", "//mirror.example/m.zip", "/m.zip",
     "mirror.example", 80},
    {"OtherServerAbsolute", "http://dl.example:81/dir/a.zip", "http://mirror.example/m.zip", "/m.zip",
     "mirror.example", 80},
};

INSTANTIATE_TEST_SUITE_P(Table, AddressResolution, ::testing::ValuesIn(addressCases), CaseName{});

TEST(AddressResolution, RefusesWhatCannotBeFetched) {
    for (const char* text : {"showtime.zip", "http://:80/x", "http://dl.example:99999/",
                             "http://dl.example:8o/", "http://[::1/x"}) {
        SCOPED_TRACE(text);
        EXPECT_THROW(ResolveAddress(QString::fromUtf8(text), std::nullopt), InvalidAddressError);
    }
}

TEST(GetRequest, LinesInOrderAndHeaderValuesStayOnTheirLine) {
    const HttpAddress address = ResolveAddress("http://dl.example:8080/d/s.zip?20110916210509", std::nullopt);
    RequestHeaderValues values;
    EXPECT_EQ(BuildGetRequest(address, values, {"Cookie: a=1"}),
              QByteArray("GET /d/s.zip?20110916210509 HTTP/1.1\r\n"
                         "Host: dl.example:8080\r\n"
                         "Accept: text/html, */*\r\n"
                         "Accept-Encoding: identity\r\n"
                         "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
                         "Cookie: a=1\r\n"
                         "\r\n"));
    values.UserAgent = "agent\r\nX-Injected: 1";
    EXPECT_FALSE(BuildGetRequest(address, values, {}).contains("\r\nX-Injected"));
}

} // namespace
