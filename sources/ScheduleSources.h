#pragma once

#include "sources/SettingsFile.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QTime>

// The schedule sources a person keeps, the automatic update's options and the update history the
// automatic update plans by, all kept in the settings file.

// The program's own package: the first row of a fresh list. Its address is the one the window holds
// (the built-in one, or PELNAVI_PACKAGE_URL), never stored.
inline constexpr char16_t kBuiltInSourceName[] = u"默认节目包";
inline constexpr char16_t kBuiltInSourceId[] = u"default";
// Feeds that label their times wrongly are moved by up to half a day either way.
inline constexpr int kMinSourceOffset = -720;
inline constexpr int kMaxSourceOffset = 720;
// The folder of the data folder where the sources' downloads are kept, one file each.
inline constexpr char16_t kSourcesFolderName[] = u"sources";

struct ScheduleSource {
    // The file its downloads are kept in, in the sources folder; also what names it in an update
    // while the person reorders or renames. kBuiltInSourceId for the program's own package.
    QString id;
    QString name;
    QString address; // empty for the program's own package
    bool enabled = true;
    int offsetMinutes = 0;
    QDateTime lastUpdate; // invalid: never updated
    QString result;       // how its last update ended, as the table shows it

    bool BuiltIn() const { return id == QStringView(kBuiltInSourceId); }
};

struct AutomaticUpdate {
    bool enabled = false;
    // Feeds are often still empty just after midnight.
    QTime dailyTime = QTime(3, 0);
};

// What the automatic update plans by; times are local.
struct UpdateHistory {
    QDateTime lastStart;   // the last update begun, manual or automatic
    QDateTime lastSuccess; // the last update in which a source brought listings
    QDateTime lastFailure; // the end of the last update in which a source failed
    int failuresInRow = 0; // updates in a row with a failed source
};

// Why "添加" does not take an address, for the page; empty when it takes it: only "http" and
// "https" with a host, no blanks.
QString SourceAddressProblem(const QString& address);

// The list and the options, loaded once from the settings file. Every change a person makes is
// written at once; what updates record (results, history) is written only into a file that exists,
// so a program whose settings nobody changed writes no settings file.
class SourceSettings final : public QObject {
    Q_OBJECT
public:
    explicit SourceSettings(SettingsFile& file, QObject* parent = nullptr);

    const QList<ScheduleSource>& Sources() const { return sources_; }
    const AutomaticUpdate& Automatic() const { return automatic_; }
    const UpdateHistory& History() const { return history_; }
    const SettingsFile& File() const { return file_; }
    // Whether an update is the program's own, as it always was: only its package is enabled.
    bool OnlyBuiltInEnabled() const;
    // The enabled sources, in the table's order.
    QList<ScheduleSource> EnabledSources() const;
    qsizetype IndexOf(const QString& id) const;
    const ScheduleSource& BuiltIn() const { return sources_[IndexOf(QString::fromUtf16(kBuiltInSourceId))]; }

    // Adds an address at the end, enabled, named after its host; returns why not (nothing added).
    QString Add(const QString& address);
    // The program's own package is never removed.
    bool Remove(qsizetype row);
    // Moves a row up (by < 0) or down; false when it cannot move that way.
    bool Move(qsizetype row, int by);
    void SetEnabled(qsizetype row, bool enabled);
    // A blank name keeps the old one.
    void SetName(qsizetype row, const QString& name);
    // Clamped to kMinSourceOffset … kMaxSourceOffset.
    void SetOffset(qsizetype row, int minutes);
    void SetAutomatic(const AutomaticUpdate& automatic);

    void RecordResult(const QString& id, const QDateTime& when, const QString& result);
    void RecordStart(const QDateTime& when);
    // `anySucceeded`: some source brought listings; `anyFailed`: some source failed.
    void RecordEnd(const QDateTime& when, bool anySucceeded, bool anyFailed);

signals:
    void Changed();

private:
    void Load();
    void Save();
    void SaveIfKept();
    void Write(QSettings& settings) const;

    SettingsFile& file_;
    QList<ScheduleSource> sources_;
    AutomaticUpdate automatic_;
    UpdateHistory history_;
};
