#include "catalogue/FeedListingIndex.h"

#include "catalogue/FileNames.h"
#include "catalogue/ListingFile.h"
#include "platform/Exception.h"
#include "platform/Logging.h"

#include <sys/stat.h>

namespace {

constexpr qsizetype kFixedFields = 5; // path, name, source, size, modified

void AppendEscaped(QString& line, QStringView field) {
    for (const QChar c : field) {
        switch (c.unicode()) {
        case u'\\':
            line += u"\\\\";
            break;
        case u'\t':
            line += u"\\t";
            break;
        case u'\n':
            line += u"\\n";
            break;
        case u'\r':
            line += u"\\r";
            break;
        default:
            line += c;
        }
    }
}

QString Unescaped(QStringView field) {
    QString text;
    text.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] != u'\\' || i + 1 == field.size()) {
            text += field[i];
            continue;
        }
        const QChar next = field[++i];
        text += next == u't'   ? QChar(u'\t')
                : next == u'n' ? QChar(u'\n')
                : next == u'r' ? QChar(u'\r')
                               : next;
    }
    return text;
}

QString WithSlash(const QString& folder) {
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

} // namespace

std::optional<ListingStamp> StampOf(const QString& path) {
    struct stat status {};
    if (::lstat(EncodeFileName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    return ListingStamp{static_cast<qint64>(status.st_size), static_cast<qint64>(status.st_mtim.tv_sec)};
}

QByteArray FormatFeedListingIndex(const QList<FeedListingEntry>& entries) {
    QString text = QStringLiteral("# The listings that XMLTV feeds gave, written by every import of a feed.\n"
                                  "# path, name, source, size, modified, ids; separated by tabs.\n");
    for (const FeedListingEntry& entry : entries) {
        QString line;
        for (const QString* field : {&entry.path, &entry.name, &entry.source}) {
            AppendEscaped(line, *field);
            line += u'\t';
        }
        line += QString::number(entry.stamp.size) + u'\t' + QString::number(entry.stamp.modified);
        for (const QString& id : entry.ids) {
            line += u'\t';
            AppendEscaped(line, id);
        }
        text += line + u'\n';
    }
    return text.toUtf8();
}

QList<FeedListingEntry> ParseFeedListingIndex(QStringView text) {
    QList<FeedListingEntry> entries;
    for (const QStringView line : text.tokenize(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(u'#'))
            continue;
        const QList<QStringView> fields = line.split(u'\t');
        if (fields.size() <= kFixedFields)
            continue;
        FeedListingEntry entry;
        entry.path = Unescaped(fields[0]);
        entry.name = Unescaped(fields[1]);
        entry.source = Unescaped(fields[2]);
        bool sizeRead = false, modifiedRead = false;
        entry.stamp = {fields[3].toLongLong(&sizeRead), fields[4].toLongLong(&modifiedRead)};
        for (qsizetype i = kFixedFields; i < fields.size(); ++i)
            entry.ids.append(Unescaped(fields[i]));
        if (!sizeRead || !modifiedRead || entry.path.isEmpty())
            continue;
        entries.append(std::move(entry));
    }
    return entries;
}

QList<FeedListingEntry> ReadFeedListingIndex(const QString& dataFolder) {
    const QString path = WithSlash(dataFolder) + QString::fromUtf16(kFeedListingIndexFileName);
    struct stat status {};
    if (::lstat(EncodeFileName(path).constData(), &status) != 0)
        return {}; // no feed was imported here
    try {
        return ParseFeedListingIndex(QString::fromUtf8(ReadListingFile(path, kMaxFeedListingIndexBytes)));
    } catch (const Exception& error) {
        qCWarning(lcCatalogue).noquote() << "the index of feed listings is not used:" << error.Message();
        return {};
    }
}

FeedListingNames::FeedListingNames(const QString& dataFolder, const QList<FeedListingEntry>& entries) {
    const QString root = WithSlash(dataFolder);
    for (const FeedListingEntry& entry : entries)
        byPath_.insert(root + entry.path, entry);
}

FeedListingNames FeedListingNames::Load(const QString& dataFolder) {
    return {dataFolder, ReadFeedListingIndex(dataFolder)};
}

const FeedListingEntry* FeedListingNames::Find(const QString& path) const {
    const auto found = byPath_.constFind(path);
    if (found == byPath_.constEnd() || StampOf(path) != found->stamp)
        return nullptr;
    return &*found;
}
