#pragma once

#include "reminders/FollowedShows.h"
#include "reminders/Reminder.h"

#include <QList>
#include <QLoggingCategory>
#include <QObject>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(lcReminders) // "pelnavi.reminders"

// The file name of the reminders and followed shows, beside the data folder.
inline constexpr char16_t kRemindersFileName[] = u"reminders.json";

// The reminders and the followed shows a person keeps, in one JSON file beside the data folder.
// Every change is written at once, whole: under a temporary name, synced, then renamed over the
// file. A file that cannot be read or parsed is never written over: it is kept as "<file>.bak",
// the run starts empty, LoadProblem() says so in one line and the reason goes to the log.
class ReminderStore final : public QObject {
    Q_OBJECT
public:
    // Reads the file at `path`; a missing file is an empty one.
    explicit ReminderStore(QString path, QObject* parent = nullptr);

    const QString& Path() const { return path_; }
    const QString& LoadProblem() const { return loadProblem_; }
    // Empty, or one line saying that the last change could not be written.
    const QString& WriteProblem() const { return writeProblem_; }

    const QList<Reminder>& Reminders() const { return reminders_; }
    const QList<FollowedShow>& Followed() const { return followed_; }
    qsizetype IndexOf(const QString& id) const;

    // Adds a reminder unless one of the same programme is kept; returns the index of the one kept.
    qsizetype Add(Reminder reminder);
    void Remove(const QString& id);
    void SetLead(const QString& id, int minutes);
    void SetState(const QString& id, ReminderState state);
    // Replaces them all (after FollowSchedule, or with automatic ones added).
    void SetReminders(QList<Reminder> reminders);

    // A show whose text and channel are followed already is not added twice.
    void AddFollowed(FollowedShow show);
    void RemoveFollowed(const QString& id);
    void SetFollowed(QList<FollowedShow> followed);

signals:
    void Changed();

private:
    void Load();
    void SetAside(const QString& reason);
    void Save();

    QString path_;
    QString loadProblem_;
    QString writeProblem_;
    bool writable_ = true;
    QList<Reminder> reminders_;
    QList<FollowedShow> followed_;
};
