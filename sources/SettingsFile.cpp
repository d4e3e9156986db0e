#include "sources/SettingsFile.h"

#include "platform/ProgramPlaces.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

Q_LOGGING_CATEGORY(lcSettings, "pelnavi.settings", QtWarningMsg)

namespace {

// Far more than any person's settings; a larger file is no settings file of ours.
constexpr qint64 kMaxSettingsBytes = qint64(4) * 1024 * 1024;

// Why the file at `path` is not one QSettings may read; empty when it may (or is missing). A FIFO
// or a device would block the start, a huge file would fill the memory.
QString UnreadableReason(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("it is not a plain file");
    if (info.st_size > kMaxSettingsBytes)
        return QStringLiteral("it is larger than %1 bytes").arg(kMaxSettingsBytes);
    return {};
}

QString StatusReason(QSettings::Status status) {
    return status == QSettings::FormatError ? QStringLiteral("it cannot be parsed as INI text")
                                            : QStringLiteral("it cannot be read");
}

} // namespace

SettingsFile::SettingsFile(QString path) : path_(std::move(path)) {
    const QString reason = UnreadableReason(path_);
    if (!reason.isEmpty()) {
        SetAside(reason);
        return;
    }
    Open();
    settings_->allKeys(); // QSettings reads the file only when first asked for a key
    if (settings_->status() != QSettings::NoError)
        SetAside(StatusReason(settings_->status()));
}

SettingsFile::~SettingsFile() = default;

void SettingsFile::Open() {
    settings_ = std::make_unique<QSettings>(path_, QSettings::IniFormat);
}

bool SettingsFile::Exists() const {
    return QFileInfo::exists(path_) && writable_;
}

void SettingsFile::Read(const std::function<void(QSettings&)>& read) const {
    read(*settings_);
}

bool SettingsFile::Change(const std::function<void(QSettings&)>& change) {
    change(*settings_);
    if (!writable_)
        return false;
    // The installed program's configuration folder is the user's own, as its data folder is.
    MakePrivatePath(QFileInfo(path_).absolutePath());
    settings_->sync();
    if (settings_->status() != QSettings::NoError) {
        qCWarning(lcSettings).noquote()
            << "cannot write the settings file" << path_ << ":" << StatusReason(settings_->status());
        writeProblem_ = QStringLiteral("设置无法保存到 %1").arg(path_);
        return false;
    }
    writeProblem_.clear();
    return true;
}

void SettingsFile::SetAside(const QString& reason) {
    const QString kept = path_ + QStringLiteral(".bak");
    settings_.reset(); // nothing of the damaged file is written back
    qCWarning(lcSettings).noquote() << "the settings file" << path_
                                    << "is damaged (" + reason + "); it is kept as" << kept
                                    << "and the defaults are used";
    if (std::rename(QFile::encodeName(path_).constData(), QFile::encodeName(kept).constData()) != 0) {
        const int error = errno;
        qCWarning(lcSettings).noquote() << "cannot keep the settings file aside:" << std::strerror(error)
                                        << "- nothing is written to it in this run";
        writable_ = false;
        loadProblem_ = QStringLiteral("设置文件已损坏，现使用默认设置，本次所做的更改不会保存");
    } else {
        loadProblem_ =
            QStringLiteral("设置文件已损坏，已另存为 %1，现使用默认设置").arg(QFileInfo(kept).fileName());
    }
    // The defaults. A file that could not be moved aside is never opened again: this run's changes go
    // to a scratch file that ends with the run.
    if (writable_) {
        Open();
        return;
    }
    scratch_ = std::make_unique<QTemporaryDir>();
    settings_ =
        std::make_unique<QSettings>(scratch_->filePath(QStringLiteral("unsaved.ini")), QSettings::IniFormat);
}
