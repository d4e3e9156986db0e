#include "exporter/XmltvExport.h"

#include "platform/Exception.h"
#include "tests/support/EncodeGbk.h"
#include "tests/support/QtPrinters.h"
#include "xmltv/XmltvImport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString U(const char16_t* text) {
    return QString::fromUtf16(text);
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
}

QByteArray Export(const QString& dataFolder, const ExportRange& range = {}) {
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    WriteXmltv(dataFolder, out, range);
    return out.data();
}

Feed Read(const QByteArray& document) {
    QBuffer in;
    in.setData(document);
    in.open(QIODevice::ReadOnly);
    return ReadXmltvFeed(in);
}

// Each channel's display name with its programmes as "YYYY-MM-DD HH:MM title" lines.
QMap<QString, QStringList> ProgrammesByName(const Feed& feed) {
    QMap<QString, QStringList> byName;
    for (const FeedChannel& channel : feed.channels) {
        QStringList& lines = byName[channel.displayNames.value(0)];
        for (const FeedProgramme& programme : channel.programmes)
            lines.append(programme.date.toString(u"yyyy-MM-dd ") + programme.time.toString(u"HH:mm ") +
                         programme.title);
    }
    return byName;
}

TEST(ExportChannelId, StableAndSafe) {
    const struct {
        const char16_t* folder;
        const char16_t* file;
        const char16_t* id;
    } cases[] = {
        {u"national", u"01.txt", u"national.01-2etxt"},
        {u"央视频道", u"04(亚洲).txt",
         u"-e5-a4-ae-e8-a7-86-e9-a2-91-e9-81-93.04-28-e4-ba-9a-e6-b4-b2-29-2etxt"},
        {u"a-b/c", u"x y.TXT", u"a-2db-2fc.x-20y-2eTXT"},
        {u"", u"top.txt", u"-.top-2etxt"},
        {u"x", u"bad\xDCFF.txt", u"x.bad-ff-2etxt"}, // a name byte that is not UTF-8
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExportChannelId(U(c.folder), U(c.file)), U(c.id));
}

TEST(WriteXmltv, ChannelsAndProgrammes) {
    QTemporaryDir root;
    WriteFile(root.filePath(U(u"央视频道/01.txt")),
              EncodeGbk(U(u"ZORQ-1 中央 一周节目预告\r\n\r\n2026-12-10 星期四\r\n06:00 朝闻天下\r\n"
                          u"19:00 新闻联播 & <特别节目>\r\n\r\n2026-12-11 星期五\r\n06:00 朝闻天下\r\n")));
    WriteFile(root.filePath(U(u"地方频道/dongfang.txt")), "\xEF\xBB\xBF"
                                                          "08:00 no date\r\n");
    const QByteArray document = Export(root.path());
    const QString text = QString::fromUtf8(document);
    EXPECT_TRUE(
        text.startsWith(u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE tv SYSTEM \"xmltv.dtd\">"));
    EXPECT_TRUE(text.contains(U(u"<channel id=\"-e5-a4-ae-e8-a7-86-e9-a2-91-e9-81-93.01-2etxt\">\n        "
                                u"<display-name lang=\"zh\">ZORQ-1 中央</display-name>")));
    EXPECT_TRUE(text.contains(u"<display-name lang=\"zh\">dongfang.txt</display-name>"))
        << "the table empties this name";
    EXPECT_TRUE(text.contains(U(u"<programme start=\"20261210190000 +0800\" stop=\"20261211060000 +0800\" "
                                u"channel=\"-e5-a4-ae-e8-a7-86-e9-a2-91-e9-81-93.01-2etxt\">\n        <title "
                                u"lang=\"zh\">新闻联播 &amp; "
                                u"&lt;特别节目&gt;</title>")));
    EXPECT_TRUE(text.contains(u"<programme start=\"20261211060000 +0800\" channel="))
        << "the last is left open";
    EXPECT_FALSE(text.contains(u"no date")) << "a listing without dates has no programme to place";
    const Feed feed = Read(document);
    ASSERT_EQ(feed.channels.size(), 2);
    EXPECT_EQ(feed.channels[0].programmes.size() + feed.channels[1].programmes.size(), 3);

    const Feed oneDay = Read(Export(root.path(), {QDate(2026, 12, 11), 1}));
    EXPECT_EQ(ProgrammesByName(oneDay).value(U(u"ZORQ-1 中央")),
              QStringList{U(u"2026-12-11 06:00 朝闻天下")});
    EXPECT_THROW(Export(root.filePath("missing")), Exception);
}

