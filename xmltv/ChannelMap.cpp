#include "xmltv/ChannelMap.h"

#include "catalogue/CatalogueWalk.h"
#include "catalogue/ChannelNames.h"
#include "catalogue/ListingFile.h"
#include "platform/Exception.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>

#include <cstdio>

namespace {

Q_LOGGING_CATEGORY(lcChannelMap, "pelnavi.xmltv.channelmap")

constexpr qsizetype kMaxFileNameBytes = 120;
// Lines that are no rule are named in the log up to this many; the rest are only counted.
constexpr int kReportedLinesLeftOut = 10;

bool HasChinese(QStringView text) {
    for (const QChar c : text) {
        if (c.script() == QChar::Script_Han)
            return true;
    }
    return false;
}

bool Matches(QStringView candidate, const QString& substring,
             const std::optional<QRegularExpression>& pattern) {
    if (pattern)
        return pattern->match(candidate).hasMatch();
    return candidate.contains(substring);
}

bool EntryExists(const QString& path) {
    const QFileInfo entry(path);
    return entry.exists() || entry.isSymLink();
}

// The map was once a ".txt" file, which the channel list had to be told to skip.
void RenameOldChannelMap(const QString& dataFolder, const QString& path) {
    const QString old = QDir(dataFolder).filePath(QString::fromUtf16(kOldChannelMapFileName));
    if (EntryExists(path) || !EntryExists(old))
        return;
    if (std::rename(QFile::encodeName(old).constData(), QFile::encodeName(path).constData()) != 0)
        throw Exception(QStringLiteral("Cannot rename the channel map \"%1\" to \"%2\"").arg(old, path));
}

} // namespace

