// The text the listing memo is given.
#include "ui/ListingMemo.h"

#include "catalogue/ListingFile.h"

#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

// The memo holds the lines SplitListingLines cuts, below the title: every n-th line (the title is
// the first) starts a block after a LF, the others follow a line separator.
TEST(ListingWithTitle, TheListingsLinesInBlocks) {
    const struct {
        const char* what;
        const char16_t* text;
    } cases[] = {
        {"empty", u""},
        {"mixed breaks", u"a\r\nb\nc\rd"},
        {"LF CR ends two lines", u"a\n\rb"},
        {"final break adds no line", u"a\r\nb\r\n"},
        {"final lone CR adds no line", u"a\r"},
        {"empty lines are kept", u"\r\n\r\n"},
        {"CR CR LF", u"a\r\r\nb"},
        {"a listing", u"2026-12-10 星期四\r\n08:00 新闻\r\n09:30 天气\r\n19:00 新闻联播"},
    };
    for (const auto& c : cases) {
        const QString text = QString::fromUtf16(c.text);
        const QStringList lines = SplitListingLines(text);
        for (const qsizetype linesPerBlock : {1, 2, 3}) {
            QString blocks = u"【T】"_qs;
            for (qsizetype i = 0; i < lines.size(); ++i)
                blocks +=
                    ((i + 1) % linesPerBlock == 0 ? QChar(u'\n') : QChar(QChar::LineSeparator)) + lines[i];
            EXPECT_EQ(ListingWithTitle(u"【T】", text, linesPerBlock), blocks)
                << c.what << ", " << linesPerBlock << " lines a block";
        }
    }
}

} // namespace