// A class folder or listing that is a link out of the data folder (to /etc, say) must not carry
// the files there into the document; links that stay inside are taken as the channel list takes them.
TEST(WriteXmltv, NeverLeavesTheDataFolderThroughALink) {
    QTemporaryDir root;
    const QString data = root.filePath("data"), outside = root.filePath("outside");
    const QByteArray listing = "\xEF\xBB\xBF"
                               "2026-12-10\r\n08:00 inside\r\n";
    WriteFile(data + U(u"/央视频道/01.txt"), listing);
    WriteFile(outside + "/secret.txt", "\xEF\xBB\xBF"
                                       "2026-12-10\r\n08:00 secret\r\n");
    WriteFile(outside + "/deeper/hidden.txt", "2026-12-10\r\n08:00 secret\r\n");
    ASSERT_TRUE(QFile::link(outside, data + U(u"/境外频道"))); // a class folder leading out
    ASSERT_TRUE(QFile::link(outside + "/secret.txt", data + U(u"/央视频道/02.txt"))); // a listing leading out
    ASSERT_TRUE(QFile::link("..", data + U(u"/地方频道")));                           // up, relatively
    ASSERT_TRUE(QFile::link("01.txt", data + U(u"/央视频道/03.txt")));                // inside: taken
    const QString text = QString::fromUtf8(Export(data));
    EXPECT_FALSE(text.contains("secret")) << text.toStdString();
    EXPECT_FALSE(text.contains("hidden")) << text.toStdString();
    EXPECT_EQ(text.count("<channel "), 2) << text.toStdString();
    EXPECT_TRUE(text.contains(".03-2etxt\"")) << text.toStdString();
}

// XML has no room for U+FFFE and U+FFFF either: one of them in one title must not fail the export.
TEST(WriteXmltv, CharactersXmlCannotHoldBecomeBlanks) {
    QTemporaryDir root;
    WriteFile(root.filePath(U(u"数字频道/频道\uFFFE.txt")),
              "\xEF\xBB\xBF" + U(u"2026-12-10\r\n08:00 a\uFFFFb\u0001c\uFFFEd\r\n").toUtf8());
    const QByteArray document = Export(root.path());
    const Feed feed = Read(document);
    ASSERT_EQ(feed.channels.size(), 1) << document.toStdString();
    EXPECT_EQ(feed.channels[0].displayNames.value(0).trimmed(), U(u"频道"));
    ASSERT_EQ(feed.channels[0].programmes.size(), 1);
    EXPECT_EQ(feed.channels[0].programmes[0].title, U(u"a b c d"));
}

// The sample week of the demo package, unpacked into `folder`.
void UnpackDemoPackage(const QString& folder) {
    QProcess maker;
    maker.start(u"python3"_qs, {QStringLiteral(PELNAVI_SOURCE_DIR "/tools/demo-server/make_package.py"),
                                u"--date"_qs, u"2026-12-10"_qs, u"--unpacked"_qs, folder});
    ASSERT_TRUE(maker.waitForFinished(60000));
    ASSERT_EQ(maker.exitCode(), 0) << maker.readAllStandardError().toStdString();
}

TEST(WriteXmltv, RoundTripThroughAFeedGivesTheSameProgrammes) {
    QTemporaryDir sample, converted;
    UnpackDemoPackage(sample.path());
    const QByteArray exported = Export(sample.path());
    QBuffer feed;
    feed.setData(exported);
    feed.open(QIODevice::ReadOnly);
    const QList<ImportedListing> listings = ImportXmltvFeed(feed, converted.path());
    const QMap<QString, QStringList> before = ProgrammesByName(Read(exported));
    const QMap<QString, QStringList> after = ProgrammesByName(Read(Export(converted.path())));
    EXPECT_EQ(listings.size(), before.size());
    EXPECT_EQ(after.keys(), before.keys());
    for (auto it = before.begin(); it != before.end(); ++it) {
        SCOPED_TRACE(it.key().toStdString());
        EXPECT_GT(it.value().size(), 7 * 5);
        EXPECT_EQ(after.value(it.key()), it.value());
    }
    // The national channels went back to their numbered files.
    EXPECT_TRUE(QFile::exists(converted.filePath(U(u"央视频道/13.txt"))));
    EXPECT_TRUE(QFile::exists(converted.filePath(U(u"央视频道/04(欧洲).txt"))));
}

