#include "xmltv/ChannelMap.h"

#include "catalogue/CatalogueWalk.h"
#include "catalogue/ChannelNames.h"
#include "catalogue/ListingFile.h"
#include "platform/Exception.h"
#include "xmltv/ChannelIdentity.h"
#include "xmltv/EditedLines.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>

#include <algorithm>
#include <cstdio>

namespace {

Q_LOGGING_CATEGORY(lcChannelMap, "pelnavi.xmltv.channelmap")

constexpr qsizetype kMaxFileNameBytes = 120;
// Lines that are no rule are named in the log up to this many; the rest are only counted.
constexpr int kReportedLinesLeftOut = 10;

// Text as patterns and names are compared: NFKC (full-width letters become plain ones), then
// case-folded.
QString FoldedForMatch(QStringView text) {
    return text.toString().normalized(QString::NormalizationForm_KC).toCaseFolded();
}

// What the rules are matched against: the channel's ids, display names and key, each as the feed
// writes it and folded.
struct MatchTexts {
    QStringList asWritten;
    QStringList folded;

    explicit MatchTexts(const FeedChannel& channel) {
        for (const QStringList* texts : {&channel.ids, &channel.displayNames}) {
            for (const QString& text : *texts) {
                asWritten.append(text);
                folded.append(FoldedForMatch(text));
            }
        }
        if (!channel.key.isEmpty()) {
            asWritten.append(channel.key);
            folded.append(channel.key);
        }
    }
};

bool Matches(const MatchTexts& texts, const QString& substring,
             const std::optional<QRegularExpression>& pattern) {
    if (!pattern)
        return std::any_of(texts.folded.begin(), texts.folded.end(),
                           [&](const QString& text) { return text.contains(substring); });
    const auto match = [&](const QString& text) { return pattern->match(text).hasMatch(); };
    return std::any_of(texts.asWritten.begin(), texts.asWritten.end(), match) ||
           std::any_of(texts.folded.begin(), texts.folded.end(), match);
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
    int leftOut = 0;
    ForEachEditedLine(text, [&](int lineNumber, QStringView line) {
        const QList<QStringView> fields = line.split(u'\t');
        Rule rule;
        const QStringView pattern = fields[0].trimmed();
        rule.classFolder = fields.size() > 1 ? fields[1].trimmed().toString() : QString();
        rule.fileName = fields.size() > 2 ? fields[2].trimmed().toString() : QString();
        if (!rule.fileName.isEmpty() && !IsListingFileName(rule.fileName.toStdString()))
            rule.fileName += u".txt"_qs;
        bool usable = !pattern.isEmpty() && fields.size() <= 3 && IsPlainName(rule.classFolder) &&
                      (rule.fileName.isEmpty() || IsPlainName(rule.fileName));
        QString why;
        if (usable && pattern.size() >= 2 && pattern.startsWith(u'/') && pattern.endsWith(u'/')) {
            rule.pattern = QRegularExpression(pattern.sliced(1, pattern.size() - 2).toString(),
                                              QRegularExpression::CaseInsensitiveOption);
            usable = rule.pattern->isValid();
            if (usable)
                rule.pattern->optimize(); // compiled here once, not at its first match
            else
                why = QStringLiteral(" (%1 at %2)")
                          .arg(rule.pattern->errorString())
                          .arg(rule.pattern->patternErrorOffset());
        } else {
            rule.substring = FoldedForMatch(pattern);
        }
        if (!usable) {
            if (++leftOut <= kReportedLinesLeftOut)
                qCWarning(lcChannelMap).noquote() << "channel map line" << lineNumber
                                                  << "is not a rule, left out:" << line.toString() + why;
            return;
        }
        if (map.rules_.size() == maxRules)
            throw Exception(QStringLiteral("The channel map has more than %1 rules").arg(maxRules));
        map.rules_.append(std::move(rule));
    });
    if (leftOut > kReportedLinesLeftOut)
        qCWarning(lcChannelMap) << leftOut << "lines of the channel map are not rules and were left out";
    return map;
}

ChannelPlace ChannelMap::Place(const FeedChannel& channel) const {
    const MatchTexts texts(channel);
    for (const Rule& rule : rules_) {
        if (Matches(texts, rule.substring, rule.pattern))
            return {rule.classFolder,
                    rule.fileName.isEmpty() ? ListingFileNameFor(channel.name) : rule.fileName};
    }
    return {QString::fromUtf16(kDigitalClass), ListingFileNameFor(channel.name)};
}

ChannelPlace ChannelMap::Place(const QString& id, const QStringList& displayNames) const {
    FeedChannel channel{{id}, displayNames, {}, {}, {}};
    ChannelIdentity identity = ChannelAliases().Identify(channel.ids, displayNames);
    channel.name = std::move(identity.name);
    channel.key = std::move(identity.key);
    return Place(channel);
}

QString ListingFileNameFor(const QString& id, const QStringList& displayNames) {
    return ListingFileNameFor(ChannelShownName({id}, displayNames));
}

QString ListingFileNameFor(const QString& shownName) {
    QString name = shownName.trimmed();
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
            "# The first rule whose pattern is found in the channel's id, in one of its display names\n"
            "# or in its key (the name in small letters without spaces, \"-\" or an ending \"HD\",\n"
            "# \"高清\", \"频道\" …) wins, without regard to case; /…/ makes the pattern a regular\n"
            "# expression. Without a file name the listing is named after the channel. Channels that\n"
            "# no rule matches go to %1.\n"
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
    WriteMissingChannelAliasFile(dataFolder);
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
