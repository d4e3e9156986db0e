#pragma once

#include "guide/GuideSearch.h"
#include "guide/SeriesTitle.h"
#include "reminders/Reminder.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// A show a person follows: a saved search, the text the search field takes (title, pinyin initials
// or full pinyin), optionally on one channel.
enum class AutoRemind {
    NewEpisodes, // "新集": the first airing of each episode not seen before
    Every,       // "全部": every airing
};

struct FollowedShow {
    QString id;
    QString text;
    QString channel;    // the name shown; empty: every channel
    QString channelKey; // its identity; empty: every channel
    bool autoRemind = false;
    AutoRemind mode = AutoRemind::NewEpisodes;
    // The episodes that reminders were made for already (EpisodeName), so that a repeat next week
    // is no new episode.
    QStringList seen;
};

QJsonObject FollowedShowToJson(const FollowedShow& show);
std::optional<FollowedShow> FollowedShowFromJson(const QJsonObject& object);

// One airing of a followed show.
struct Airing {
    qsizetype channel = -1; // index into the searched guide's channels
    const Programme* programme = nullptr;
    bool past = false;
    std::optional<SeriesEpisode> episode;
};

// The key of a channel's name (its identity, see ChannelNameKey), kept per name: a guide asks for
// the same few hundred names again and again.
class ChannelKeys final {
public:
    const QString& KeyOf(const QString& name);

private:
    QHash<QString, QString> keys_;
};

// The airings of a show in a guide at `now`: upcoming first, earliest first, then past ones.
QList<Airing> AiringsOf(const FollowedShow& show, const GuideSearch& search, const QDateTime& now,
                        ChannelKeys& keys);

// What names an episode among a show's airings: "series\tN" where the title names an episode, else
// the title itself (a show without episode numbers has a new title for each new one).
QString EpisodeName(const Programme& programme, const std::optional<SeriesEpisode>& episode);

// A reminder of a programme of a guide's channel, with the programme's end as its end.
Reminder ReminderOf(const GuideChannel& channel, const QString& channelKey, const Programme& programme,
                    int lead);

// The reminders that "自动提醒" adds for the show's airings that start after `now`, none of which
// is in `existing`; "新集" marks the episodes it reminds of as seen in `show`.
QList<Reminder> AutomaticReminders(FollowedShow& show, const QList<Airing>& airings, const Guide& guide,
                                   const QList<Reminder>& existing, int lead, const QDateTime& now,
                                   ChannelKeys& keys);
