#pragma once

#include <QLoggingCategory>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <memory>

Q_DECLARE_LOGGING_CATEGORY(lcSettings) // "pelnavi.settings"

// The program's settings file: INI text read and written through QSettings, one object for the
// whole run. Every change is written at once; QSettings writes a temporary file beside the file,
// syncs it and renames it over the file, so the file is always whole. A file that cannot be read or
// parsed is never written over: it is kept aside as "<file>.bak", the run starts from the defaults,
// LoadProblem() says so in one line and the reason goes to the log.
//
// The file holds groups for several parts of the program (the schedule sources, the automatic
// update, and whatever else a person sets); each part reads and changes its own keys.
class SettingsFile final {
public:
    // Reads the file at `path`; a missing file is an empty one.
    explicit SettingsFile(QString path);
    ~SettingsFile();
    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;

    const QString& Path() const { return path_; }
    // Empty, or one line for the person: the file was damaged, kept aside, and the defaults are used.
    const QString& LoadProblem() const { return loadProblem_; }
    // Empty, or one line saying that the last change could not be written.
    const QString& WriteProblem() const { return writeProblem_; }
    // Whether there is a file of the person's settings: found at the start, or written since.
    bool Exists() const;

    // Reads keys. Groups and arrays need QSettings' non-const calls; `read` must not change anything.
    void Read(const std::function<void(QSettings&)>& read) const;
    // Applies a change and writes the file at once; false when it could not be written (the reason is
    // in the log and in WriteProblem). The change stays in effect for this run either way.
    bool Change(const std::function<void(QSettings&)>& change);

    // Keeps the file aside as damaged and starts from the defaults, for content that parses as INI but
    // makes no sense to the part that reads it. `reason` goes to the log.
    void SetAside(const QString& reason);

private:
    void Open();

    QString path_;
    QString loadProblem_;
    QString writeProblem_;
    bool writable_ = true;
    std::unique_ptr<QTemporaryDir> scratch_; // outlives settings_, which may write into it
    std::unique_ptr<QSettings> settings_;
};
