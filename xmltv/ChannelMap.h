#pragma once

#include "catalogue/CatalogueClasses.h"
#include "xmltv/FeedReader.h"

#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <optional>

// Where the channels of an XMLTV feed go in the data folder. The map is data that users edit: the
// UTF-8 text file "channel-classes.map" in the data folder, beside the class folders, one rule a
// line:
//
//     pattern<TAB>class folder[<TAB>file name]
//
// The first rule whose pattern matches one of the channel's ids, one of its display names or its
// key (ChannelNameKey) wins. A pattern matches as a substring, or as a regular expression when
// written /…/; either way without regard to case, of ASCII and of full-width letters alike
// ("cctv" matches "CCTV" and "ＣＣＴＶ"). Blank lines and lines starting with "#" are left out; so is
// a rule whose folder or file name is not a plain name (empty, ".", "..", a "/" or a control
// character in it) and a regular expression that does not compile, each named once in the log.

// Its name does not end in "txt", so the channel list never takes it for a listing.
inline constexpr const char16_t* kChannelMapFileName = u"channel-classes.map";
// The name the map had before; a data folder that still holds it has it renamed once.
inline constexpr const char16_t* kOldChannelMapFileName = u"channel-classes.txt";

struct ChannelPlace {
    QString classFolder;
    QString fileName;
};

// A map larger than either is not used: the default rules take its place.
inline constexpr qint64 kMaxChannelMapBytes = qint64(1) << 20;
inline constexpr qsizetype kMaxChannelMapRules = 10'000;

class ChannelMap final {
public:
    // Throws Exception when the text holds more than `maxRules` rules.
    static ChannelMap Parse(QStringView text, qsizetype maxRules = kMaxChannelMapRules);

    // The class folder and listing-file name for a channel. Without a file name in the rule the
    // file is named after the name the channel is shown by (ListingFileNameFor); a channel that no
    // rule matches goes to "数字频道".
    ChannelPlace Place(const FeedChannel& channel) const;
    // The same for a channel of one id and these names, identified without aliases.
    ChannelPlace Place(const QString& id, const QStringList& displayNames) const;

    qsizetype RuleCount() const { return rules_.size(); }

private:
    struct Rule {
        QString substring; // folded (FoldedForMatch)
        std::optional<QRegularExpression> pattern;
        QString classFolder;
        QString fileName;
    };
    QList<Rule> rules_;
};

// The file that the program writes when there is none: national channels by the names that the
// display-name table gives their numbered files, the table's theme channels, then "凤凰", "香港",
// "澳门", "台湾" and "国际" to "境外频道", "卫视" to "地方频道", and the rest to "数字频道".
QString DefaultChannelMapText();

// Reads the map of a data folder, first writing the default file when there is none (or renaming
// the map of the old name), and the default alias file (ChannelIdentity.h) when there is none. A map that is
// no regular file, that cannot be read or that goes beyond a bound is reported in the log and the default
// rules are used instead.
ChannelMap LoadChannelMap(const QString& dataFolder);

// The name a channel's listing file gets when no rule names it: the name it is shown by, with "/"
// and control characters as "_", so also a leading "."; cut to at most 120 bytes of UTF-8 with
// ".txt".
QString ListingFileNameFor(const QString& shownName);
// The same for a channel of one id and these names, shown by ChannelShownName.
QString ListingFileNameFor(const QString& id, const QStringList& displayNames);

// A single, plain component of a path: not empty, not "." or "..", no "/" and no control character.
bool IsPlainName(QStringView name);
