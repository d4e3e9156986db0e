#include "xmltv/XmltvImport.h"

#include "catalogue/ListingFile.h"
#include "platform/AbortRequest.h"
#include "platform/Exception.h"
#include "tests/support/EncodeGbk.h"
#include "tests/support/QtPrinters.h"
#include "tests/xmltv/Gzip.h"
#include "tests/xmltv/ImportFiles.h"
#include "xmltv/ListingText.h"

#include <QBuffer>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QList<ImportedListing> Import(const QByteArray& feed, const QString& dataFolder,
                              qint64 limit = kMaxFeedBytes) {
    QBuffer buffer;
    buffer.setData(feed);
    buffer.open(QIODevice::ReadOnly);
    return ImportXmltvFeed(buffer, dataFolder, limit);
}

// Two channels; programmes out of order, a second language, a sub-title, seconds, a title with a
// line break and a "/" at UTC (07:00 the next day in Beijing), a programme of a channel never
// declared, one without a start.
const char16_t kFeed[] =
    u"<tv generator-info-name=\"test\">\n"
    u"  <channel id=\"cctv1.cn\"><display-name lang=\"en\">CCTV-1</display-name>"
    u"<display-name lang=\"zh\">ZORQ-1 中央</display-name></channel>\n"
    u"  <channel id=\"ahtv.cn\"><display-name>安徽卫视</display-name><icon src=\"x.png\"/></channel>\n"
    u"  <programme start=\"20261211060000 +0800\" stop=\"20261211090000 +0800\" channel=\"cctv1.cn\">"
    u"<title lang=\"en\">Morning News</title><title lang=\"zh\">朝闻天下</title></programme>\n"
    u"  <programme start=\"20261210190000 +0800\" channel=\"cctv1.cn\"><title>新闻联播</title>"
    u"<desc>每日新闻</desc></programme>\n"
    u"  <programme start=\"20261210193015 +0800\" channel=\"cctv1.cn\"><title>电视剧</title>"
    u"<sub-title>山海情长(12)</sub-title></programme>\n"
    u"  <programme start=\"202612102300 +0000\" "
    u"channel=\"cctv1.cn\"><title>晚间\n新闻\tA/B</title></programme>\n"
    u"  <programme start=\"20261210190000 +0800\" channel=\"nobody\"><title>无主节目</title></programme>\n"
    u"  <programme channel=\"ahtv.cn\"><title>没有开始时间</title></programme>\n"
    u"</tv>\n";

const char16_t kCctv1Text[] = u"ZORQ-1 中央 一周节目预告\r\n"
                              u"\r\n"
                              u"2026-12-10 星期四\r\n"
                              u"19:00 新闻联播\r\n"
                              u"19:30:15 电视剧：山海情长(12)\r\n"
                              u"\r\n"
                              u"2026-12-11 星期五\r\n"
                              u"06:00 朝闻天下\r\n"
                              u"07:00 晚间 新闻 A/B\r\n";

QByteArray Cctv1Listing() {
    return "\xEF\xBB\xBF" + U(kCctv1Text).toUtf8();
}

TEST(ImportXmltvFeed, WritesListingsInThePackagesShape) {
    QTemporaryDir root;
    const QString data = root.filePath("ZORQListTemp");
    const QList<ImportedListing> listings = Import(U(kFeed).toUtf8(), data);
    ASSERT_EQ(listings.size(), 2);
    EXPECT_EQ(listings[0].classFolder, U(u"央视频道"));
    EXPECT_EQ(listings[0].fileName, U(u"01.txt"));
    EXPECT_EQ(listings[1].classFolder, U(u"地方频道"));
    EXPECT_EQ(listings[1].fileName, U(u"安徽卫视.txt"));
    EXPECT_EQ(ReadFile(data + U(u"/央视频道/01.txt")), Cctv1Listing());
    EXPECT_EQ(DecodeListing(ReadFile(data + U(u"/地方频道/安徽卫视.txt"))),
              (QStringList{U(u"安徽卫视 一周节目预告"), {}}));
    EXPECT_EQ(FilesBelow(data),
              (QStringList{U(u"channel-aliases.map"), U(u"channel-classes.map"), U(u"feed-listings.index"),
                           U(u"地方频道/安徽卫视.txt"), U(u"央视频道/01.txt")}));
}

