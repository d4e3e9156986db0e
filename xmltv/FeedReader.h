#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTime>

class ChannelAliases;
class ImportPump;
class QIODevice;

// Reading an XMLTV feed: its channels and their programmes.

// A feed larger than this once inflated is refused.
inline constexpr qint64 kMaxFeedBytes = qint64(1) << 30;

// The listings' clock: Beijing time, UTC+8 all year, whatever the machine's zone.
inline constexpr int kListingOffsetSeconds = 8 * 3600;

struct FeedProgramme {
    // The start in Beijing time: the feed's time moved from the programme's own offset to UTC+8. A
    // start without an offset is taken as Beijing time already.
    QDate date;
    QTime time;
    QString title; // with the sub-title joined by "："
};

struct FeedChannel {
    // The channel's id, then the ids of channels of the same identity declared after it, whose
    // programmes it took.
    QStringList ids;
    QStringList displayNames;        // in feed order, each once
    QString name;                    // the name it is shown by (ChannelAliases::Identify)
    QString key;                     // its identity (ChannelAliases::Identify)
    QList<FeedProgramme> programmes; // in feed order
};

struct Feed {
    QList<FeedChannel> channels; // in feed order
};

// Takes the programmes of a feed as the reader meets them, in feed order. `channel` indexes the
// channels that ReadFeed returns.
class FeedProgrammeSink {
public:
    virtual void Programme(qsizetype channel, const FeedProgramme& programme) = 0;

protected:
    ~FeedProgrammeSink() = default;
};

// What a feed may hold; beyond it, the feed is refused.
struct FeedLimits {
    qint64 feedBytes = kMaxFeedBytes; // once inflated
    // Each channel becomes a file; a feed of more would fill the class folders.
    qsizetype channels = 10'000;
};

// Reads a whole feed as ReadXmltvFeed does, handing each programme to `sink` as it comes instead of
// keeping it, and passing a pump point after each piece of the document. Returns the channels,
// their programmes left empty.
QList<FeedChannel> ReadFeed(QIODevice& device, FeedProgrammeSink& sink, const FeedLimits& limits = {},
                            ImportPump* pump = nullptr, const ChannelAliases* aliases = nullptr);

// Reads a whole feed (plain or gzip, any encoding Qt reads, GBK and GB2312 through code page 936,
// GB18030 through its own decoder). Throws Exception when the data is not an XMLTV document, breaks
// off, is malformed, expands entities beyond a small limit, or exceeds `maxFeedBytes` inflated.
// Programmes of channels that were never declared, without a usable start or without a title are
// left out. A channel declared again (by its id) or a channel of the identity of one declared
// before (by the key of `aliases`, or of no aliases) adds its ids and names to the first, and its
// programmes go with the first's.
Feed ReadXmltvFeed(QIODevice& device, qint64 maxFeedBytes = kMaxFeedBytes,
                   const ChannelAliases* aliases = nullptr);
