#include "xmltv/ChannelIdentity.h"

#include "catalogue/ListingFile.h"
#include "platform/Exception.h"
#include "xmltv/EditedLines.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>

#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <memory>
#include <mutex>

namespace {

Q_LOGGING_CATEGORY(lcAliases, "pelnavi.xmltv.aliases")

// Longer first, so that "超高清" goes whole rather than leaving "超".
const char16_t* const kDecorations[] = {u"超高清", u"uhd",  u"fhd",  u"高清", u"超清",
                                        u"标清",   u"频道", u"综合", u"hd"};

bool IsHan(char16_t unit) {
    // The basic and first extension blocks, the compatibility block, and surrogates (the rarer
    // extensions): enough to tell a name that the conversion may change from one it cannot.
    return (unit >= 0x3400 && unit <= 0x9FFF) || (unit >= 0xF900 && unit <= 0xFAFF) ||
           (unit >= 0xD800 && unit <= 0xDFFF);
}

// Made once: ICU takes tens of milliseconds to build it. ICU's transliterators may not be used by
// two threads at once.
class Simplifier final {
public:
    static Simplifier& Instance() {
        static Simplifier simplifier;
        return simplifier;
    }

    QString Simplified(const QString& text) {
        icu::UnicodeString converted(reinterpret_cast<const UChar*>(text.utf16()),
                                     static_cast<int32_t>(text.size()));
        {
            const std::lock_guard lock(mutex_);
            transliterator_->transliterate(converted);
        }
        return QString(reinterpret_cast<const QChar*>(converted.getBuffer()), converted.length());
    }

private:
    Simplifier() {
        UErrorCode status = U_ZERO_ERROR;
        transliterator_.reset(
            icu::Transliterator::createInstance("Traditional-Simplified", UTRANS_FORWARD, status));
        if (U_FAILURE(status) || !transliterator_)
            throw Exception(QStringLiteral("ICU Traditional-Simplified: %1")
                                .arg(QString::fromLatin1(u_errorName(status))));
    }

    std::mutex mutex_;
    std::unique_ptr<icu::Transliterator> transliterator_;
};

bool IsLeftOut(QChar c) {
    return c.isSpace() || c == u'-' || c == u'_' || c == u'\u00B7' || c == u'\u30FB';
}

void DropDecorations(QString& key) {
    for (bool dropped = true; dropped;) {
        dropped = false;
        for (const char16_t* decoration : kDecorations) {
            const QStringView ending(decoration);
            if (key.size() > ending.size() && key.endsWith(ending)) {
                key.chop(ending.size());
                dropped = true;
                break;
            }
        }
    }
}

bool HasChinese(QStringView text) {
    for (const QChar c : text) {
        if (c.script() == QChar::Script_Han)
            return true;
    }
    return false;
}

} // namespace

QString ChannelNameKey(QStringView name) {
    QString key = name.toString().normalized(QString::NormalizationForm_KC);
    if (std::any_of(key.cbegin(), key.cend(), [](QChar c) { return IsHan(c.unicode()); }))
        key = Simplifier::Instance().Simplified(key);
    key = key.toCaseFolded();
    key.removeIf(IsLeftOut);
    DropDecorations(key);
    return key;
}

QString ChannelShownName(const QStringList& ids, const QStringList& displayNames) {
    for (const QString& name : displayNames) {
        if (HasChinese(name))
            return name.trimmed();
    }
    for (const QString& name : displayNames) {
        if (!name.trimmed().isEmpty())
            return name.trimmed();
    }
    return ids.isEmpty() ? QString() : ids.first();
}

ChannelAliases ChannelAliases::Parse(QStringView text) {
    ChannelAliases aliases;
    ForEachEditedLine(text, [&aliases](int, QStringView line) {
        QStringList names;
        for (const QStringView name : line.split(u'\t')) {
            if (!name.trimmed().isEmpty())
                names.append(name.trimmed().toString());
        }
        if (names.isEmpty())
            return;
        const qsizetype index = aliases.shownNames_.size();
        aliases.shownNames_.append(names.first());
        for (const QString& name : names) {
            const QString key = ChannelNameKey(name);
            if (!key.isEmpty() && !aliases.lineOfKey_.contains(key))
                aliases.lineOfKey_.insert(key, index);
        }
    });
    return aliases;
}

ChannelIdentity ChannelAliases::Identify(const QStringList& ids, const QStringList& displayNames) const {
    qsizetype line = -1;
    if (!lineOfKey_.isEmpty()) {
        const auto look = [&](const QString& name) {
            const qsizetype found = lineOfKey_.value(ChannelNameKey(name), -1);
            if (found >= 0 && (line < 0 || found < line))
                line = found;
        };
        for (const QString& name : displayNames)
            look(name);
        for (const QString& id : ids)
            look(id);
    }
    ChannelIdentity identity;
    identity.name = line >= 0 ? shownNames_[line] : ChannelShownName(ids, displayNames);
    identity.key = ChannelNameKey(identity.name);
    // A name of nothing but spaces and dashes still tells its channel from others.
    if (identity.key.isEmpty())
        identity.key = identity.name;
    return identity;
}

QString DefaultChannelAliasText() {
    return QStringLiteral(
        "# Names that stand for one channel: one channel a line, its names separated by tabs, the first\n"
        "# the name it is shown by. A feed's channel with any of these names (or ids) is that channel,\n"
        "# in every feed. Names are compared as the program compares channels: without regard to case,\n"
        "# full-width letters, Traditional or Simplified characters, spaces, \"-\", \"_\" and \"·\", or\n"
        "# an ending \"HD\", \"高清\", \"超清\", \"标清\", \"频道\" or \"综合\". For example:\n"
        "#\n"
        "# CCTV-1 综合\t中央一台\tCCTV1.cn\n");
}

namespace {

QString AliasFilePath(const QString& dataFolder) {
    return QDir(dataFolder).filePath(QString::fromUtf16(kChannelAliasFileName));
}

bool EntryExists(const QString& path) {
    const QFileInfo entry(path);
    return entry.exists() || entry.isSymLink();
}

} // namespace

ChannelAliases LoadChannelAliases(const QString& dataFolder) {
    const QString path = AliasFilePath(dataFolder);
    if (!EntryExists(path))
        return {};
    try {
        return ChannelAliases::Parse(QString::fromUtf8(ReadListingFile(path, kMaxChannelAliasBytes)));
    } catch (const Exception& error) {
        qCWarning(lcAliases).noquote() << "the alias file" << path << "is not used:" << error.what();
        return {};
    }
}

void WriteMissingChannelAliasFile(const QString& dataFolder) {
    const QString path = AliasFilePath(dataFolder);
    // Whatever stands there, a link that leads nowhere too, is the user's: never written through.
    if (EntryExists(path))
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(DefaultChannelAliasText().toUtf8()) < 0 ||
        !file.commit())
        throw Exception(QStringLiteral("Cannot write the alias file \"%1\"").arg(path));
}
