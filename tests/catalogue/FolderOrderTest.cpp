#include "catalogue/FolderOrder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Each name comes strictly before the next one.
TEST(FolderOrder, NamesInTheOrderAFolderListsThem) {
    const std::vector<std::string> ordered = {
        "01.txt",
        "02.txt",
        "10.txt",
        "9.txt",     // by character, not by number
        "ANHUI.txt", // equal to the next two once upper-cased: raw bytes decide
        "Anhui.txt",
        "anhui.txt",
        "b.txt",
        "_x.txt",                       // "_" lies above the upper-case letters
        "\xC3\xA9t\xC3\xA9.txt",        // été: É (U+00C9) above every ASCII character
        "\xE2\x80\x8Bz",                // U+200B
        "\xE5\x8C\x97\xE4\xBA\xAC.txt", // 北京 (U+5317)
        "\xE5\xA4\xAE\xE8\xA7\x86.txt", // 央视 (U+592E)
        "\xF0\x9F\x93\xBA.txt",         // 📺, a surrogate pair: D83D below U+E000
        "\xEF\xBC\xA1.txt",             // full-width Ａ (U+FF21)
        "\xEF\xBD\x82.txt",             // full-width ｂ (U+FF42) upper-cases to Ｂ (U+FF22)
        "\xEF\xBC\xA3.txt",             // full-width Ｃ (U+FF23)
    };
    for (size_t i = 0; i + 1 < ordered.size(); ++i) {
        EXPECT_TRUE(FolderOrderLess(ordered[i], ordered[i + 1])) << ordered[i] << " < " << ordered[i + 1];
        EXPECT_FALSE(FolderOrderLess(ordered[i + 1], ordered[i])) << ordered[i + 1] << " !< " << ordered[i];
    }
    std::vector<std::string> shuffled(ordered.rbegin(), ordered.rend());
    std::rotate(shuffled.begin(), shuffled.begin() + 5, shuffled.end());
    std::sort(shuffled.begin(), shuffled.end(),
              [](const std::string& a, const std::string& b) { return FolderOrderLess(a, b); });
    EXPECT_EQ(shuffled, ordered);
}

TEST(FolderOrder, KeyUpperCasesEachCodeUnitAndKeepsBadBytes) {
    const std::pair<std::string, QString> cases[] = {
        {"abc.Txt", QStringLiteral("ABC.TXT")},
        {"\xEF\xBD\x82", QStringLiteral("\uFF22")},     // full-width ｂ
        {"\xC3\x9F", QStringLiteral("\u00DF")},         // ß has no single-unit upper case
        {"a\xFF", QStringLiteral("A") + QChar(0xDCFF)}, // not UTF-8: U+DC80 + byte
    };
    for (const auto& [name, key] : cases)
        EXPECT_EQ(FolderOrderKey(name), key) << name;
    EXPECT_FALSE(FolderOrderLess("same", "same"));
}

} // namespace
