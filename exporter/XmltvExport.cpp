#include "exporter/XmltvExport.h"

#include "catalogue/CatalogueWalk.h"
#include "catalogue/FeedListingIndex.h"
#include "catalogue/FileNames.h"
#include "catalogue/ListingFile.h"
#include "catalogue/ListingTime.h"
#include "catalogue/Schedule.h"
#include "platform/Exception.h"

#include <QDir>
#include <QFileInfo>
#include <QIODevice>
#include <QLoggingCategory>
#include <QSet>
#include <QXmlStreamWriter>

namespace {

Q_LOGGING_CATEGORY(lcExport, "pelnavi.xmltv.export")

// ASCII letters and digits as they are, every other byte of the name as "-" and two hex digits: the
// alphabet that XMLTV allows between the dots of an id, and a name never gets another's id.
QString Escaped(QStringView name) {
    QString escaped;
    for (const char byte : EncodeFileName(name)) {
        const auto unit = static_cast<unsigned char>(byte);
        if ((unit >= '0' && unit <= '9') || (unit >= 'A' && unit <= 'Z') || (unit >= 'a' && unit <= 'z'))
            escaped += QChar(unit);
        else
            escaped += QString::asprintf("-%02x", unit);
    }
    return escaped;
}

// XML 1.0 has no room for control characters, lone surrogates and U+FFFE, U+FFFF.
QString XmlText(QString text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        QChar& c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        const bool notXml = (c.category() == QChar::Other_Control && c != u'\t') || c.unicode() >= 0xFFFE;
        if (c.isSurrogate() || notXml)
            c = c.isSurrogate() ? QChar(QChar::ReplacementCharacter) : QChar(u' ');
    }
    return text;
}

// The listings' clock's offset as XMLTV writes it, " +0800".
static_assert(kListingUtcOffset >= 0);
const QString kListingOffsetText =
    QString::asprintf(" +%02d%02d", kListingUtcOffset / 3600, kListingUtcOffset % 3600 / 60);

// An instant as its time on the listings' clock with that clock's offset, "20261210190000 +0800".
QString XmltvTime(const QDateTime& moment) {
    return ListingTimeOf(moment).toString(u"yyyyMMddHHmmss") + kListingOffsetText;
}

struct Channel {
    QString id;
    QString name;
    QString path;
};

QString MadeChannelId(const QString& root, const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString folder = path.sliced(root.size(), std::max<qsizetype>(slash - root.size(), 0));
    return ExportChannelId(folder, path.sliced(slash + 1));
}

// The feed's own id for a listing a feed gave (its first, where several went into one listing),
// else the one made of its place. Ids made of places are all different; a feed's id that another
// channel of the document already has gives way to the one made, numbered if need be.
QStringList ChannelIds(const QString& root, const CatalogueEntries& entries,
                       const FeedListingNames& feedNames) {
    QList<const FeedListingEntry*> fromFeed;
    QSet<QString> taken;
    QStringList ids;
    for (const QString& path : entries.listingPaths) {
        const FeedListingEntry* entry = feedNames.Find(path);
        fromFeed.append(entry != nullptr && !entry->ids.isEmpty() ? entry : nullptr);
        ids.append(MadeChannelId(root, path));
        if (fromFeed.back() == nullptr)
            taken.insert(ids.back());
    }
    for (qsizetype i = 0; i < ids.size(); ++i) {
        if (fromFeed[i] == nullptr)
            continue;
        QString id = XmlText(fromFeed[i]->ids.first());
        for (int number = 2; id.isEmpty() || taken.contains(id); ++number)
            id = number == 2 ? ids[i] : ids[i] + u'-' + QString::number(number - 1);
        ids[i] = id;
        taken.insert(id);
    }
    return ids;
}