TEST(ImportXmltvFeed, EncodingsAndCompression) {
    const QString body = U(kFeed);
    const QString declared = u"<?xml version=\"1.0\" encoding=\"%1\"?>\n"_qs;
    QByteArray utf16("\xFF\xFE");
    const QString withDeclaration = declared.arg(u"UTF-16") + body;
    for (QChar unit : withDeclaration)
        utf16.append(static_cast<char>(unit.unicode() & 0xFF)).append(static_cast<char>(unit.unicode() >> 8));
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"UTF-8 with its declaration and mark", "\xEF\xBB\xBF" + (declared.arg(u"UTF-8") + body).toUtf8()},
        {"GBK with its declaration", EncodeGbk(declared.arg(u"GBK") + body)},
        {"GB2312 with its declaration, gzip", Gzip(EncodeGbk(declared.arg(u"gb2312") + body))},
        {"UTF-16 with its mark", utf16},
        {"gzip", Gzip(body.toUtf8())},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir root;
        ASSERT_NO_THROW(Import(c.bytes, root.path()));
        EXPECT_EQ(ReadFile(root.filePath(U(u"央视频道/01.txt"))), Cctv1Listing());
    }
}

// A sequential device that hands out one byte at a time: every character of several bytes arrives
// in pieces.
class Trickle final : public QIODevice {
public:
    explicit Trickle(QByteArray bytes) : bytes_(std::move(bytes)) { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return bytes_.size() - at_ + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char* data, qint64 size) override {
        if (at_ >= bytes_.size() || size == 0)
            return at_ >= bytes_.size() ? -1 : 0;
        *data = bytes_[at_++];
        return 1;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray bytes_;
    qsizetype at_ = 0;
};

TEST(ImportXmltvFeed, GbkCharactersSplitBetweenReads) {
    Trickle feed(EncodeGbk(u"<?xml version=\"1.0\" encoding=\"GBK\"?>\n"_qs + U(kFeed)));
    QTemporaryDir root;
    ImportXmltvFeed(feed, root.path());
    EXPECT_EQ(ReadFile(root.filePath(U(u"央视频道/01.txt"))), Cctv1Listing());
}

TEST(ImportXmltvFeed, Gb18030FeedsKeepTheirFourByteCharactersAndTheEuroSign) {
    const QString tibetan = U(u"བོད་ལྗོངས་");
    const QString uyghur = U(u"شىنجاڭ تېلېۋىزىيەسى");
    const QByteArray bytes =
        EncodeIn("GB18030", u"<?xml version=\"1.0\" encoding=\"GB18030\"?>\n<tv>"
                            u"<channel id=\"xz\"><display-name>%1</display-name></channel>"
                            u"<channel id=\"xj\"><display-name>%2</display-name></channel>"
                            u"<programme start=\"20261210190000 +0800\" channel=\"xz\">"
                            u"<title>欧元€汇率 新闻</title></programme>"
                            u"<programme start=\"20261210200000 +0800\" channel=\"xj\">"
                            u"<title>%2</title></programme></tv>"_qs.arg(tibetan, uyghur));
    ASSERT_TRUE(bytes.contains("\xA2\xE3")) << "the euro sign of GB18030";
    for (const bool trickle : {false, true}) {
        SCOPED_TRACE(trickle ? "one byte at a time" : "whole");
        QTemporaryDir root;
        QBuffer whole;
        whole.setData(bytes);
        whole.open(QIODevice::ReadOnly);
        Trickle pieces(bytes);
        ImportXmltvFeed(trickle ? static_cast<QIODevice&>(pieces) : whole, root.path());
        EXPECT_EQ(
            DecodeListing(ReadFile(root.filePath(U(u"数字频道/") + tibetan + u".txt"_qs))),
            (QStringList{
                tibetan + U(u" 一周节目预告"), {}, U(u"2026-12-10 星期四"), U(u"19:00 欧元€汇率 新闻")}));
        EXPECT_EQ(
            DecodeListing(ReadFile(root.filePath(U(u"数字频道/") + uyghur + u".txt"_qs))),
            (QStringList{uyghur + U(u" 一周节目预告"), {}, U(u"2026-12-10 星期四"), U(u"20:00 ") + uyghur}));
    }
}

QByteArray BillionLaughs() {
    QByteArray doc = "<?xml version=\"1.0\"?>\n<!DOCTYPE tv [\n<!ENTITY lol0 \"lol\">\n";
    for (int i = 1; i < 10; ++i) {
        doc += "<!ENTITY lol" + QByteArray::number(i) + " \"";
        for (int j = 0; j < 10; ++j)
            doc += "&lol" + QByteArray::number(i - 1) + ";";
        doc += "\">\n";
    }
    return doc + "]>\n<tv><channel id=\"c\"><display-name>&lol9;</display-name></channel></tv>\n";
}

// Whitespace inside <tv>, many gigabytes of it once inflated, from a few megabytes.
QByteArray GzipBomb(qint64 inflatedBytes) {
    const qint64 memberBytes = qint64(64) << 20;
    const QByteArray member = Gzip(QByteArray(memberBytes, ' '), 9);
    QByteArray bomb = Gzip("<tv>");
    for (qint64 done = 0; done < inflatedBytes; done += memberBytes)
        bomb += member;
    return bomb;
}

// A data folder with one old listing: the feed is refused, and the listing stays the folder's one file.
void ExpectRefusedLeavingTheOldListing(const QByteArray& feed, qint64 limit = kMaxFeedBytes) {
    QTemporaryDir root;
    const QString data = root.filePath("ZORQListTemp");
    ASSERT_TRUE(QDir().mkpath(data + U(u"/央视频道")));
    WriteFile(data + U(u"/央视频道/01.txt"), "old listing");
    EXPECT_THROW(Import(feed, data, limit), Exception);
    EXPECT_EQ(ReadFile(data + U(u"/央视频道/01.txt")), "old listing");
    EXPECT_EQ(FilesBelow(root.path()), QStringList{U(u"ZORQListTemp/央视频道/01.txt")});
}

TEST(ImportXmltvFeed, HostileFeedsChangeNothing) {
    const QByteArray whole = U(kFeed).toUtf8();
    const struct {
        const char* what;
        QByteArray bytes;
        qint64 limit;
    } cases[] = {
        {"billion laughs", BillionLaughs(), kMaxFeedBytes},
        {"gzip bomb", GzipBomb(qint64(10) << 30), qint64(8) << 20},
        {"cut in the middle", whole.first(whole.size() / 2), kMaxFeedBytes},
        {"gzip cut in the middle", Gzip(whole).first(Gzip(whole).size() / 2), kMaxFeedBytes},
        {"not XMLTV", "<?xml version=\"1.0\"?><rss><channel id=\"x\"/></rss>", kMaxFeedBytes},
        {"not XML", "<tv><channel id=\"x\"></tv>", kMaxFeedBytes},
        {"undeclared entity", "<tv><channel id=\"x\"><display-name>&nbsp;</display-name></channel></tv>",
         kMaxFeedBytes},
        {"empty", "", kMaxFeedBytes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectRefusedLeavingTheOldListing(c.bytes, c.limit);
    }
}

// Feeds that are whole XMLTV but would make the reader hold more than it may.
TEST(ImportXmltvFeed, AFeedBeyondTheReadersBoundsChangesNothing) {
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"whitespace of 5 MiB between two elements", "<tv>" + QByteArray(5 << 20, ' ') + "</tv>"},
        {"an attribute of 5 MiB", "<tv><channel id=\"" + QByteArray(5 << 20, 'x') + "\"/></tv>"},
        {"10,001 channels",
         [] {
             QByteArray feed = "<tv>";
             for (int i = 0; i < 10'001; ++i)
                 feed += "<channel id=\"" + QByteArray::number(i) + "\"/>";
             return feed + "</tv>";
         }()},
        {"channel ids of 9 Mi characters in all",
         [] {
             QByteArray feed = "<tv>";
             for (int i = 0; i < 9; ++i)
                 feed += "<channel id=\"" + QByteArray::number(i) + QByteArray(1 << 20, 'x') + "\"/>";
             return feed + "</tv>";
         }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectRefusedLeavingTheOldListing(c.bytes);
    }
}

// Three channels whose programmes come interleaved and out of order, over three days, with starts
// that repeat within a channel (their feed order must hold) and some with seconds.
QByteArray InterleavedFeed() {
    QByteArray feed = "<tv>";
    for (int c = 0; c < 3; ++c)
        feed += "<channel id=\"c" + QByteArray::number(c) + "\"><display-name>频道" + QByteArray::number(c) +
                "</display-name></channel>";
    constexpr qint64 kFiveMinutesInThreeDays = 864;
    quint32 random = 12345;
    for (int n = 0; n < 600; ++n) {
        random = random * 1103515245 + 12345;
        const QDateTime start =
            QDateTime(QDate(2026, 12, 10), QTime(0, 0))
                .addSecs(qint64(random >> 8) % kFiveMinutesInThreeDays * 300 + (n % 7 == 0 ? 15 : 0));
        feed += "<programme start=\"" + start.toString(u"yyyyMMddHHmmss").toLatin1() + "\" channel=\"c" +
                QByteArray::number((random >> 4) % 3) + "\"><title>节目" + QByteArray::number(n) +
                "</title></programme>";
    }
    return feed + "</tv>";
}

TEST(ImportXmltvFeed, ListingsAreTheSameWhetherTheProgrammesFitInMemoryOrNot) {
    const QByteArray feed = InterleavedFeed();
    QBuffer whole(const_cast<QByteArray*>(&feed));
    whole.open(QIODevice::ReadOnly);
    QMap<QString, QByteArray> expected; // by file name: each listing from the feed held whole
    for (const FeedChannel& channel : ReadXmltvFeed(whole).channels)
        expected.insert(channel.displayNames.first() + u".txt"_qs,
                        ListingFileBytes(channel.name, channel.programmes));
    ASSERT_EQ(expected.size(), 3);

    // 64 bytes hold a programme or two: the programmes go to the disk in hundreds of batches.
    QTemporaryDir spillFolder;
    ProgrammeSort spilling(spillFolder.path(), 64);
    whole.seek(0);
    ReadFeed(whole, spilling);
    EXPECT_GT(spilling.SpilledBatches(), 100);
    EXPECT_TRUE(FilesBelow(spillFolder.path()).isEmpty()) << "the batches' file has no name";

    for (const qint64 memory : {ProgrammeSort::kDefaultMemoryBytes, qint64(64)}) {
        SCOPED_TRACE(memory);
        QTemporaryDir root;
        QBuffer buffer(const_cast<QByteArray*>(&feed));
        buffer.open(QIODevice::ReadOnly);
        XmltvImportOptions options;
        options.sortMemoryBytes = memory;
        ImportXmltvFeed(buffer, root.path(), options);
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            EXPECT_EQ(ReadFile(root.filePath(U(u"数字频道/") + it.key())), it.value())
                << it.key().toStdString();
    }
}

TEST(ImportXmltvFeed, PumpsWhileItWorksAndAnAbortReplacesNoListing) {
    const QByteArray feed = InterleavedFeed();
    const auto import = [&feed](const QString& data, const std::function<void()>& pump) {
        QBuffer buffer(const_cast<QByteArray*>(&feed));
        buffer.open(QIODevice::ReadOnly);
        XmltvImportOptions options;
        options.pump = pump;
        options.pumpInterval = std::chrono::milliseconds(0);
        ImportXmltvFeed(buffer, data, options);
    };
    QTemporaryDir whole;
    int pumps = 0;
    const auto count = [&pumps] { ++pumps; };
    import(whole.path(), count);
    EXPECT_GT(pumps, 2 * 600) << "pumps while it reads and while it writes each programme";

    const struct {
        const char* what;
        std::function<bool(const QString& data, int pumps)> abortNow;
    } cases[] = {
        {"while the feed is read", [](const QString&, int pumped) { return pumped == 3; }},
        {"while the listings are written",
         [](const QString& data, int) { return !FilesBelow(data).filter(u".xmltv-part"_qs).isEmpty(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir data;
        ASSERT_TRUE(QDir().mkpath(data.filePath(U(u"数字频道"))));
        WriteFile(data.filePath(U(u"数字频道/频道0.txt")), "old listing");
        const auto clear = qScopeGuard(ClearAbortRequest);
        int pumped = 0, pumpsAfterAbort = 0;
        const auto pump = [&] {
            if (AbortRequested())
                ++pumpsAfterAbort;
            else if (c.abortNow(data.path(), ++pumped))
                RequestAbort(); // the session ends
        };
        EXPECT_THROW(import(data.path(), pump), AbortedError);
        EXPECT_TRUE(AbortRequested());
        EXPECT_EQ(pumpsAfterAbort, 0) << "nothing pumps after the abort";
        EXPECT_EQ(ReadFile(data.filePath(U(u"数字频道/频道0.txt"))), "old listing");
        EXPECT_EQ(FilesBelow(data.path()).filter(u".txt"_qs), QStringList{U(u"数字频道/频道0.txt")});
        EXPECT_EQ(FilesBelow(data.path()).filter(u".xmltv-"_qs), QStringList());
    }
}

TEST(ImportXmltvFeed, TheBoundOnChannelsIsSettable) {
    const QByteArray feed = "<tv><channel id=\"a\"/><channel id=\"b\"/><channel id=\"c\"/></tv>";
    for (const qsizetype bound : {2, 3}) {
        SCOPED_TRACE(bound);
        QTemporaryDir data;
        QBuffer buffer(const_cast<QByteArray*>(&feed));
        buffer.open(QIODevice::ReadOnly);
        XmltvImportOptions options;
        options.limits.channels = bound;
        if (bound < 3) {
            EXPECT_THROW(ImportXmltvFeed(buffer, data.path(), options), Exception);
            EXPECT_EQ(FilesBelow(data.path()), QStringList());
        } else {
            EXPECT_EQ(ImportXmltvFeed(buffer, data.path(), options).size(), 3);
        }
    }
}

TEST(ImportXmltvFeed, NamesStayInsideTheDataFolder) {
    QTemporaryDir root;
    const QString data = root.filePath("ZORQListTemp");
    ASSERT_TRUE(QDir().mkpath(data));
    // Two channels that the map sends to one file.
    WriteFile(data + u"/channel-classes.map"_qs,
              U(u"escape\t../outside\nslash\t数字频道\ta/b.txt\nsame\t数字频道\t同名.txt\n/.*/\t数字频道\n")
                  .toUtf8());
    const QByteArray feed =
        U(u"<tv>"
          u"<channel id=\"escape\"><display-name>../../逃逸</display-name></channel>"
          u"<channel id=\"slash\"><display-name>.hidden/频道</display-name></channel>"
          u"<channel id=\"same1\"><display-name>甲台</display-name></channel>"
          u"<channel id=\"same2\"><display-name>乙台</display-name></channel>"
          u"<programme start=\"20261210080000\" channel=\"same2\"><title>第二个</title></programme>"
          u"</tv>")
            .toUtf8();
    Import(feed, data);
    EXPECT_EQ(FilesBelow(root.path()),
              (QStringList{U(u"ZORQListTemp/channel-aliases.map"), U(u"ZORQListTemp/channel-classes.map"),
                           U(u"ZORQListTemp/feed-listings.index"), U(u"ZORQListTemp/数字频道/_._.._逃逸.txt"),
                           U(u"ZORQListTemp/数字频道/_hidden_频道.txt"),
                           U(u"ZORQListTemp/数字频道/同名(2).txt"), U(u"ZORQListTemp/数字频道/同名.txt")}));
    EXPECT_TRUE(DecodeListing(ReadFile(data + U(u"/数字频道/同名(2).txt"))).contains(U(u"08:00 第二个")));
}

TEST(ImportXmltvFeed, ClassFolderThatIsALinkIsRefused) {
    QTemporaryDir root, elsewhere;
    const QString data = root.filePath("ZORQListTemp");
    ASSERT_TRUE(QDir().mkpath(data));
    ASSERT_TRUE(QFile::link(elsewhere.path(), data + U(u"/地方频道")));
    EXPECT_THROW(Import(U(kFeed).toUtf8(), data), Exception);
    EXPECT_TRUE(FilesBelow(elsewhere.path()).isEmpty());
    EXPECT_EQ(FilesBelow(data), (QStringList{U(u"channel-aliases.map"), U(u"channel-classes.map")}));
}

} // namespace

namespace {

// A feed that labels its times wrongly is moved by the source's offset, across midnight and the
// turn of the year both ways.
TEST(ImportXmltvFeed, AnOffsetMovesEveryStart) {
    const struct {
        int minutes;
        const char* start; // of the one programme
        QStringList lines; // of the listing after its title line
    } cases[] = {
        {0, "20261210190000 +0800", {"2026-12-10 星期四", "19:00 新闻"}},
        {-480, "20261210060000 +0800", {"2026-12-09 星期三", "22:00 新闻"}},
        {90, "20261231233000 +0800", {"2027-01-01 星期五", "01:00 新闻"}},
        {720, "20261210120000 +0800", {"2026-12-11 星期五", "00:00 新闻"}},
    };
    for (const auto& c : cases) {
        QTemporaryDir data;
        ASSERT_TRUE(data.isValid());
        const QString feed =
            QStringLiteral("<tv><channel id=\"a\"><display-name>测试台</display-name></channel>"
                           "<programme start=\"%1\" channel=\"a\"><title>新闻</title></programme></tv>")
                .arg(QString::fromLatin1(c.start));
        QBuffer buffer;
        buffer.setData(feed.toUtf8());
        buffer.open(QIODevice::ReadOnly);
        XmltvImportOptions options;
        options.offsetMinutes = c.minutes;
        ImportXmltvFeed(buffer, data.path(), options);
        QFile listing(data.filePath(QStringLiteral("数字频道/测试台.txt")));
        ASSERT_TRUE(listing.open(QIODevice::ReadOnly)) << c.minutes;
        QStringList lines =
            QString::fromUtf8(listing.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        lines.removeFirst();
        EXPECT_EQ(lines, c.lines) << c.minutes;
    }
}

} // namespace
