#include "xmltv/FeedReader.h"

#include "platform/Exception.h"
#include "xmltv/ChannelIdentity.h"
#include "xmltv/FeedBytes.h"
#include "xmltv/FeedDecoder.h"
#include "xmltv/FeedEncoding.h"
#include "xmltv/ImportPump.h"

#include <QHash>
#include <QXmlStreamReader>

#include <algorithm>
#include <memory>
#include <optional>

namespace {

// Enough for any feed that uses entities for what they are for; a billion-laughs document ends at
// this limit with an error.
constexpr int kEntityExpansionLimit = 4096;
// Longest text kept of a title, sub-title or display name; the rest is dropped.
constexpr qsizetype kMaxFieldChars = 1024;
constexpr qsizetype kMaxDisplayNames = 16;
// Qt's reader holds a piece of text or markup whole until it ends; without a bound, a feed of
// whitespace or one endless attribute would take gigabytes before the feed's own bound stops it.
constexpr qint64 kMaxTokenBytes = qint64(4) << 20;
// The channels are kept while the programmes stream past: their ids and display names, with
// what a channel costs besides, may fill this many characters.
constexpr qsizetype kMaxChannelText = qsizetype(8) << 20;
constexpr qsizetype kChannelOverheadChars = 64;

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

// The offset after a start: "+0800", "-0500", "+09:30", "+05"; "Z", "UTC" and "GMT" are +0000.
// Empty when there is none or it is not understood (a zone's name such as "BST").
std::optional<int> ParseOffsetSeconds(QStringView text) {
    text = text.trimmed();
    if (text.size() < 3 || (text[0] != u'+' && text[0] != u'-')) {
        if (text == u"Z" || text.compare(u"UTC", Qt::CaseInsensitive) == 0 ||
            text.compare(u"GMT", Qt::CaseInsensitive) == 0)
            return 0;
        return std::nullopt;
    }
    const int sign = text[0] == u'+' ? 1 : -1;
    QStringView rest = text.sliced(1);
    int hours = 0, minutes = 0;
    if (!ReadDigits(rest, 0, 2, hours))
        return std::nullopt;
    rest = rest.sliced(2);
    if (rest.startsWith(u':'))
        rest = rest.sliced(1);
    if (!rest.isEmpty() && (rest.size() != 2 || !ReadDigits(rest, 0, 2, minutes)))
        return std::nullopt;
    if (hours > 23 || minutes > 59)
        return std::nullopt;
    return sign * (hours * 3600 + minutes * 60);
}

// Moves a start given at `offsetSeconds` from UTC to Beijing time.
void ToListingClock(QDate& date, QTime& time, int offsetSeconds) {
    constexpr qint64 kDayMsecs = qint64(24) * 3600 * 1000;
    const qint64 msecs = time.msecsSinceStartOfDay() + qint64(kListingOffsetSeconds - offsetSeconds) * 1000;
    const qint64 days = msecs >= 0 ? msecs / kDayMsecs : -((-msecs + kDayMsecs - 1) / kDayMsecs);
    date = date.addDays(days);
    time = QTime::fromMSecsSinceStartOfDay(static_cast<int>(msecs - days * kDayMsecs));
}

// "YYYYMMDDhhmmss +0800" and its shorter forms (down to the date alone), in Beijing time. The
// listings are Beijing time: a programme at "+0000" 12:00 starts at 20:00 there.
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
    if (!date.isValid() || !time.isValid())
        return false;
    if (const std::optional<int> offset = ParseOffsetSeconds(text.sliced(digits));
        offset && *offset != kListingOffsetSeconds)
        ToListingClock(date, time, *offset);
    return date.isValid();
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
    FeedReader(FeedProgrammeSink& sink, const FeedLimits& limits, ImportPump* pump,
               const ChannelAliases& aliases)
        : sink_(sink), limits_(limits), pump_(pump), aliases_(aliases) {}
    QList<FeedChannel> Read(QIODevice& device);

private:
    void Hand(const QByteArray& piece, bool last);
    qsizetype FeedMore();
    void CountChannelText(qsizetype chars);
    void StartElement();
    void EndElement();
    void KeepPreferred(std::optional<FieldText>& kept);
    void IdentifyNewChannel();

    enum class Field { None, DisplayName, Title, SubTitle };

    QXmlStreamReader xml_;
    std::unique_ptr<FeedBytes> bytes_;
    std::optional<FeedDecoder> decoder_;
    FeedProgrammeSink& sink_;
    const FeedLimits limits_;
    ImportPump* pump_;
    const ChannelAliases& aliases_;
    QList<FeedChannel> channels_;
    QHash<QString, qsizetype> channelIndex_; // by every id
    QHash<QString, qsizetype> keyIndex_;     // by identity
    qsizetype channelText_ = 0;
    int depth_ = 0;
    qsizetype channel_ = -1; // the <channel> being read
    bool channelIsNew_ = false;
    // The <programme> being read.
    qsizetype programmeChannel_ = -1;
    FeedProgramme programme_;
    std::optional<FieldText> title_, subTitle_;
    Field field_ = Field::None;
    FieldText fieldText_;
};

void FeedReader::Hand(const QByteArray& piece, bool last) {
    if (decoder_)
        xml_.addData(decoder_->Decode(piece, last));
    else
        xml_.addData(piece);
}

// Hands the next piece to the reader; 0 at the end of the feed.
qsizetype FeedReader::FeedMore() {
    const QByteArray piece = bytes_->Next();
    Hand(piece, piece.isEmpty());
    return piece.size();
}

void FeedReader::CountChannelText(qsizetype chars) {
    channelText_ += chars;
    if (channelText_ > kMaxChannelText)
        throw Exception(
            QStringLiteral("The feed's channels hold more than %1 characters").arg(kMaxChannelText));
}

