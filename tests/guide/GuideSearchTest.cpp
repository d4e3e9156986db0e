#include "guide/GuideSearch.h"

#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

QDateTime At(int y, int mo, int d, int h, int mi) {
    return ListingInstant(QDate(y, mo, d), QTime(h, mi));
}

GuideChannel Channel(const QString& name, const QStringList& lines) {
    return {name, name + QStringLiteral(".txt"), QStringLiteral("央视频道"), ParseSchedule(lines)};
}

TEST(PinyinKeys, TitlesAsIcuReadsThem) {
    PinyinTransliterator pinyin;
    const struct {
        const char* title;
        const char* initials;
        const char* full;
    } cases[] = {
        {"新闻联播", "xwlb", "xinwenlianbo"},
        {"绿色家园", "lsjy", "lusejiayuan"}, // ü typed as u
        {"新闻30分", "xwf", "xinwenfen"},    // digits end a syllable and are not keys
        {"NBA常规赛", "ncgs", "nbachangguisai"},
        {"CCTV-5体育", "cty", "cctvtiyu"},
        {"重庆卫视", "cqws", "chongqingweishi"}, // ICU knows the place name
        // A character with several readings gets ICU's one: 朝 (zhao, morning) is read chao here,
        // 重 in 重播 (chong) as zhong.
        {"朝闻天下", "cwtx", "chaowentianxia"},
        {"新闻联播(重播)", "xwlbzb", "xinwenlianbozhongbo"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        const PinyinKeys keys = pinyin.KeysOf(QString::fromUtf8(c.title));
        EXPECT_EQ(keys.initials, QString::fromUtf8(c.initials));
        EXPECT_EQ(keys.full, QString::fromUtf8(c.full));
    }
}

TEST(PinyinRulesCompilation, TransliteratorsMadeDuringAndAfterItReadAsIcuDoes) {
    // One made while the rules compile on the other thread waits for them inside ICU.
    std::optional<PinyinRulesCompilation> compilation(std::in_place);
    EXPECT_EQ(PinyinTransliterator().KeysOf(QStringLiteral("重庆卫视")).initials, QStringLiteral("cqws"));
    compilation->Wait();
    EXPECT_EQ(PinyinTransliterator().KeysOf(QStringLiteral("朝闻天下")).full,
              QStringLiteral("chaowentianxia"));
    // Ended at once: the thread is waited for, not left running.
    compilation.emplace();
    compilation.reset();
}

TEST(PinyinCache, ComputesEachDistinctTextOnce) {
    PinyinCache cache;
    const PinyinKeys& first = cache.KeysOf(QStringLiteral("新闻联播"));
    EXPECT_EQ(&cache.KeysOf(QStringLiteral("新闻联播")), &first);
    cache.KeysOf(QStringLiteral("朝闻天下"));
    EXPECT_EQ(cache.size(), 2);
}

class GuideSearchTest : public ::testing::Test {
protected:
    GuideSearchTest() {
        guide_.channels = {
            Channel(QStringLiteral("ZORQ-1 中央"), {"2026-12-10 星期四", "06:00 朝闻天下", "19:00 新闻联播",
                                                    "2026-12-11 星期五", "06:00 朝闻天下", "19:00 新闻联播"}),
            Channel(QStringLiteral("重庆卫视"),
                    {"2026-12-10", "18:00 重庆新闻", "19:00 新闻联播", "20:00 NBA常规赛"}),
            // Undated: a weekday heading before any date.
            Channel(QStringLiteral("undated"), {"星期四", "19:00 新闻联播"}),
        };
    }

    QStringList Found(const char* text, const QDateTime& now) {
        return Found(GuideSearch(std::make_shared<const Guide>(guide_), cache_), text, now);
    }
    static QStringList Found(const GuideSearch& search, const char* text, const QDateTime& now) {
        QStringList found;
        for (const SearchMatch& match : search.Find(QString::fromUtf8(text), now))
            found << search.SearchedGuide().channels[match.channel].displayName + u' ' +
                         match.programme->StartTime().toString(QStringLiteral("dd HH:mm ")) +
                         match.programme->title + (match.past ? QStringLiteral(" (past)") : QString());
        return found;
    }

    Guide guide_;
    PinyinCache cache_;
};

TEST_F(GuideSearchTest, UpcomingEarliestFirstThenPastLatestFirst) {
    EXPECT_EQ(Found("xwlb", At(2026, 12, 10, 19, 30)),
              (QStringList{"ZORQ-1 中央 10 19:00 新闻联播", "重庆卫视 10 19:00 新闻联播",
                           "ZORQ-1 中央 11 19:00 新闻联播"}));
    EXPECT_EQ(Found("新闻联播", At(2026, 12, 11, 12, 0)),
              (QStringList{"ZORQ-1 中央 11 19:00 新闻联播", "ZORQ-1 中央 10 19:00 新闻联播 (past)",
                           "重庆卫视 10 19:00 新闻联播 (past)"}));
}

TEST_F(GuideSearchTest, WhatMatches) {
    const QDateTime now = At(2026, 12, 9, 0, 0); // everything still to come
    const struct {
        const char* text;
        QStringList found;
    } cases[] = {
        {"xwl",
         {"ZORQ-1 中央 10 19:00 新闻联播", "重庆卫视 10 19:00 新闻联播", "ZORQ-1 中央 11 19:00 新闻联播"}},
        {"  XinWen ", // any case, blanks around
         {"重庆卫视 10 18:00 重庆新闻", "ZORQ-1 中央 10 19:00 新闻联播", "重庆卫视 10 19:00 新闻联播",
          "ZORQ-1 中央 11 19:00 新闻联播"}},
        {"xin wen lian bo",
         {"ZORQ-1 中央 10 19:00 新闻联播", "重庆卫视 10 19:00 新闻联播", "ZORQ-1 中央 11 19:00 新闻联播"}},
        {"wlb", {}}, // initials match from their start only
        {"cwtx", {"ZORQ-1 中央 10 06:00 朝闻天下", "ZORQ-1 中央 11 06:00 朝闻天下"}},
        {"zwtx", {}},                                  // the polyphone limit
        {"nba", {"重庆卫视 10 20:00 NBA常规赛"}},      // Latin letters of the title, any case
        {"changgui", {"重庆卫视 10 20:00 NBA常规赛"}}, // inside the full pinyin
        {"cgs", {}},
        {"中央",
         {"ZORQ-1 中央 10 06:00 朝闻天下", "ZORQ-1 中央 10 19:00 新闻联播", "ZORQ-1 中央 11 06:00 朝闻天下",
          "ZORQ-1 中央 11 19:00 新闻联播"}}, // the channel's name
        {"zorq-1 中",
         {"ZORQ-1 中央 10 06:00 朝闻天下", "ZORQ-1 中央 10 19:00 新闻联播", "ZORQ-1 中央 11 06:00 朝闻天下",
          "ZORQ-1 中央 11 19:00 新闻联播"}},
        {"zyx", {}}, // channel names are matched as written, not by pinyin
        {"", {}},
        {"   ", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Found(c.text, now), c.found);
    }
}

// The search used to keep a reference to a guide that a copy of the reading holding both could
// leave behind; a copy of the search, and its matches, now keep the guide they point into.
TEST_F(GuideSearchTest, ACopyOfTheSearchOutlivesTheGuideItWasMadeFrom) {
    auto guide = std::make_shared<const Guide>(guide_);
    auto original = std::make_unique<GuideSearch>(guide, cache_);
    const GuideSearch copy = *original;
    original.reset();
    guide.reset();
    guide_ = {};
    EXPECT_EQ(Found(copy, "cwtx", At(2026, 12, 9, 0, 0)),
              (QStringList{"ZORQ-1 中央 10 06:00 朝闻天下", "ZORQ-1 中央 11 06:00 朝闻天下"}));
}

// A one-letter search matched nearly every programme and all of them became rows; a search keeps the
// first so many, which must be the first of the whole order, and counts the rest.
TEST_F(GuideSearchTest, TheFirstMatchesAreTheFirstOfAllAndTheRestAreCounted) {
    const GuideSearch search(std::make_shared<const Guide>(guide_), cache_);
    for (const char* text : {"x", "新闻联播", "zzz"}) {
        for (const QDateTime& now :
             {At(2026, 12, 9, 0, 0), At(2026, 12, 10, 19, 30), At(2026, 12, 12, 0, 0)}) {
            const QList<SearchMatch> all = search.Find(QString::fromUtf8(text), now);
            for (qsizetype limit = 0; limit <= all.size() + 1; ++limit) {
                SCOPED_TRACE(testing::Message()
                             << text << " " << now.toString().toStdString() << " " << limit);
                const SearchResult first = search.Find(QString::fromUtf8(text), now, limit);
                EXPECT_EQ(first.total, all.size());
                ASSERT_EQ(first.matches.size(), std::min(limit, all.size()));
                for (qsizetype i = 0; i < first.matches.size(); ++i) {
                    EXPECT_EQ(first.matches[i].programme, all[i].programme);
                    EXPECT_EQ(first.matches[i].past, all[i].past);
                }
            }
        }
    }
}

} // namespace
