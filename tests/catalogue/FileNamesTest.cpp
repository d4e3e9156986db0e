#include "catalogue/FileNames.h"
#include "catalogue/Utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

using namespace std::string_view_literals;

TEST(FileNames, EveryByteStringSurvivesTheRoundTrip) {
    const std::string_view names[] = {
        "plain.txt"sv,
        "\xE5\xA4\xAE\xE8\xA7\x86.txt"sv, // 央视, valid UTF-8
        "\xD1\xEB\xCA\xD3.txt"sv,         // 央视 in code page 936
        "\xF0\x9F\x93\xBA tv.txt"sv,      // a character outside the BMP
        "\xED\xA0\x80\xED\xB0\x80.txt"sv, // an encoded surrogate pair (ill-formed)
        "\xC0\xAF overlong"sv,
        "\xE5\xA4 cut short\xE5"sv,
        "\xF4\x90\x80\x80 above U+10FFFF"sv,
        "\x80\xBF\xFE\xFF"sv,
        "line\nbreak.txt"sv,
    };
    for (std::string_view bytes : names) {
        const QString name = DecodeFileName(bytes);
        const QByteArray back = EncodeFileName(name);
        EXPECT_EQ(std::string_view(back.constData(), static_cast<size_t>(back.size())), bytes) << bytes;
    }
    // Every single byte and every pair of bytes from the upper half, to cover each partial sequence.
    for (int first = 1; first < 256; ++first) {
        for (int second = 0x80; second < 256; ++second) {
            const std::string bytes{char(first), char(second)};
            ASSERT_EQ(EncodeFileName(DecodeFileName(bytes)).toStdString(), bytes) << first << " " << second;
        }
    }
}

TEST(FileNames, ValidUtf8DecodesToItsCharacters) {
    EXPECT_EQ(DecodeFileName("\xE5\xA4\xAE\xE8\xA7\x86.txt"), QStringLiteral("央视.txt"));
    EXPECT_EQ(EncodeFileName(u"央视.txt"), QByteArray("\xE5\xA4\xAE\xE8\xA7\x86.txt"));
    // Held as one lone surrogate per byte, never as U+FFFD.
    EXPECT_EQ(DecodeFileName("a\xFF"), QString::fromUtf16(u"a\xDCFF"));
}

TEST(Utf8Strict, RejectsEveryIllFormedSequence) {
    const struct {
        std::string_view bytes;
        bool valid;
    } cases[] = {
        {""sv, true},
        {"\xE6\x96\xB0\xE9\x97\xBB"sv, true},
        {"\xF0\x9F\x93\xBA"sv, true},
        {"\xF4\x8F\xBF\xBF"sv, true},
        {"\xEF\xBF\xBF"sv, true},
        {"\xC0\x80"sv, false},         // overlong NUL
        {"\xE0\x9F\xBF"sv, false},     // overlong three-byte form
        {"\xF0\x8F\xBF\xBF"sv, false}, // overlong four-byte form
        {"\xED\xA0\x80"sv, false},     // surrogate
        {"\xF4\x90\x80\x80"sv, false}, // above U+10FFFF
        {"\xE6\x96"sv, false},         // truncated at the end
        {"\xE6\x96x"sv, false},        // truncated in the middle
        {"\x80"sv, false},             // stray continuation byte
        {"\xFF"sv, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeUtf8Strict(c.bytes).has_value(), c.valid) << c.bytes;
    EXPECT_EQ(DecodeUtf8Strict("\xF0\x9F\x93\xBA"sv), QString::fromUtf16(u"\U0001F4FA"));
}

} // namespace
