#include "reminders/FollowedShows.h"

#include "catalogue/OnAir.h"
#include "xmltv/ChannelIdentity.h"

#include <QJsonArray>

#include <algorithm>

namespace {

const QString kEveryMode = QStringLiteral("all");
const QString kNewMode = QStringLiteral("new");

bool AlreadyReminded(const QList<Reminder>& reminders, const Reminder& reminder) {
    return std::any_of(reminders.begin(), reminders.end(),
                       [&](const Reminder& other) { return other.SameProgramme(reminder); });
}

} // namespace

QJsonObject FollowedShowToJson(const FollowedShow& show) {
    return {
        {QStringLiteral("id"), show.id},
        {QStringLiteral("text"), show.text},
        {QStringLiteral("channel"), show.channel},
        {QStringLiteral("channelKey"), show.channelKey},
        {QStringLiteral("autoRemind"), show.autoRemind},
        {QStringLiteral("mode"), show.mode == AutoRemind::Every ? kEveryMode : kNewMode},
        {QStringLiteral("seen"), QJsonArray::fromStringList(show.seen)},
    };
}

std::optional<FollowedShow> FollowedShowFromJson(const QJsonObject& object) {
    FollowedShow show;
    show.id = object.value(QStringLiteral("id")).toString();
    show.text = object.value(QStringLiteral("text")).toString().trimmed();
    show.channel = object.value(QStringLiteral("channel")).toString();
    show.channelKey = object.value(QStringLiteral("channelKey")).toString();
    show.autoRemind = object.value(QStringLiteral("autoRemind")).toBool();
    show.mode = object.value(QStringLiteral("mode")).toString() == kEveryMode ? AutoRemind::Every
                                                                              : AutoRemind::NewEpisodes;
    for (const QJsonValue seen : object.value(QStringLiteral("seen")).toArray())
        show.seen.append(seen.toString());
    if (show.text.isEmpty())
        return std::nullopt;
    if (show.id.isEmpty())
        show.id = NewReminderId();
    return show;
}

const QString& ChannelKeys::KeyOf(const QString& name) {
    auto found = keys_.find(name);
    if (found == keys_.end())
        found = keys_.insert(name, ChannelNameKey(name));
    return *found;
}

QList<Airing> AiringsOf(const FollowedShow& show, const GuideSearch& search, const QDateTime& now,
                        ChannelKeys& keys) {
    QList<Airing> airings;
    const Guide& guide = search.SearchedGuide();
    for (const SearchMatch& match : search.Find(show.text, now)) {
        if (!show.channelKey.isEmpty() &&
            keys.KeyOf(guide.channels[match.channel].displayName) != show.channelKey)
            continue;
        airings.append({match.channel, match.programme, match.past, SeriesOfTitle(match.programme->title)});
    }
    return airings;
}

QString EpisodeName(const Programme& programme, const std::optional<SeriesEpisode>& episode) {
    if (episode)
        return episode->series + u'\t' + QString::number(episode->episode);
    return programme.title.trimmed();
}

Reminder ReminderOf(const GuideChannel& channel, const QString& channelKey, const Programme& programme,
                    int lead) {
    Reminder reminder;
    reminder.id = NewReminderId();
    reminder.channel = channel.displayName;
    reminder.channelKey = channelKey;
    reminder.listingPath = channel.listingPath;
    reminder.className = channel.className;
    reminder.line = programme.line;
    reminder.title = programme.title;
    if (programme.Dated())
        reminder.start = QDateTime::fromMSecsSinceEpoch(programme.start, Qt::UTC);
    if (programme.stop)
        reminder.end = QDateTime::fromMSecsSinceEpoch(*programme.stop, Qt::UTC);
    reminder.lead = IsReminderLead(lead) ? lead : kDefaultReminderLead;
    return reminder;
}

QList<Reminder> AutomaticReminders(FollowedShow& show, const QList<Airing>& airings, const Guide& guide,
                                   const QList<Reminder>& existing, int lead, const QDateTime& now,
                                   ChannelKeys& keys) {
    QList<Reminder> made;
    if (!show.autoRemind)
        return made;
    // Airings come earliest first, so the first of an episode met is its first airing.
    for (const Airing& airing : airings) {
        if (airing.past || airing.programme->start <= now.toMSecsSinceEpoch())
            continue;
        const GuideChannel& channel = guide.channels[airing.channel];
        Reminder reminder = ReminderOf(channel, keys.KeyOf(channel.displayName), *airing.programme, lead);
        if (AlreadyReminded(existing, reminder) || AlreadyReminded(made, reminder))
            continue;
        if (show.mode == AutoRemind::NewEpisodes) {
            const QString episode = EpisodeName(*airing.programme, airing.episode);
            if (show.seen.contains(episode))
                continue;
            show.seen.append(episode);
        }
        made.append(std::move(reminder));
    }
    return made;
}
