#include "catalogue/ListingFile.h"

#include "catalogue/FileNames.h"
#include "platform/Exception.h"
#include "tests/catalogue/RawFiles.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

QByteArray Bytes(std::string_view text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

QStringList Lines(std::initializer_list<const char16_t*> lines) {
    QStringList result;
    for (const char16_t* line : lines)
        result.append(QString::fromUtf16(line));
    return result;
}

using namespace std::string_view_literals;

// The same schedule in each encoding a listing may use.
constexpr char16_t kSchedule[] = u"08:00 新闻\r\n09:30 天气";

QByteArray Utf16WithMark(QStringView text, bool bigEndian) {
    QByteArray bytes = bigEndian ? QByteArray("\xFE\xFF") : QByteArray("\xFF\xFE");
    for (QChar unit : text) {
        const char high = static_cast<char>(unit.unicode() >> 8),
                   low = static_cast<char>(unit.unicode() & 0xFF);
        bytes.append(bigEndian ? high : low).append(bigEndian ? low : high);
    }
    return bytes;
}

QByteArray ScheduleGbk() {
    return QByteArray("08:00 \xD0\xC2\xCE\xC5\r\n09:30 \xCC\xEC\xC6\xF8");
}

QByteArray Utf8WithMark(QStringView text) {
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

TEST(DecodeListing, EncodingsAndLineBreaks) {
    const QStringList schedule = Lines({u"08:00 新闻", u"09:30 天气"});
    const struct {
        const char* what;
        QByteArray bytes;
        QStringList lines;
    } cases[] = {
        {"code page 936 without a mark", ScheduleGbk(), schedule},
        {"UTF-8 after its mark", Utf8WithMark(kSchedule), schedule},
        {"UTF-16 LE after its mark", Utf16WithMark(kSchedule, false), schedule},
        {"UTF-16 BE after its mark", Utf16WithMark(kSchedule, true), schedule},
        {"UTF-16 LE, odd last byte dropped", Utf16WithMark(u"ab", false) + 'c', Lines({u"ab"})},
        {"UTF-16 BE, odd last byte dropped", Utf16WithMark(u"ab", true) + 'c', Lines({u"ab"})},
        {"NUL in UTF-16", Utf16WithMark(QStringView(u"a\0b", 3), false), Lines({u"a"})},
        {"unmarked UTF-8 is read as code page 936", Bytes("\xE6\x96\xB0\xE9\x97\xBB"sv), Lines({u"鏂伴椈"})},
        {"ill-formed UTF-8 after its mark gives nothing", Utf8WithMark(u"ok\r\n") + "bad \xC0\x80", {}},
        {"ill-formed UTF-8 even behind a NUL gives nothing", Utf8WithMark(u"ok") + Bytes("\0\xFF"sv), {}},
        {"a mark alone", Utf8WithMark(u""), {}},
        {"empty", QByteArray(), {}},
        {"bad code page 936 bytes are replaced", Bytes("a\x81\r\nb"sv), Lines({u"a\uFFFD", u"b"})},
        {"NUL ends the text", Bytes("one\r\ntwo\0three\r\n"sv), Lines({u"one", u"two"})},
        {"mixed breaks", Bytes("a\r\nb\nc\rd"sv), Lines({u"a", u"b", u"c", u"d"})},
        {"LF CR ends two lines", Bytes("a\n\rb"sv), Lines({u"a", u"", u"b"})},
        {"final break adds no line", Bytes("a\r\nb\r\n"sv), Lines({u"a", u"b"})},
        {"final lone CR adds no line", Bytes("a\r"sv), Lines({u"a"})},
        {"empty lines are kept", Bytes("\r\n\r\n"sv), Lines({u"", u""})},
        {"CR CR LF", Bytes("a\r\r\nb"sv), Lines({u"a", u"", u"b"})},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeListing(c.bytes), c.lines) << c.what;
}

TEST(DecodeListing, BinaryBytesNeverFail) {
    QByteArray bytes(1 << 16, Qt::Uninitialized);
    QRandomGenerator generator(4711);
    for (char& byte : bytes)
        byte = static_cast<char>(generator.bounded(1, 256)); // no NUL, so the whole text is decoded
    const QStringList lines = DecodeListing(bytes);
    EXPECT_FALSE(lines.isEmpty());
    for (const QString& line : lines)
        EXPECT_FALSE(line.contains(u'\r') || line.contains(u'\n'));
}

class ListingFileOnDisk : public ::testing::Test {
protected:
    ~ListingFileOnDisk() override { RemoveRawTreeBelow(QFile::encodeName(folder_.path())); }
    QByteArray PathBytes(std::string_view name) const {
        return QFile::encodeName(folder_.path()) + '/' + Bytes(name);
    }
    QTemporaryDir folder_;
};

TEST_F(ListingFileOnDisk, LoadsTheWholeFile) {
    const QByteArray path = PathBytes("01.txt");
    WriteRawFile(path, Utf8WithMark(kSchedule));
    EXPECT_EQ(LoadListingLines(QFile::decodeName(path)), Lines({u"08:00 新闻", u"09:30 天气"}));
}

TEST_F(ListingFileOnDisk, OpensANameThatIsNotUtf8) {
    const std::string_view name = "\xD1\xEB\xCA\xD3.txt"sv; // 央视 in code page 936
    WriteRawFile(PathBytes(name), ScheduleGbk());
    const QString path = folder_.path() + u'/' + DecodeFileName(name);
    EXPECT_EQ(LoadListingLines(path), Lines({u"08:00 新闻", u"09:30 天气"}));
}

TEST_F(ListingFileOnDisk, RefusesWhatIsNotAReadablePlainFile) {
    const QByteArray fifo = PathBytes("fifo.txt");
    ASSERT_EQ(::mkfifo(fifo.constData(), 0644), 0);
    ASSERT_EQ(::mkdir(PathBytes("folder.txt").constData(), 0755), 0);
    const QByteArray paths[] = {PathBytes("missing.txt"), fifo, PathBytes("folder.txt"),
                                PathBytes("missing/x.txt")};
    for (const QByteArray& path : paths) {
        try {
            LoadListingLines(QFile::decodeName(path)); // a FIFO must not block here
            ADD_FAILURE() << "loaded " << path.constData();
        } catch (const Exception& error) {
            EXPECT_TRUE(error.Message().contains(QFile::decodeName(path))) << error.what();
        }
    }
}

TEST_F(ListingFileOnDisk, RefusesAFileOverTheSizeLimit) {
    const QByteArray path = PathBytes("big.txt");
    WriteRawFile(path, "0123456789");
    EXPECT_EQ(LoadListingText(QFile::decodeName(path), 10), u"0123456789"_qs);
    EXPECT_THROW(LoadListingText(QFile::decodeName(path), 9), Exception);

    // The real limit, on a sparse file that takes no room on the disk and is never read.
    ASSERT_EQ(::truncate(path.constData(), kListingSizeLimit + 1), 0);
    try {
        LoadListingText(QFile::decodeName(path));
        ADD_FAILURE() << "loaded a file over the limit";
    } catch (const Exception& error) {
        EXPECT_TRUE(error.Message().contains(QFile::decodeName(path))) << error.what();
    }
}

TEST(ListingFile, AFileLargerThanItsStatedSizeIsBoundedWhileRead) {
    // Files of /proc state the size 0 and hold more: only the reading can find them too large.
    const QString path = u"/proc/self/status"_qs;
    ASSERT_FALSE(ReadListingFile(path).isEmpty());
    EXPECT_THROW(ReadListingFile(path, 16), Exception);
}

} // namespace
