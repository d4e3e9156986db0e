#pragma once

#include "catalogue/ListingTime.h"
#include "catalogue/Schedule.h"
#include "guide/Guide.h"
#include "reminders/FollowedShows.h"

#include <QStringList>

#include <initializer_list>
#include <utility>

// A guide made of a few listings written as their files would be: a title line, then days and
// "HH:MM title" lines.
inline Guide GuideOf(std::initializer_list<std::pair<QString, QStringList>> channels) {
    Guide guide;
    for (const auto& [name, lines] : channels) {
        GuideChannel channel;
        channel.displayName = name;
        channel.listingPath = u"/data/数字频道/"_qs + name + u".txt"_qs;
        channel.className = u"数字频道"_qs;
        channel.schedule = ParseSchedule(QStringList{name + u" 一周节目预告"_qs, {}} + lines);
        guide.channels.append(std::move(channel));
    }
    return guide;
}

// An instant on the listings' clock (Beijing time) of December 2026.
inline QDateTime Beijing(int day, int hour, int minute = 0) {
    return ListingInstant(QDate(2026, 12, day), QTime(hour, minute));
}

// A followed show with its text, and what "自动提醒" does.
inline FollowedShow Follow(const QString& text, bool autoRemind = false,
                           AutoRemind mode = AutoRemind::NewEpisodes) {
    FollowedShow show;
    show.text = text;
    show.autoRemind = autoRemind;
    show.mode = mode;
    return show;
}

// One on a channel, as the page sets it.
inline FollowedShow FollowOn(const QString& text, const QString& channel, const QString& channelKey) {
    FollowedShow show = Follow(text);
    show.channel = channel;
    show.channelKey = channelKey;
    return show;
}
