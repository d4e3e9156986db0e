#pragma once

#include "reminders/FollowedShows.h"
#include "sources/SettingsFile.h"

#include <QObject>
#include <QSet>
#include <QString>

// The channels a person keeps first, in the settings file, by the channel's identity (its key, see
// ChannelNameKey) and not by its file: a favourite stays one through a new import, a change of
// source or of the channel map.
class FavouriteChannels final : public QObject {
    Q_OBJECT
public:
    explicit FavouriteChannels(SettingsFile& file, QObject* parent = nullptr);

    // By the name a channel is shown by.
    bool Contains(const QString& channelName);
    // Makes a channel a favourite, or no longer one; written at once.
    void Set(const QString& channelName, bool favourite);
    void Toggle(const QString& channelName) { Set(channelName, !Contains(channelName)); }
    qsizetype Count() const { return keys_.size(); }

signals:
    void Changed();

private:
    void Save();

    SettingsFile& file_;
    QSet<QString> keys_;
    ChannelKeys channelKeys_;
};

// The lead that new reminders get, set on the page "提醒"; kept in the settings file.
int DefaultReminderLead(const SettingsFile& file);
void SetDefaultReminderLead(SettingsFile& file, int minutes);
