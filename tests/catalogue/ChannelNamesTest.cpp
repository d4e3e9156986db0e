#include "catalogue/ChannelNames.h"
#include "catalogue/CatalogueWalk.h"

#include <gtest/gtest.h>

namespace {

struct NameCase {
    const char16_t* fileName;
    const char16_t* displayName;
};

TEST(ChannelDisplayName, AppliesTheRowsInOrderOverEachOthersOutput) {
    const NameCase cases[] = {
        {u"01.txt", u"ZORQ-1 中央"},
        {u"04.txt", u"ZORQ-4台"},
        {u"04(亚洲).txt", u"ZORQ-4 中文国际(亚)"},
        {u"04(美洲).txt", u"ZORQ-4 中文国际(美)"},
        {u"07.txt", u"ZORQ-7 军事/农业"},
        {u"09(英).txt", u"ZORQ-9 纪录(英)"},
        {u"09.txt", u"ZORQ-9 纪录"},
        // Rows that act on text an earlier row inserted.
        {u"13.txt", u"ZORQ-13 ZORQ-13 新闻"},
        {u"14.txt", u"ZORQ-14 ZORQ-少儿台"},
        {u"15.txt", u"ZORQ-15 ZORQ-音乐台"},
        {u"News.TXT", u"ZORQ-NEWS"},
        // A row's own replacement is not searched again by that row.
        {u"新闻联播.txt", u"ZORQ-13 新闻联播"},
        {u"新闻新闻", u"ZORQ-13 新闻ZORQ-13 新闻"},
        // A removal can join text that a later row matches.
        {u"yundongfangnan.txt", u""},
        // Matches do not overlap: the second "guangdong" would need the first one's last letter.
        {u"guangdonguangdong", u"uangdong"},
        {u"shanxitai卫视.txt", u"卫视"},
        {u"shanxi卫视.txt", u"卫视"},
        {u"北京电视台.txt", u"北京"},
        {u"anhui卫视.txt", u"卫视"},
        {u"HeiLongJiang卫视.TXT", u"卫视"},
        {u"101.txt", u"1ZORQ-1 中央"},
        {u"a.txt.txt", u"a"},
        {u"Beijing.TXT", u"beijing"},
        {u"notes_txt", u"notes_txt"},
        {u"ＣＣＴＶ.txt", u"ＣＣＴＶ"},
        {u"dongfang.txt", u""},
        {u".txt", u""},
        {u"", u""},
    };
    for (const NameCase& c : cases) {
        const QString fileName = QString::fromUtf16(c.fileName);
        EXPECT_EQ(ChannelDisplayName(fileName), QString::fromUtf16(c.displayName)) << fileName.toStdString();
    }
}

// The chain applied the plain way, one QString::replace per step over the whole text.
QString DisplayNameStepByStep(const QString& fileName) {
    QString text = fileName;
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i] >= u'A' && text[i] <= u'Z')
            text[i] = QChar(text[i].unicode() + (u'a' - u'A'));
    for (const ChannelNameSubstitution& step : ChannelNameSubstitutions())
        text.replace(QStringView(step.search).toString(), QStringView(step.replacement).toString());
    return text;
}

// Every step's search text, alone, inside other text, with upper-case letters, beside every other
// step's search text, and splitting it in two (where one step's output or a removal makes the text
// of another): the shortcut that skips steps must never skip one that applies.
TEST(ChannelDisplayName, GivesWhatTheStepsGiveOneByOne) {
    const auto steps = ChannelNameSubstitutions();
    QStringList names;
    for (const ChannelNameSubstitution& first : steps) {
        const QString search = QStringView(first.search).toString();
        names << search << QStringLiteral("台") + search + QStringLiteral("卫视.txt")
              << search.toUpper() + QStringLiteral(".TXT");
        for (const ChannelNameSubstitution& second : steps) {
            const QString other = QStringView(second.search).toString();
            names << search + other + QStringLiteral(".txt");
            // Split around the first step's text: only its removal or replacement joins the halves.
            names << other.left(1) + search + other.mid(1);
        }
    }
    for (const QString& name : names)
        ASSERT_EQ(ChannelDisplayName(name), DisplayNameStepByStep(name)) << name.toStdString();
}

TEST(IsListingFileName, LowersOnlyAsciiAndNeedsNoDot) {
    const struct {
        const char16_t* name;
        bool listing;
    } cases[] = {
        {u"a.txt", true}, {u"A.TXT", true},     {u"notes_txt", true}, {u"txt", true},
        {u".txt", true},  {u"xt", false},       {u"", false},         {u"schedule.txt.bak", false},
        {u"a.TxT", true}, {u"a.ｔｘｔ", false}, {u"a.txt ", false},
    };
    for (const auto& c : cases) {
        const QByteArray name = QString::fromUtf16(c.name).toUtf8();
        EXPECT_EQ(IsListingFileName(std::string_view(name.constData(), static_cast<size_t>(name.size()))),
                  c.listing)
            << name.toStdString();
    }
}

} // namespace