QList<Channel> Channels(const QString& dataFolder) {
    const QString root = QDir(dataFolder).absolutePath() + u'/';
    const FeedListingNames feedNames = FeedListingNames::Load(root);
    // Never beyond the data folder: a link there must not carry other files into the document.
    const CatalogueEntries entries = CollectCatalogue(root, WalkScope::WithinFolder, &feedNames);
    const QStringList ids = ChannelIds(root, entries, feedNames);
    QList<Channel> channels;
    for (qsizetype i = 0; i < entries.listingPaths.size(); ++i) {
        const QString& path = entries.listingPaths[i];
        // A name the table empties ("dongfang.txt") still needs a name in the document.
        const QString name = entries.displayNames[i].isEmpty() ? path.sliced(path.lastIndexOf(u'/') + 1)
                                                               : entries.displayNames[i];
        channels.append({ids[i], XmlText(name), path});
    }
    return channels;
}

bool InRange(const QDateTime& moment, const ExportRange& range) {
    // Days are the listings' days.
    const QDateTime start = ListingTimeOf(moment);
    if (range.firstDay.isValid() && start.date() < range.firstDay)
        return false;
    return !range.days || !range.firstDay.isValid() || start.date() < range.firstDay.addDays(*range.days);
}

void WriteProgrammes(QXmlStreamWriter& xml, const Channel& channel, const ExportRange& range) {
    QStringList lines;
    try {
        lines = LoadListingLines(channel.path);
    } catch (const Exception& error) {
        qCWarning(lcExport) << "listing left out:" << error.Message();
        return;
    }
    const Schedule schedule = ParseSchedule(lines);
    for (const ScheduleDay& day : schedule.days) {
        for (const Programme& programme : day.programmes) {
            if (!programme.Dated() || !InRange(programme.StartTime(), range))
                continue;
            xml.writeStartElement(u"programme"_qs);
            xml.writeAttribute(u"start"_qs, XmltvTime(programme.StartTime()));
            if (programme.stop)
                xml.writeAttribute(u"stop"_qs, XmltvTime(ListingTimeAt(*programme.stop)));
            xml.writeAttribute(u"channel"_qs, channel.id);
            xml.writeStartElement(u"title"_qs);
            xml.writeAttribute(u"lang"_qs, u"zh"_qs);
            xml.writeCharacters(XmlText(programme.title));
            xml.writeEndElement();
            xml.writeEndElement();
        }
    }
}

} // namespace

QString ExportChannelId(const QString& classFolder, const QString& fileName) {
    // "-" alone stands for the data folder itself; no escaped name is a lone "-".
    return (classFolder.isEmpty() ? u"-"_qs : Escaped(classFolder)) + u'.' + Escaped(fileName);
}

ExportRange DaysFrom(const QDateTime& now, int days) {
    return {ListingTimeOf(now).date(), days};
}

int WriteXmltv(const QString& dataFolder, QIODevice& out, const ExportRange& range) {
    if (!QFileInfo(dataFolder).isDir())
        throw Exception(QStringLiteral("The data folder \"%1\" does not exist").arg(dataFolder));
    const QList<Channel> channels = Channels(dataFolder);
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeDTD(u"<!DOCTYPE tv SYSTEM \"xmltv.dtd\">"_qs);
    xml.writeStartElement(u"tv"_qs);
    xml.writeAttribute(u"generator-info-name"_qs, u"pelnavi-xmltv"_qs);
    for (const Channel& channel : channels) {
        xml.writeStartElement(u"channel"_qs);
        xml.writeAttribute(u"id"_qs, channel.id);
        xml.writeStartElement(u"display-name"_qs);
        xml.writeAttribute(u"lang"_qs, u"zh"_qs);
        xml.writeCharacters(channel.name);
        xml.writeEndElement();
        xml.writeEndElement();
    }
    for (const Channel& channel : channels)
        WriteProgrammes(xml, channel, range);
    xml.writeEndElement();
    xml.writeEndDocument();
    if (xml.hasError())
        throw Exception(QStringLiteral("Cannot write the document: %1").arg(out.errorString()));
    return static_cast<int>(channels.size());
}
