// A feed shaped like the published ones people use: hundreds of channels with Chinese and Latin
// names, some declared twice (by the same name in another spelling), every programme repeated,
// times in several zones. Imported, edited in the map, imported again and exported, it must show
// each channel once, under its own name, with each programme once.
#include "exporter/XmltvExport.h"

#include "catalogue/CatalogueWalk.h"
#include "catalogue/FeedListingIndex.h"
#include "catalogue/ListingFile.h"
#include "tests/support/QtPrinters.h"
#include "xmltv/XmltvImport.h"

#include <QBuffer>
#include <QDir>
#include <QSet>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

namespace {

QString U(const char16_t* text) {
    return QString::fromUtf16(text);
}

struct RealFeed {
    QString xml;
    QStringList shownNames; // one per channel, as the channel list must show it
    QSet<QString> ids;      // every channel id of the feed
    int programmesPerChannel = 0;
};

RealFeed MakeRealFeed() {
    const QStringList places = {U(u"北京"), U(u"天津"),   U(u"河北"), U(u"山西"), U(u"内蒙古"), U(u"辽宁"),
                                U(u"吉林"), U(u"黑龙江"), U(u"上海"), U(u"江苏"), U(u"浙江"),   U(u"安徽"),
                                U(u"福建"), U(u"江西"),   U(u"山东"), U(u"河南"), U(u"湖北"),   U(u"湖南"),
                                U(u"广东"), U(u"广西"),   U(u"海南"), U(u"重庆"), U(u"四川"),   U(u"贵州"),
                                U(u"云南"), U(u"西藏"),   U(u"陕西"), U(u"甘肃"), U(u"青海"),   U(u"宁夏")};
    // Each channel: its names as declared, the first the one shown; a second name is a second
    // declaration of the same channel under another id.
    QList<QStringList> channels;
    for (const QString& place : places) {
        channels.append({place + U(u"卫视"), place + U(u"衛視")}); // Traditional, declared again
        channels.append({place + U(u"新闻")});
        channels.append({place + U(u"电视台")});
        channels.append({place + U(u"经济生活")});
        channels.append({place + U(u"都市频道")});
    }
    for (int n = 1; n <= 17; ++n)
        channels.append({u"CCTV-%1 HD"_qs.arg(n), u"cctv%1"_qs.arg(n)});
    channels.append({u"CCTV-4K"_qs});
    channels.append({u"CCTV-8K"_qs});
    channels.append({U(u"CCTV-4 欧洲")});
    channels.append({U(u"CCTV-4 美洲")});
    for (int n = 1; n <= 170; ++n) {
        channels.append({u"NEWS CHANNEL %1"_qs.arg(n)});
        channels.append(
            {u"SPORTS%1 HD"_qs.arg(n), U(u"ＳＰＯＲＴＳ%1").arg(n)}); // full-width, declared again
    }
    channels.append({u"BBCWORLDNEWS"_qs});
    channels.append({u"CNN International"_qs});

    const char* const offsets[] = {"+0800", "+0000", "-0500", "+0930"};
    const int offsetSeconds[] = {8 * 3600, 0, -5 * 3600, 9 * 3600 + 1800};
    RealFeed feed;
    feed.programmesPerChannel = 10;
    QString declarations;
    QString programmes;
    for (qsizetype c = 0; c < channels.size(); ++c) {
        feed.shownNames.append(channels[c].first());
        for (qsizetype d = 0; d < channels[c].size(); ++d) {
            const QString id = u"ch%1-%2.example"_qs.arg(c).arg(d);
            feed.ids.insert(id);
            declarations +=
                u"<channel id=\"%1\"><display-name lang=\"zh\">%2</display-name></channel>\n"_qs.arg(
                    id, channels[c][d]);
            const int zone = static_cast<int>((c + d) % 4);
            for (int slot = 0; slot < feed.programmesPerChannel; ++slot) {
                const QDateTime beijing =
                    QDateTime(QDate(2026, 12, 10), QTime(6, 0), Qt::UTC).addSecs(qint64{slot} * 5400);
                const QDateTime written = beijing.addSecs(offsetSeconds[zone] - 8 * 3600);
                const QString start =
                    written.toString(u"yyyyMMddHHmmss") + u' ' + QLatin1String(offsets[zone]);
                // Every programme three times, as some feeds give them.
                for (int repeat = 0; repeat < 3; ++repeat)
                    programmes +=
                        u"<programme start=\"%1\" channel=\"%2\"><title>节目%3</title></programme>\n"_qs
                            .arg(start, id)
                            .arg(slot);
            }
        }
    }
    feed.xml =
        u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tv>\n"_qs + declarations + programmes + u"</tv>\n"_qs;
    return feed;
}

void Import(const RealFeed& feed, const QString& data) {
    QBuffer buffer;
    buffer.setData(feed.xml.toUtf8());
    buffer.open(QIODevice::ReadOnly);
    ImportXmltvFeed(buffer, data);
}

// The channel list of the whole data folder: each listing's shown name, checked against its own
// title line, and that no line repeats within a day.
QStringList ShownNamesChecked(const QString& data) {
    const FeedListingNames names = FeedListingNames::Load(data);
    const CatalogueEntries entries = CollectCatalogue(data, WalkScope::FollowLinks, &names);
    for (qsizetype i = 0; i < entries.listingPaths.size(); ++i) {
        const QStringList lines = LoadListingLines(entries.listingPaths[i]);
        EXPECT_EQ(lines.value(0), entries.displayNames[i] + U(u" 一周节目预告"));
        EXPECT_EQ(QSet<QString>(lines.begin() + 2, lines.end()).size(), lines.size() - 2)
            << entries.listingPaths[i].toStdString() << " repeats a line";
    }
    QStringList shown = entries.displayNames;
    shown.sort();
    return shown;
}

TEST(ARealFeed, ShowsEveryChannelOnceUnderItsOwnNameAcrossAMapEdit) {
    const RealFeed feed = MakeRealFeed();
    QStringList expected = feed.shownNames;
    expected.sort();
    ASSERT_EQ(expected.size(), 513) << "as many channels as the feed that showed the faults";
    QTemporaryDir data;
    Import(feed, data.path());
    EXPECT_EQ(ShownNamesChecked(data.path()), expected);

    // The map moves the satellite channels and the news channels; the next import moves them.
    QFile map(data.filePath(u"channel-classes.map"_qs));
    ASSERT_TRUE(map.open(QIODevice::WriteOnly | QIODevice::Truncate));
    map.write(U(u"卫视\t境外频道\nnews\t央视频道\n/.*/\t数字频道\n").toUtf8());
    map.close();
    Import(feed, data.path());
    EXPECT_EQ(ShownNamesChecked(data.path()), expected);
    EXPECT_TRUE(QDir(data.filePath(U(u"地方频道"))).entryList(QDir::Files).isEmpty());

    // Exported: the feed's ids, each programme once, no programme ending where it starts.
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    EXPECT_EQ(WriteXmltv(data.path(), out), expected.size());
    QXmlStreamReader xml(out.data());
    int programmes = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes attributes = xml.attributes();
        if (xml.name() == u"channel") {
            const QString id = attributes.value(QLatin1String("id")).toString();
            EXPECT_TRUE(feed.ids.contains(id)) << id.toStdString();
        } else if (xml.name() == u"programme") {
            ++programmes;
            EXPECT_NE(attributes.value(QLatin1String("start")), attributes.value(QLatin1String("stop")));
        }
    }
    EXPECT_FALSE(xml.hasError());
    EXPECT_EQ(programmes, expected.size() * feed.programmesPerChannel);
}

} // namespace
