#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// What makes two channels of feeds one channel. Feeds spell a channel many ways ("CCTV-1 综合",
// "cctv1 HD", "ＣＣＴＶ１", "中央電視台"); one key stands for them all, and a file that a person edits
// joins the spellings that no rule can ("CCTV-1", "中央一台").

// The key of one name:
//  1. NFKC (full-width letters and digits become the plain ones);
//  2. Traditional characters become Simplified (ICU "Traditional-Simplified");
//  3. case-folded;
//  4. spaces, "-", "_" and "·" removed;
//  5. the decorations "HD", "高清", "超清", "标清", "频道", "综合" (and "UHD", "FHD", "超高清", which
//     would otherwise leave a letter behind) dropped from the end, as long as something is left.
// "4K" and "8K" are no decoration, so such a channel keeps its own key; nor are "欧洲", "美洲",
// "亚洲", so regional variants stay apart.
QString ChannelNameKey(QStringView name);

// The name a channel is shown by when no alias names it: its first display name with a Chinese
// character, else its first display name, else its first id.
QString ChannelShownName(const QStringList& ids, const QStringList& displayNames);

struct ChannelIdentity {
    QString name; // shown in the listing's title line and the channel list
    QString key;
};

// The aliases a person keeps: the UTF-8 text file "channel-aliases.map" in the data folder, one
// channel a line, its names separated by tabs, the first the name it is shown by. "#" starts a
// comment line. A channel any of whose ids or display names has the key of a name on a line is
// that line's channel; the first line that has the key wins.
inline constexpr const char16_t* kChannelAliasFileName = u"channel-aliases.map";
inline constexpr qint64 kMaxChannelAliasBytes = qint64(1) << 20;

class ChannelAliases final {
public:
    static ChannelAliases Parse(QStringView text);

    // A channel's identity: the alias line's first name and its key when a line names the channel,
    // else ChannelShownName and its key.
    ChannelIdentity Identify(const QStringList& ids, const QStringList& displayNames) const;

    qsizetype LineCount() const { return shownNames_.size(); }

private:
    QHash<QString, qsizetype> lineOfKey_;
    QStringList shownNames_; // per line
};

// The text written when the data folder has no alias file: only comments that say how.
QString DefaultChannelAliasText();

// Reads the data folder's aliases; none when there is no file. A file that is no regular file, is
// larger than kMaxChannelAliasBytes or cannot be read is named in the log and no aliases are used.
ChannelAliases LoadChannelAliases(const QString& dataFolder);

// Writes the default file when the data folder has none, so that a person finds it beside the
// channel map. Throws Exception when it cannot be written.
void WriteMissingChannelAliasFile(const QString& dataFolder);