QList<FeedChannel> FeedReader::Read(QIODevice& device) {
    bytes_ = std::make_unique<FeedBytes>(device, limits_.feedBytes);
    xml_.setEntityExpansionLimit(kEntityExpansionLimit);
    QByteArray head;
    while (head.size() < kDeclarationWindow && !head.contains("?>")) {
        const QByteArray piece = bytes_->Next();
        if (piece.isEmpty())
            break;
        head += piece;
    }
    // Qt reads only the Unicode encodings; text handed over decoded skips the declaration.
    if (const FeedCodePage codePage = DeclaredCodePage(head); codePage != FeedCodePage::None)
        decoder_.emplace(codePage);
    Hand(head, head.isEmpty());
    bool more = !head.isEmpty();
    qint64 sinceToken = head.size(); // bytes handed to the reader since its last token
    // In pieces the reader reports each end of the data as an early end of the document; only
    // an end of the document after the last piece is one.
    for (;;) {
        const QXmlStreamReader::TokenType token = xml_.readNext();
        if (xml_.hasError()) {
            if (xml_.error() == QXmlStreamReader::PrematureEndOfDocumentError && more) {
                if (sinceToken > kMaxTokenBytes)
                    throw Exception(
                        QStringLiteral("The feed holds a piece of text or markup of more than %1 bytes")
                            .arg(kMaxTokenBytes));
                const qsizetype handed = FeedMore();
                more = handed > 0;
                sinceToken += handed;
                continue;
            }
            throw Exception(QStringLiteral("The feed is not a whole XMLTV document: %1 (line %2)")
                                .arg(xml_.errorString())
                                .arg(xml_.lineNumber()));
        }
        sinceToken = 0;
        if (pump_)
            pump_->Reached();
        if (token == QXmlStreamReader::StartElement)
            StartElement();
        else if (token == QXmlStreamReader::EndElement)
            EndElement();
        else if (token == QXmlStreamReader::Characters && field_ != Field::None &&
                 fieldText_.text.size() < kMaxFieldChars)
            fieldText_.text += xml_.text().first(std::min(xml_.text().size(), kMaxFieldChars));
        else if (token == QXmlStreamReader::EndDocument)
            return std::move(channels_);
    }
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
        channelIsNew_ = channel_ < 0;
        if (channel_ < 0) {
            if (channels_.size() >= limits_.channels)
                throw Exception(QStringLiteral("The feed has more than %1 channels").arg(limits_.channels));
            CountChannelText(kChannelOverheadChars + id.size());
            channel_ = channels_.size();
            channelIndex_.insert(id, channel_);
            channels_.append({{id}, {}, {}, {}, {}});
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

// Once a new channel's names are known: a channel of the identity of one declared before is that
// one declared twice, and gives it its id and names.
void FeedReader::IdentifyNewChannel() {
    FeedChannel& channel = channels_[channel_];
    ChannelIdentity identity = aliases_.Identify(channel.ids, channel.displayNames);
    const qsizetype first = keyIndex_.value(identity.key, -1);
    if (first < 0) {
        keyIndex_.insert(identity.key, channel_);
        channel.name = std::move(identity.name);
        channel.key = std::move(identity.key);
        return;
    }
    FeedChannel& earlier = channels_[first];
    earlier.ids.append(channel.ids.first());
    for (const QString& name : std::as_const(channel.displayNames)) {
        if (earlier.displayNames.size() < kMaxDisplayNames && !earlier.displayNames.contains(name))
            earlier.displayNames.append(name);
    }
    channelIndex_.insert(channel.ids.first(), first);
    channels_.removeLast(); // the new channel is the last
}

void FeedReader::EndElement() {
    if (depth_ == 3 && field_ != Field::None) {
        if (field_ == Field::DisplayName) {
            QStringList& names = channels_[channel_].displayNames;
            const QString text = CleanText(std::move(fieldText_.text));
            if (!text.isEmpty() && names.size() < kMaxDisplayNames && !names.contains(text)) {
                CountChannelText(text.size());
                names.append(text);
            }
        } else {
            KeepPreferred(field_ == Field::Title ? title_ : subTitle_);
        }
        field_ = Field::None;
    } else if (depth_ == 2) {
        if (channel_ >= 0 && channelIsNew_)
            IdentifyNewChannel();
        if (programmeChannel_ >= 0 && title_) {
            programme_.title = subTitle_ ? title_->text + u'：' + subTitle_->text : title_->text;
            sink_.Programme(programmeChannel_, programme_);
        }
        channel_ = -1;
        programmeChannel_ = -1;
    }
    --depth_;
}

} // namespace

QList<FeedChannel> ReadFeed(QIODevice& device, FeedProgrammeSink& sink, const FeedLimits& limits,
                            ImportPump* pump, const ChannelAliases* aliases) {
    static const ChannelAliases kNoAliases;
    return FeedReader(sink, limits, pump, aliases != nullptr ? *aliases : kNoAliases).Read(device);
}

Feed ReadXmltvFeed(QIODevice& device, qint64 maxFeedBytes, const ChannelAliases* aliases) {
    struct Collect final : FeedProgrammeSink {
        QList<QList<FeedProgramme>> byChannel;
        void Programme(qsizetype channel, const FeedProgramme& programme) override {
            if (byChannel.size() <= channel)
                byChannel.resize(channel + 1);
            byChannel[channel].append(programme);
        }
    } collect;
    Feed feed{ReadFeed(device, collect, FeedLimits{maxFeedBytes}, nullptr, aliases)};
    for (qsizetype i = 0; i < collect.byChannel.size(); ++i)
        feed.channels[i].programmes = std::move(collect.byChannel[i]);
    return feed;
}
