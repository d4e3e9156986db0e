#include "xmltv/XmltvImport.h"

#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "xmltv/FeedBytes.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstdio>

namespace {

// Enough for any feed that uses entities for what they are for; a billion-laughs document ends at
// this limit with an error.
constexpr int kEntityExpansionLimit = 4096;
// Longest text kept of a title, sub-title or display name; the rest is dropped.
constexpr qsizetype kMaxFieldChars = 1024;
constexpr qsizetype kMaxDisplayNames = 16;
// The XML declaration must lie within the feed's first bytes.
constexpr qsizetype kDeclarationWindow = 1024;

const QString kTemporarySuffix = QStringLiteral(".xmltv-part");

// The encoding that the XML declaration names, lowered; empty when none is named.
QByteArray DeclaredEncoding(QByteArrayView head) {
    if (!head.startsWith("<?xml"))
        return {};
    const qsizetype end = head.indexOf("?>");
    const QByteArrayView declaration = head.first(end < 0 ? head.size() : end);
    qsizetype at = declaration.indexOf("encoding");
    if (at < 0)
        return {};
    at += 8;
    while (at < declaration.size() &&
           (declaration[at] == ' ' || declaration[at] == '=' || declaration[at] == '\t'))
        ++at;
    if (at >= declaration.size() || (declaration[at] != '"' && declaration[at] != '\''))
        return {};
    const qsizetype close = declaration.indexOf(declaration[at], at + 1);
    if (close < 0)
        return {};
    return declaration.sliced(at + 1, close - at - 1).toByteArray().toLower();
}

bool IsGbEncoding(const QByteArray& name) {
    static const QByteArray kNames[] = {"gbk",         "gb2312", "gb18030", "cp936",   "ms936",
                                        "windows-936", "x-gbk",  "euc-cn",  "csgb2312"};
    return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

// Decodes GBK (and the 4-byte sequences of GB18030, which the code page turns into U+FFFD) piece by
// piece: a character split between two pieces is held back until the rest arrives.
class GbPieces final {
public:
    QString Decode(QByteArray piece, bool last) {
        piece.prepend(carry_);
        carry_.clear();
        qsizetype at = 0;
        while (at < piece.size()) {
            const auto byte = static_cast<unsigned char>(piece[at]);
            qsizetype length = 1;
            if (byte >= 0x81 && byte <= 0xFE) {
                length = 2;
                if (at + 1 < piece.size() && piece[at + 1] >= '0' && piece[at + 1] <= '9')
                    length = 4;
            }
            if (at + length > piece.size())
                break;
            at += length;
        }
        if (!last) {
            carry_ = piece.sliced(at);
            piece.truncate(at);
        }
        return DecodeAnsi(piece);
    }

private:
    QByteArray carry_;
};

bool ReadDigits(QStringView text, qsizetype at, int count, int& value) {
    value = 0;
    for (int i = 0; i < count; ++i) {
        const QChar c = text[at + i];
        if (c < u'0' || c > u'9')
            return false;
        value = value * 10 + (c.unicode() - u'0');
    }
    return true;
}

// "YYYYMMDDhhmmss +0800" and its shorter forms (down to the date alone); the offset is not
// looked at, since the listing keeps the time of the programme's own offset.
bool ParseFeedTime(QStringView text, QDate& date, QTime& time) {
    qsizetype digits = 0;
    while (digits < text.size() && text[digits] >= u'0' && text[digits] <= u'9')
        ++digits;
    if (digits != 8 && digits != 10 && digits != 12 && digits != 14)
        return false;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    ReadDigits(text, 0, 4, year);
    ReadDigits(text, 4, 2, month);
    ReadDigits(text, 6, 2, day);
    if (digits >= 10)
        ReadDigits(text, 8, 2, hour);
    if (digits >= 12)
        ReadDigits(text, 10, 2, minute);
    if (digits >= 14)
        ReadDigits(text, 12, 2, second);
    date = QDate(year, month, day);
    time = QTime(hour, minute, second);
    return date.isValid() && time.isValid();
}

// Control characters (line breaks and tabs included) would break the line shape of a listing.
QString CleanText(QString text) {
    for (QChar& c : text) {
        if (c.category() == QChar::Other_Control)
            c = u' ';
    }
    return text.trimmed();
}

bool IsChineseLang(QStringView lang) {
    return lang.startsWith(u"zh", Qt::CaseInsensitive);
}

// One piece of text (a title, sub-title or display name) as it is being read.
struct FieldText {
    QString text;
    bool chinese = false;
};

class FeedReader final {
public:
    Feed Read(QIODevice& device, qint64 maxFeedBytes);

private:
    void Hand(const QByteArray& piece, bool last);
    bool FeedMore();
    void StartElement();
    void EndElement();
    void KeepPreferred(std::optional<FieldText>& kept);

    enum class Field { None, DisplayName, Title, SubTitle };

    QXmlStreamReader xml_;
    std::unique_ptr<FeedBytes> bytes_;
    std::optional<GbPieces> gb_;
    Feed feed_;
    QHash<QString, qsizetype> channelIndex_;
    int depth_ = 0;
    qsizetype channel_ = -1; // the <channel> being read
    // The <programme> being read.
    qsizetype programmeChannel_ = -1;
    FeedProgramme programme_;
    std::optional<FieldText> title_, subTitle_;
    Field field_ = Field::None;
    FieldText fieldText_;
};

void FeedReader::Hand(const QByteArray& piece, bool last) {
    if (gb_)
        xml_.addData(gb_->Decode(piece, last));
    else
        xml_.addData(piece);
}

bool FeedReader::FeedMore() {
    const QByteArray piece = bytes_->Next();
    Hand(piece, piece.isEmpty());
    return !piece.isEmpty();
}

Feed FeedReader::Read(QIODevice& device, qint64 maxFeedBytes) {
    bytes_ = std::make_unique<FeedBytes>(device, maxFeedBytes);
    xml_.setEntityExpansionLimit(kEntityExpansionLimit);
    QByteArray head;
    while (head.size() < kDeclarationWindow && !head.contains("?>")) {
        const QByteArray piece = bytes_->Next();
        if (piece.isEmpty())
            break;
        head += piece;
    }
    if (IsGbEncoding(DeclaredEncoding(head)))
        gb_.emplace(); // Qt reads only the Unicode encodings; text handed over decoded skips the declaration
    Hand(head, head.isEmpty());
    bool more = !head.isEmpty();
    // In pieces the reader reports each end of the data as an early end of the document; only
    // an end of the document after the last piece is one.
    for (;;) {
        const QXmlStreamReader::TokenType token = xml_.readNext();
        if (xml_.hasError()) {
            if (xml_.error() == QXmlStreamReader::PrematureEndOfDocumentError && more) {
                more = FeedMore();
                continue;
            }
            throw Exception(QStringLiteral("The feed is not a whole XMLTV document: %1 (line %2)")
                                .arg(xml_.errorString())
                                .arg(xml_.lineNumber()));
        }
        if (token == QXmlStreamReader::StartElement)
            StartElement();
        else if (token == QXmlStreamReader::EndElement)
            EndElement();
        else if (token == QXmlStreamReader::Characters && field_ != Field::None &&
                 fieldText_.text.size() < kMaxFieldChars)
            fieldText_.text += xml_.text().first(std::min(xml_.text().size(), kMaxFieldChars));
        else if (token == QXmlStreamReader::EndDocument)
            return std::move(feed_);
    }
    return std::move(feed_);
}

void FeedReader::StartElement() {
    ++depth_;
    const QStringView name = xml_.name();
    if (depth_ == 1) {
        if (name != u"tv")
            throw Exception(QStringLiteral("The feed is not an XMLTV document"));
        return;
    }
    if (depth_ == 2 && name == u"channel") {
        const QString id = xml_.attributes().value(QLatin1String("id")).toString();
        if (id.isEmpty())
            return;
        channel_ = channelIndex_.value(id, -1);
        if (channel_ < 0) {
            channel_ = feed_.channels.size();
            channelIndex_.insert(id, channel_);
            feed_.channels.append({id, {}, {}});
        }
    } else if (depth_ == 2 && name == u"programme") {
        const QXmlStreamAttributes attributes = xml_.attributes();
        programmeChannel_ = channelIndex_.value(attributes.value(QLatin1String("channel")).toString(), -1);
        if (!ParseFeedTime(attributes.value(QLatin1String("start")), programme_.date, programme_.time))
            programmeChannel_ = -1;
        title_.reset();
        subTitle_.reset();
    } else if (depth_ == 3) {
        if (channel_ >= 0 && name == u"display-name")
            field_ = Field::DisplayName;
        else if (programmeChannel_ >= 0 && name == u"title")
            field_ = Field::Title;
        else if (programmeChannel_ >= 0 && name == u"sub-title")
            field_ = Field::SubTitle;
        if (field_ != Field::None)
            fieldText_ = {{}, IsChineseLang(xml_.attributes().value(QLatin1String("lang")))};
    }
}

// Of several titles (one per language), the first Chinese one, else the first.
void FeedReader::KeepPreferred(std::optional<FieldText>& kept) {
    fieldText_.text = CleanText(std::move(fieldText_.text));
    if (fieldText_.text.isEmpty())
        return;
    if (!kept || (fieldText_.chinese && !kept->chinese))
        kept = std::move(fieldText_);
}

void FeedReader::EndElement() {
    if (depth_ == 3 && field_ != Field::None) {
        if (field_ == Field::DisplayName) {
            QStringList& names = feed_.channels[channel_].displayNames;
            const QString text = CleanText(std::move(fieldText_.text));
            if (!text.isEmpty() && names.size() < kMaxDisplayNames)
                names.append(text);
        } else {
            KeepPreferred(field_ == Field::Title ? title_ : subTitle_);
        }
        field_ = Field::None;
    } else if (depth_ == 2) {
        if (programmeChannel_ >= 0 && title_) {
            programme_.title = subTitle_ ? title_->text + u'：' + subTitle_->text : title_->text;
            feed_.channels[programmeChannel_].programmes.append(programme_);
        }
        channel_ = -1;
        programmeChannel_ = -1;
    }
    --depth_;
}

void AppendTwoDigits(QString& text, int value) {
    text += QChar(u'0' + value / 10);
    text += QChar(u'0' + value % 10);
}

QString Heading(const QDate& date) {
    static const char16_t* const kWeekdays[] = {u"星期一", u"星期二", u"星期三", u"星期四",
                                                u"星期五", u"星期六", u"星期日"};
    return date.toString(u"yyyy-MM-dd") + u' ' + QString::fromUtf16(kWeekdays[date.dayOfWeek() - 1]);
}

// Removes the temporary files of an import that did not finish.
class TemporaryFiles final {
public:
    ~TemporaryFiles() {
        for (const QString& path : paths_)
            QFile::remove(path);
    }
    void Add(const QString& path) { paths_.append(path); }
    void Release() { paths_.clear(); }

private:
    QStringList paths_;
};

QString ClassFolderPath(const QString& dataFolder, const QString& classFolder) {
    QString path = QDir(dataFolder).filePath(classFolder);
    const QFileInfo info(path);
    // A link would lead the listings out of the data folder.
    if (info.isSymLink() || (info.exists() && !info.isDir()))
        throw Exception(
            QStringLiteral("The class folder \"%1\" is not a folder of the data folder").arg(path));
    if (!info.exists() && !QDir().mkdir(path))
        throw Exception(QStringLiteral("Cannot make the class folder \"%1\"").arg(path));
    return path;
}

void WriteNewFile(const QString& path, const QByteArray& bytes) {
    QFile::remove(path); // a leftover of an earlier import; never followed if it is a link
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(bytes) != bytes.size() ||
        !file.flush())
        throw Exception(QStringLiteral("Cannot write \"%1\": %2").arg(path, file.errorString()));
    file.close();
}

} // namespace

