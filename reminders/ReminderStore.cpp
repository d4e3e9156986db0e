#include "reminders/ReminderStore.h"

#include "catalogue/ListingFile.h"
#include "platform/Exception.h"
#include "platform/ProgramPlaces.h"
#include "update/PackageDownload.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

Q_LOGGING_CATEGORY(lcReminders, "pelnavi.reminders", QtWarningMsg)

namespace {

// Far more than a person's reminders; a larger file is none of ours.
constexpr qint64 kMaxRemindersBytes = qint64(4) << 20;
constexpr int kFileVersion = 1;

bool FileExists(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

} // namespace

ReminderStore::ReminderStore(QString path, QObject* parent) : QObject(parent), path_(std::move(path)) {
    Load();
}

void ReminderStore::Load() {
    if (!FileExists(path_))
        return;
    QByteArray bytes;
    try {
        bytes = ReadListingFile(path_, kMaxRemindersBytes);
    } catch (const Exception& error) {
        SetAside(error.Message());
        return;
    }
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parse);
    if (parse.error != QJsonParseError::NoError || !document.isObject()) {
        SetAside(parse.error != QJsonParseError::NoError ? parse.errorString()
                                                         : QStringLiteral("it holds no JSON object"));
        return;
    }
    const QJsonObject root = document.object();
    for (const QJsonValue value : root.value(QStringLiteral("reminders")).toArray())
        if (std::optional<Reminder> reminder = ReminderFromJson(value.toObject()))
            reminders_.append(std::move(*reminder));
    for (const QJsonValue value : root.value(QStringLiteral("followed")).toArray())
        if (std::optional<FollowedShow> show = FollowedShowFromJson(value.toObject()))
            followed_.append(std::move(*show));
}

void ReminderStore::SetAside(const QString& reason) {
    const QString kept = path_ + QStringLiteral(".bak");
    qCWarning(lcReminders).noquote() << "the reminders file" << path_
                                     << "is damaged (" + reason + "); it is kept as" << kept
                                     << "and the program starts without reminders";
    if (std::rename(QFile::encodeName(path_).constData(), QFile::encodeName(kept).constData()) != 0) {
        const int error = errno;
        qCWarning(lcReminders).noquote() << "cannot keep the reminders file aside:" << std::strerror(error)
                                         << "- nothing is written to it in this run";
        writable_ = false;
        loadProblem_ = QStringLiteral("提醒文件已损坏，本次所做的更改不会保存");
        return;
    }
    loadProblem_ = QStringLiteral("提醒文件已损坏，已另存为 %1").arg(QFileInfo(kept).fileName());
}

void ReminderStore::Save() {
    emit Changed();
    if (!writable_)
        return;
    QJsonArray reminders;
    for (const Reminder& reminder : reminders_)
        reminders.append(ReminderToJson(reminder));
    QJsonArray followed;
    for (const FollowedShow& show : followed_)
        followed.append(FollowedShowToJson(show));
    const QJsonObject root{{QStringLiteral("version"), kFileVersion},
                           {QStringLiteral("reminders"), reminders},
                           {QStringLiteral("followed"), followed}};
    const QFileInfo file(path_);
    try {
        MakePrivatePath(file.absolutePath());
        SavePackage(QJsonDocument(root).toJson(QJsonDocument::Indented), file.absolutePath() + u'/',
                    file.fileName());
        writeProblem_.clear();
    } catch (const Exception& error) {
        qCWarning(lcReminders).noquote()
            << "cannot write the reminders file" << path_ << ":" << error.Message();
        writeProblem_ = QStringLiteral("提醒无法保存到 %1").arg(path_);
    }
}

qsizetype ReminderStore::IndexOf(const QString& id) const {
    const auto found = std::find_if(reminders_.begin(), reminders_.end(),
                                    [&](const Reminder& reminder) { return reminder.id == id; });
    return found == reminders_.end() ? -1 : found - reminders_.begin();
}

qsizetype ReminderStore::Add(Reminder reminder) {
    const auto same = std::find_if(reminders_.begin(), reminders_.end(),
                                   [&](const Reminder& kept) { return kept.SameProgramme(reminder); });
    if (same != reminders_.end())
        return same - reminders_.begin();
    if (reminder.id.isEmpty())
        reminder.id = NewReminderId();
    // Kept in time order, as the page lists them.
    const auto place =
        std::upper_bound(reminders_.begin(), reminders_.end(), reminder.start,
                         [](const QDateTime& start, const Reminder& kept) { return start < kept.start; });
    const qsizetype index = place - reminders_.begin();
    reminders_.insert(index, std::move(reminder));
    Save();
    return index;
}

void ReminderStore::Remove(const QString& id) {
    const qsizetype index = IndexOf(id);
    if (index < 0)
        return;
    reminders_.removeAt(index);
    Save();
}

void ReminderStore::SetLead(const QString& id, int minutes) {
    const qsizetype index = IndexOf(id);
    if (index < 0 || !IsReminderLead(minutes) || reminders_[index].lead == minutes)
        return;
    reminders_[index].lead = minutes;
    Save();
}

void ReminderStore::SetState(const QString& id, ReminderState state) {
    const qsizetype index = IndexOf(id);
    if (index < 0 || reminders_[index].state == state)
        return;
    reminders_[index].state = state;
    Save();
}

void ReminderStore::SetReminders(QList<Reminder> reminders) {
    std::stable_sort(reminders.begin(), reminders.end(),
                     [](const Reminder& a, const Reminder& b) { return a.start < b.start; });
    reminders_ = std::move(reminders);
    Save();
}

void ReminderStore::AddFollowed(FollowedShow show) {
    show.text = show.text.trimmed();
    if (show.text.isEmpty())
        return;
    const bool kept = std::any_of(followed_.begin(), followed_.end(), [&](const FollowedShow& other) {
        return other.text == show.text && other.channelKey == show.channelKey;
    });
    if (kept)
        return;
    if (show.id.isEmpty())
        show.id = NewReminderId();
    followed_.append(std::move(show));
    Save();
}

void ReminderStore::RemoveFollowed(const QString& id) {
    const auto before = followed_.size();
    followed_.removeIf([&](const FollowedShow& show) { return show.id == id; });
    if (followed_.size() != before)
        Save();
}

void ReminderStore::SetFollowed(QList<FollowedShow> followed) {
    followed_ = std::move(followed);
    Save();
}
