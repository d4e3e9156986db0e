// Several sources giving the same channel: which source each day of the listing comes from.
#include "sources/SourceMerge.h"

#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

// A programme per "date:title" item, all at 20:00; the title names the source it came from.
SourceChannel Channel(const char* key, std::initializer_list<std::pair<int, const char*>> programmes) {
    SourceChannel channel{QString::fromUtf8(key), QString::fromUtf8(key) + QStringLiteral(" 频道"), {}, {}};
    for (const auto& [day, title] : programmes)
        channel.programmes.append({QDate(2026, 12, day), QTime(20, 0), QString::fromUtf8(title)});
    return channel;
}

// "key: day=title,title day=title …" for every merged channel, with the source index of each day.
QStringList Shown(const QList<MergedChannel>& merged) {
    QStringList lines;
    for (const MergedChannel& channel : merged) {
        QStringList days;
        for (const MergedDay& day : channel.days) {
            QStringList titles;
            for (const FeedProgramme& programme : day.programmes)
                titles << programme.title;
            days << QStringLiteral("%1#%2=%3").arg(day.date.day()).arg(day.source).arg(titles.join(u','));
        }
        lines << channel.key + QStringLiteral(": ") + days.join(u' ');
    }
    return lines;
}

TEST(SourceMerge, EachDayComesWholeFromTheHighestSourceThatHasIt) {
    const struct {
        const char* name;
        QList<QList<SourceChannel>> sources;
        QStringList merged;
    } cases[] = {
        {"overlapping days: the higher source wins the days both have, the lower keeps its own",
         {{Channel("cctv1", {{10, "A"}, {11, "A"}, {11, "A2"}})},
          {Channel("cctv1", {{9, "B"}, {10, "B"}, {11, "B"}, {12, "B"}})}},
         {"cctv1: 9#1=B 10#0=A 11#0=A,A2 12#1=B"}},
        {"a gap in the higher source is filled from the lower, never mixed within a day",
         {{Channel("cctv1", {{10, "A"}, {12, "A"}})},
          {Channel("cctv1", {{10, "B"}, {11, "B"}, {11, "B2"}, {12, "B"}})}},
         {"cctv1: 10#0=A 11#1=B,B2 12#0=A"}},
        {"a failed source gives nothing: the others' days stand alone",
         {{}, {Channel("cctv1", {{10, "B"}})}, {Channel("cctv1", {{10, "C"}, {11, "C"}})}},
         {"cctv1: 10#1=B 11#2=C"}},
        {"channels of one source only are taken as they are, in the order first given",
         {{Channel("hunan", {{10, "A"}})}, {Channel("cctv1", {{10, "B"}}), Channel("hunan", {{11, "B"}})}},
         {"hunan: 10#0=A 11#1=B", "cctv1: 10#1=B"}},
        {"a channel a source gives twice keeps both entries' programmes of its days",
         {{Channel("cctv1", {{10, "A"}}), Channel("cctv1", {{10, "A2"}, {11, "A2"}})},
          {Channel("cctv1", {{11, "B"}})}},
         {"cctv1: 10#0=A,A2 11#0=A2"}},
        {"no sources", {}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Shown(MergeSourceChannels(c.sources)), c.merged) << c.name;
}

TEST(SourceMerge, TheTitleLineComesFromTheHighestSourceAndProgrammesRunDayAfterDay) {
    SourceChannel high = Channel("cctv1", {{11, "A"}});
    high.title = QStringLiteral("CCTV-1 综合");
    const QList<MergedChannel> merged =
        MergeSourceChannels({{high}, {Channel("cctv1", {{12, "B"}, {10, "B"}})}});
    ASSERT_EQ(merged.size(), 1);
    EXPECT_EQ(merged[0].title, QStringLiteral("CCTV-1 综合"));
    QStringList days;
    for (const FeedProgramme& programme : ProgrammesOf(merged[0]))
        days << programme.date.toString(Qt::ISODate) + u' ' + programme.title;
    EXPECT_EQ(days, (QStringList{"2026-12-10 B", "2026-12-11 A", "2026-12-12 B"}));
}

} // namespace
