#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <iconv.h>
#include <string>
#include <string_view>

namespace {

using namespace std::string_view_literals;

// The code page 936 bytes of a text, made by the system's converter, not by the code under test.
std::string EncodeGbk(const QString& text) {
    const iconv_t handle = ::iconv_open("CP936", "UTF-8");
    if (handle == reinterpret_cast<iconv_t>(-1))
        return {};
    QByteArray utf8 = text.toUtf8();
    std::string out(static_cast<size_t>(utf8.size()) * 2, '\0');
    char* in = utf8.data();
    size_t inLeft = static_cast<size_t>(utf8.size());
    char* outPtr = out.data();
    size_t outLeft = out.size();
    const size_t rc = ::iconv(handle, &in, &inLeft, &outPtr, &outLeft);
    ::iconv_close(handle);
    if (rc == static_cast<size_t>(-1))
        return {};
    out.resize(out.size() - outLeft);
    return out;
}

// Whether this system's code page 936 maps 0x80 to the euro sign, as Windows does.
bool SystemHasTheEuroAt0x80() {
    return EncodeGbk(QStringLiteral("€")) == "\x80"sv;
}

const QString kReplacement(QChar(0xFFFD));

TEST(DecodeAnsi, DecodesGbkAndReplacesEveryBadByteThenGoesOn) {
    const std::string listing = EncodeGbk(QStringLiteral("06:00 朝闻天下"));
    ASSERT_EQ(listing.size(), 6u + 4 * 2);
    const std::string zhong = EncodeGbk(QStringLiteral("中"));
    ASSERT_EQ(zhong.size(), 2u);
    const struct {
        const char* why;
        std::string bytes;
        QString expected;
    } cases[] = {
        {"empty", "", QString()},
        {"listing line", listing, QStringLiteral("06:00 朝闻天下")},
        {"byte that starts nothing",
         "\xFF"
         "abc",
         kReplacement + QStringLiteral("abc")},
        {"lead byte before a blank", "a\x81 b", QStringLiteral("a") + kReplacement + QStringLiteral(" b")},
        {"bad byte between good text", listing + "\xFF" + listing,
         QStringLiteral("06:00 朝闻天下") + kReplacement + QStringLiteral("06:00 朝闻天下")},
        {"last lead byte cut off", "ab" + zhong.substr(0, 1), QStringLiteral("ab") + kReplacement},
        {"only a lead byte", zhong.substr(0, 1), kReplacement},
        {"run of bad bytes", std::string(3, '\xFF'), kReplacement.repeated(3)},
        {"0x80", "\x80", SystemHasTheEuroAt0x80() ? QStringLiteral("€") : kReplacement},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(DecodeAnsi(std::string_view(c.bytes)), c.expected);
    }
}

TEST(DecodeAnsi, LongInputsKeepTheirLength) {
    const QString line = QStringLiteral("19:30 新闻联播 CCTV-1\r\n");
    const std::string text = EncodeGbk(line.repeated(20000));
    EXPECT_EQ(DecodeAnsi(std::string_view(text)), line.repeated(20000));
    EXPECT_EQ(DecodeAnsi(std::string(50001, '\xFF')), kReplacement.repeated(50001));
}

// Every pair of bytes: nothing is lost or overrun, and the second byte survives whenever it is plain
// ASCII text that cannot be a trail byte.
TEST(DecodeAnsi, EveryPairOfBytesDecodes) {
    for (int first = 0; first < 256; ++first) {
        for (int second = 0; second < 256; ++second) {
            const char bytes[] = {char(first), char(second)};
            const QString decoded = DecodeAnsi(std::string_view(bytes, 2));
            ASSERT_GE(decoded.size(), 1) << first << " " << second;
            ASSERT_LE(decoded.size(), 2) << first << " " << second;
            if (second >= 0x20 && second < 0x40) {
                ASSERT_EQ(decoded.back(), QChar(second)) << first << " " << second;
            }
        }
    }
}

} // namespace