TEST(WriteXmltv, AFeedsListingsKeepTheFeedsIdsAndNames) {
    QTemporaryDir data;
    WriteFile(data.filePath(U(u"央视频道/01.txt")),
              "\xEF\xBB\xBF" + U(u"2026-12-10\r\n08:00 朝闻天下\r\n").toUtf8());
    const auto import = [&](const QString& feed, const QString& source) {
        QBuffer buffer;
        buffer.setData(feed.toUtf8());
        buffer.open(QIODevice::ReadOnly);
        XmltvImportOptions options;
        options.source = source;
        ImportXmltvFeed(buffer, data.path(), options);
    };
    import(
        U(u"<tv><channel id=\"cctv1.cn\"><display-name>CCTV-1 综合</display-name></channel>"
          u"<channel id=\"CCTV1\"><display-name>cctv1 HD</display-name></channel>"
          u"<channel id=\"bbc.uk\"><display-name>BBCWORLDNEWS</display-name></channel>"
          u"<programme start=\"20261210190000 +0800\" channel=\"CCTV1\"><title>新闻联播</title></programme>"
          u"<programme start=\"20261210200000 +0800\" channel=\"bbc.uk\"><title>News</title></programme>"
          u"</tv>"),
        u"default"_qs);
    // Another source's channel of the same id.
    import(U(u"<tv><channel id=\"bbc.uk\"><display-name>BBC Two</display-name></channel>"
             u"<programme start=\"20261210210000 +0800\" channel=\"bbc.uk\"><title>Drama</title></programme>"
             u"</tv>"),
           u"other.source"_qs);
    QMap<QString, QString> namesById;
    QMap<QString, qsizetype> programmesById;
    for (const FeedChannel& channel : Read(Export(data.path())).channels) {
        namesById.insert(channel.ids.first(), channel.displayNames.value(0));
        programmesById.insert(channel.ids.first(), channel.programmes.size());
    }
    const QString bbcWorld = ExportChannelId(U(u"数字频道"), u"BBCWORLDNEWS.txt"_qs);
    EXPECT_EQ(namesById,
              (QMap<QString, QString>{{ExportChannelId(U(u"央视频道"), u"01.txt"_qs), U(u"ZORQ-1 中央")},
                                      {u"cctv1.cn"_qs, U(u"CCTV-1 综合")},
                                      {u"bbc.uk"_qs, u"BBC Two"_qs},
                                      {bbcWorld, u"BBCWORLDNEWS"_qs}}));
    EXPECT_EQ(programmesById.value(u"cctv1.cn"_qs), 1);
    EXPECT_EQ(programmesById.value(bbcWorld), 1);
}

TEST(WriteXmltv, OutputPassesTheXmltvValidator) {
    QTemporaryDir sample, out;
    UnpackDemoPackage(sample.path());
    // Names and titles that need escaping or cleaning.
    WriteFile(sample.filePath(U(u"数字频道/A&B <测试>.txt")),
              "\xEF\xBB\xBF" + U(u"2026-12-10\r\n08:00 标题\x01带控制字符 & \"引号\"\r\n").toUtf8());
    const QString path = out.filePath("epg.xml");
    WriteFile(path, Export(sample.path()));
    QProcess validator;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The validator otherwise fetches the DTD from the network.
    environment.insert(u"XMLTV_SUPPLEMENT"_qs, u"/usr/share/xmltv"_qs);
    validator.setProcessEnvironment(environment);
    validator.setProcessChannelMode(QProcess::MergedChannels);
    validator.start(u"tv_validate_file"_qs, {path});
    ASSERT_TRUE(validator.waitForFinished(240000)) << "tv_validate_file (package xmltv-util) did not run";
    EXPECT_EQ(validator.exitCode(), 0) << validator.readAll().toStdString();
}

} // namespace