Feed ReadXmltvFeed(QIODevice& device, qint64 maxFeedBytes) {
    return FeedReader().Read(device, maxFeedBytes);
}

QString ChannelTitleName(const FeedChannel& channel) {
    for (const QString& name : channel.displayNames) {
        for (const QChar c : name) {
            if (c.script() == QChar::Script_Han)
                return name;
        }
    }
    return channel.displayNames.isEmpty() ? channel.id : channel.displayNames.first();
}

QByteArray ListingFileBytes(const QString& displayName, const QList<FeedProgramme>& programmes) {
    QList<const FeedProgramme*> ordered;
    ordered.reserve(programmes.size());
    for (const FeedProgramme& programme : programmes)
        ordered.append(&programme);
    std::stable_sort(ordered.begin(), ordered.end(), [](const FeedProgramme* a, const FeedProgramme* b) {
        return a->date != b->date ? a->date < b->date : a->time < b->time;
    });
    QString text = displayName + u" 一周节目预告\r\n\r\n"_qs;
    QDate day;
    for (const FeedProgramme* programme : ordered) {
        if (programme->date != day) {
            if (day.isValid())
                text += u"\r\n"_qs;
            day = programme->date;
            text += Heading(day) + u"\r\n"_qs;
        }
        AppendTwoDigits(text, programme->time.hour());
        text += u':';
        AppendTwoDigits(text, programme->time.minute());
        if (programme->time.second() != 0) {
            text += u':';
            AppendTwoDigits(text, programme->time.second());
        }
        text += u' ' + programme->title + u"\r\n"_qs;
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

// "name.txt" → "name(2).txt" for the second channel that the map sends to the same file.
QString NumberedFileName(const QString& fileName, int number) {
    const qsizetype dot = fileName.lastIndexOf(u'.');
    const qsizetype stem = dot > 0 ? dot : fileName.size();
    return fileName.first(stem) + u'(' + QString::number(number) + u')' + fileName.sliced(stem);
}

QList<ImportedListing> WritePlacedListings(const QString& dataFolder, const QList<PlacedListing>& listings) {
    QList<ImportedListing> written;
    QStringList finalPaths;
    QSet<QString> taken;
    TemporaryFiles temporaries;
    for (const PlacedListing& listing : listings) {
        ChannelPlace place = listing.place;
        const QString folder = ClassFolderPath(dataFolder, place.classFolder);
        const QString wanted = place.fileName;
        for (int number = 2; taken.contains(folder + u'/' + place.fileName); ++number)
            place.fileName = NumberedFileName(wanted, number);
        const QString path = folder + u'/' + place.fileName;
        taken.insert(path);
        temporaries.Add(path + kTemporarySuffix);
        WriteNewFile(path + kTemporarySuffix, listing.bytes);
        finalPaths.append(path);
        written.append({place.classFolder, place.fileName});
    }
    for (const QString& path : finalPaths) {
        if (std::rename(QFile::encodeName(path + kTemporarySuffix).constData(),
                        QFile::encodeName(path).constData()) != 0)
            throw Exception(QStringLiteral("Cannot put the listing \"%1\" in place").arg(path));
    }
    temporaries.Release();
    return written;
}

void MoveProgrammes(QList<FeedProgramme>& programmes, int minutes) {
    if (minutes == 0)
        return;
    for (FeedProgramme& programme : programmes) {
        // Counted on the wall clock of the feed, whatever the machine's zone does that day.
        const QDateTime moved =
            QDateTime(programme.date, programme.time, Qt::UTC).addSecs(qint64(minutes) * 60);
        programme.date = moved.date();
        programme.time = moved.time();
    }
}

QList<ImportedListing> ImportXmltvFeed(QIODevice& device, const QString& dataFolder, qint64 maxFeedBytes,
                                       int offsetMinutes) {
    Feed feed = ReadXmltvFeed(device, maxFeedBytes);
    for (FeedChannel& channel : feed.channels)
        MoveProgrammes(channel.programmes, offsetMinutes);
    if (!QDir().mkpath(dataFolder))
        throw Exception(QStringLiteral("Cannot make the data folder \"%1\"").arg(dataFolder));
    const ChannelMap map = LoadChannelMap(dataFolder);
    QList<PlacedListing> listings;
    for (const FeedChannel& channel : feed.channels)
        listings.append({map.Place(channel.id, channel.displayNames),
                         ListingFileBytes(ChannelTitleName(channel), channel.programmes)});
    return WritePlacedListings(dataFolder, listings);
}

QList<ImportedListing> ImportXmltvFile(const QString& feedPath, const QString& dataFolder,
                                       int offsetMinutes) {
    QFile file(feedPath);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Cannot open the feed \"%1\": %2").arg(feedPath, file.errorString()));
    return ImportXmltvFeed(file, dataFolder, kMaxFeedBytes, offsetMinutes);
}