bool IsPlainName(QStringView name) {
    if (name.isEmpty() || name == u"." || name == u"..")
        return false;
    for (const QChar c : name) {
        if (c == u'/' || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

ChannelMap ChannelMap::Parse(QStringView text, qsizetype maxRules) {
    ChannelMap map;
    int lineNumber = 0;
    int leftOut = 0;
    for (QStringView line : text.tokenize(u'\n')) {
        ++lineNumber;
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.startsWith(u'\xFEFF'))
            line = line.sliced(1);
        if (line.trimmed().isEmpty() || line.trimmed().startsWith(u'#'))
            continue;
        const QList<QStringView> fields = line.split(u'\t');
        Rule rule;
        const QStringView pattern = fields[0].trimmed();
        rule.classFolder = fields.size() > 1 ? fields[1].trimmed().toString() : QString();
        rule.fileName = fields.size() > 2 ? fields[2].trimmed().toString() : QString();
        if (!rule.fileName.isEmpty() && !IsListingFileName(rule.fileName.toStdString()))
            rule.fileName += u".txt"_qs;
        bool usable = !pattern.isEmpty() && fields.size() <= 3 && IsPlainName(rule.classFolder) &&
                      (rule.fileName.isEmpty() || IsPlainName(rule.fileName));
        if (usable && pattern.size() >= 2 && pattern.startsWith(u'/') && pattern.endsWith(u'/')) {
            rule.pattern = QRegularExpression(pattern.sliced(1, pattern.size() - 2).toString());
            usable = rule.pattern->isValid();
            if (usable)
                rule.pattern->optimize(); // compiled here once, not at its first match
        } else {
            rule.substring = pattern.toString();
        }
        if (!usable) {
            if (++leftOut <= kReportedLinesLeftOut)
                qCWarning(lcChannelMap)
                    << "channel map line" << lineNumber << "is not a rule, left out:" << line;
            continue;
        }
        if (map.rules_.size() == maxRules)
            throw Exception(QStringLiteral("The channel map has more than %1 rules").arg(maxRules));
        map.rules_.append(std::move(rule));
    }
    if (leftOut > kReportedLinesLeftOut)
        qCWarning(lcChannelMap) << leftOut << "lines of the channel map are not rules and were left out";
    return map;
}

ChannelPlace ChannelMap::Place(const QString& id, const QStringList& displayNames) const {
    for (const Rule& rule : rules_) {
        bool matched = Matches(id, rule.substring, rule.pattern);
        for (qsizetype i = 0; !matched && i < displayNames.size(); ++i)
            matched = Matches(displayNames[i], rule.substring, rule.pattern);
        if (matched)
            return {rule.classFolder,
                    rule.fileName.isEmpty() ? ListingFileNameFor(id, displayNames) : rule.fileName};
    }
    return {QString::fromUtf16(kDigitalClass), ListingFileNameFor(id, displayNames)};
}

QString ListingFileNameFor(const QString& id, const QStringList& displayNames) {
    QString name;
    for (const QString& candidate : displayNames) {
        if (HasChinese(candidate)) {
            name = candidate;
            break;
        }
    }
    if (name.isEmpty())
        name = displayNames.isEmpty() || displayNames.first().trimmed().isEmpty() ? id : displayNames.first();
    name = name.trimmed();
    for (QChar& c : name) {
        if (c == u'/' || c.category() == QChar::Other_Control)
            c = u'_';
    }
    if (name.startsWith(u'.'))
        name[0] = u'_';
    if (name.isEmpty())
        name = u"_"_qs;
    // Cut whole characters until the name and its ending fit.
    const qsizetype room = kMaxFileNameBytes - 4;
    while (name.toUtf8().size() > room) {
        name.chop(name.size() >= 2 && name.back().isLowSurrogate() ? 2 : 1);
    }
    return name + u".txt"_qs;
}

QString DefaultChannelMapText() {
    const QString national = QString::fromUtf16(kNationalClass);
    const QString provincial = QString::fromUtf16(kProvincialClass);
    const QString digital = QString::fromUtf16(kDigitalClass);
    const QString abroad = QString::fromUtf16(kAbroadClass);
    QString text =
        QStringLiteral(
            "# Where the channels of an XMLTV feed go: one rule a line,\n"
            "#   pattern<TAB>class folder[<TAB>file name]\n"
            "# The first rule whose pattern is found in the channel's id or in one of its display names\n"
            "# wins; /…/ makes the pattern a regular expression. Without a file name the listing is\n"
            "# named after the channel. Channels that no rule matches go to %1.\n"
            "\n"
            "# National channels, by the names of their numbered listing files.\n")
            .arg(digital);
    const struct {
        const char16_t* file;
        const QString& folder;
    } named[] = {
        {u"01.txt", national},       {u"02.txt", national},       {u"03.txt", national},
        {u"04(亚洲).txt", national}, {u"04(欧洲).txt", national}, {u"04(美洲).txt", national},
        {u"04.txt", national},       {u"05.txt", national},       {u"06.txt", national},
        {u"07.txt", national},       {u"08.txt", national},       {u"09(英).txt", national},
        {u"09.txt", national},       {u"10.txt", national},       {u"11.txt", national},
        {u"12.txt", national},       {u"13.txt", national},       {u"14.txt", national},
        {u"15.txt", national},       {u"16.txt", national},       {u"17.txt", national},
        {u"18.txt", national},       {nullptr, national},         {u"news.txt", abroad},
        {u"俄语.txt", abroad},       {u"法语.txt", abroad},       {u"西语.txt", abroad},
        {u"阿语.txt", abroad},       {u"高清.txt", digital},      {u"少儿.txt", digital},
        {u"音乐.txt", digital},
    };
    for (const auto& entry : named) {
        if (entry.file == nullptr) {
            text += u"\n# Theme channels of the same names.\n"_qs;
            continue;
        }
        const QString file = QString::fromUtf16(entry.file);
        text += ChannelDisplayName(file) + u'\t' + entry.folder + u'\t' + file + u'\n';
    }
    text += u"\n# Channels from abroad, then the provinces' satellite channels.\n"_qs;
    for (const char16_t* word : {u"凤凰", u"香港", u"澳门", u"台湾", u"国际"})
        text += QString::fromUtf16(word) + u'\t' + abroad + u'\n';
    text += u"卫视\t"_qs + provincial + u"\n\n# Everything else.\n/.*/\t"_qs + digital + u'\n';
    return text;
}

ChannelMap LoadChannelMap(const QString& dataFolder) {
    const QString path = QDir(dataFolder).filePath(QString::fromUtf16(kChannelMapFileName));
    RenameOldChannelMap(dataFolder, path);
    // Whatever stands there, a link that leads nowhere too, is the user's: never written through.
    if (!EntryExists(path)) {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(DefaultChannelMapText().toUtf8()) < 0 ||
            !file.commit())
            throw Exception(QStringLiteral("Cannot write the channel map \"%1\"").arg(path));
    }
    // Only a regular file of a bounded size: a FIFO would block the update, a link to a device
    // would never end.
    try {
        return ChannelMap::Parse(QString::fromUtf8(ReadListingFile(path, kMaxChannelMapBytes)));
    } catch (const Exception& error) {
        qCWarning(lcChannelMap).noquote()
            << "the channel map" << path << "is not used, the default rules are:" << error.what();
        return ChannelMap::Parse(DefaultChannelMapText());
    }
}
