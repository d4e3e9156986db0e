#include "reminders/Favourites.h"

#include "reminders/Reminder.h"

#include <QSettings>
#include <QStringList>

#include <algorithm>

namespace {

const QString kFavouritesKey = QStringLiteral("favourites/channels");
const QString kDefaultLeadKey = QStringLiteral("reminders/defaultLead");

} // namespace

FavouriteChannels::FavouriteChannels(SettingsFile& file, QObject* parent) : QObject(parent), file_(file) {
    file_.Read([this](QSettings& settings) {
        for (const QString& key : settings.value(kFavouritesKey).toStringList())
            if (!key.isEmpty())
                keys_.insert(key);
    });
}

bool FavouriteChannels::Contains(const QString& channelName) {
    return !keys_.isEmpty() && keys_.contains(channelKeys_.KeyOf(channelName));
}

void FavouriteChannels::Set(const QString& channelName, bool favourite) {
    const QString& key = channelKeys_.KeyOf(channelName);
    if (key.isEmpty() || keys_.contains(key) == favourite)
        return;
    if (favourite)
        keys_.insert(key);
    else
        keys_.remove(key);
    Save();
}

void FavouriteChannels::Save() {
    QStringList keys(keys_.begin(), keys_.end());
    keys.sort(); // a file that changes no more than the set did
    file_.Change([&](QSettings& settings) { settings.setValue(kFavouritesKey, keys); });
    emit Changed();
}

int DefaultReminderLead(const SettingsFile& file) {
    int lead = kDefaultReminderLead;
    file.Read(
        [&](QSettings& settings) { lead = settings.value(kDefaultLeadKey, kDefaultReminderLead).toInt(); });
    return IsReminderLead(lead) ? lead : kDefaultReminderLead;
}

void SetDefaultReminderLead(SettingsFile& file, int minutes) {
    if (!IsReminderLead(minutes) || DefaultReminderLead(file) == minutes)
        return;
    file.Change([&](QSettings& settings) { settings.setValue(kDefaultLeadKey, minutes); });
}
