#include "xmltv/FeedBytes.h"

#include "platform/Exception.h"
#include "tests/support/QtPrinters.h"
#include "tests/xmltv/Gzip.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray ReadAll(QIODevice& device, qint64 limit = qint64(1) << 30) {
    FeedBytes feed(device, limit);
    QByteArray all;
    for (QByteArray piece = feed.Next(); !piece.isEmpty(); piece = feed.Next())
        all += piece;
    return all;
}

QByteArray ReadAll(const QByteArray& bytes, qint64 limit = qint64(1) << 30) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return ReadAll(buffer, limit);
}

const QByteArray kDocument = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tv></tv>\n";

TEST(LooksLikeXmltv, StartOfTheFile) {
    const QByteArray large = "<?xml version=\"1.0\"?><tv>" + QByteArray(200'000, ' ') + "</tv>";
    const struct {
        const char* what;
        QByteArray start;
        bool xmltv;
    } cases[] = {
        {"declaration", kDocument, true},
        {"root element without a declaration", "<tv generator-info-name=\"x\">", true},
        {"UTF-8 mark", "\xEF\xBB\xBF<?xml version=\"1.0\"?>", true},
        {"UTF-16 LE mark", QByteArray("\xFF\xFE<\0?\0x\0m\0l\0", 12), true},
        {"UTF-16 BE mark", QByteArray("\xFE\xFF\0<\0t\0v", 8), true},
        {"gzip", Gzip(kDocument), true},
        {"start of a long gzip stream", Gzip(large).first(300), true},
        {"Zip package", "PK\x03\x04\x14\0\0\0\x08\0", false},
        {"gzip of a Zip package", Gzip("PK\x03\x04\x14\0\0\0"), false},
        {"HTML error page", "<!DOCTYPE html><html>", false},
        {"blank before the declaration", " <?xml version=\"1.0\"?>", false},
        {"cut inside the declaration", "<?xm", false},
        {"gzip magic alone", "\x1F\x8B", false},
        {"empty", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(LooksLikeXmltv(c.start), c.xmltv);
    }
}

TEST(IsXmltvFile, ReadsTheFileStart) {
    QTemporaryDir folder;
    const QString plain = folder.filePath("epg.xml"), packed = folder.filePath("epg.xml.gz"),
                  zip = folder.filePath("zorq.zip");
    for (const auto& [path, bytes] : {std::pair{plain, kDocument}, std::pair{packed, Gzip(kDocument)},
                                      std::pair{zip, QByteArray("PK\x03\x04")}}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    EXPECT_TRUE(IsXmltvFile(plain));
    EXPECT_TRUE(IsXmltvFile(packed));
    EXPECT_FALSE(IsXmltvFile(zip));
    EXPECT_FALSE(IsXmltvFile(folder.filePath("missing.xml")));
}

TEST(FeedBytes, InflatesGzipPieceByPiece) {
    QByteArray document = "<tv>";
    for (int i = 0; i < 20'000; ++i)
        document += "<programme start=\"20261210190000 +0800\" channel=\"c" + QByteArray::number(i) + "\"/>";
    document += "</tv>";
    EXPECT_EQ(ReadAll(document), document);
    EXPECT_EQ(ReadAll(Gzip(document)), document);
    // Two members one after the other, as "cat a.gz b.gz" gives.
    EXPECT_EQ(ReadAll(Gzip(document.first(1000)) + Gzip(document.sliced(1000))), document);
}

TEST(FeedBytes, DamagedOrOversizedFeedsThrow) {
    const QByteArray document = QByteArray(100'000, 'x');
    const QByteArray packed = Gzip(document);
    QByteArray corrupted = packed;
    corrupted[20] = static_cast<char>(corrupted[20] ^ 0x55);
    const struct {
        const char* what;
        QByteArray bytes;
        qint64 limit;
    } cases[] = {
        {"gzip cut in the middle", packed.first(packed.size() / 2), qint64(1) << 30},
        {"gzip without its trailer", packed.first(packed.size() - 4), qint64(1) << 30},
        {"damaged deflate data", corrupted, qint64(1) << 30},
        {"inflates beyond the limit", packed, 99'999},
        {"plain feed beyond the limit", document, 99'999},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_THROW(ReadAll(c.bytes, c.limit), Exception);
    }
    EXPECT_EQ(ReadAll(packed, 100'000).size(), 100'000);
}

} // namespace
