#pragma once

#include "platform/Exception.h"
#include "platform/FileDescriptor.h"
#include "update/HttpResponse.h"
#include "update/HttpResponseReader.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <vector>

// The 14-digit local time stamp of a package request: yyyymmddhhmmss, 24-hour clock.
QString PackageTimeStamp(const QDateTime& localTime);

// The package address followed by "?" and the time stamp; the address itself is taken unchanged.
QString PackageRequestAddress(const QString& packageAddress, const QDateTime& localTime);

// True when a file of that name exists: a directory does not count, a link counts when its target
// can be reached.
bool PackageFileExists(const QString& fileName);

// A body is a whole package when it is not empty and as long as its response announced.
bool IsWholePackage(int64_t bodySize, const ResponseHead& response);

// The package could not be written into the data folder.
class PackageSaveError final : public Exception {
public:
    using Exception::Exception;
};

// The package as it arrives: a temporary file beside the package in the data folder, made when the
// first byte comes, that takes the package's place only through Replace. Until then the package an
// earlier update left stays as it was; a PackageFile that goes without Replace removes its file.
// A name that would leave the folder, and a link or anything but a plain file standing at the name,
// are refused. Failures throw PackageSaveError.
class PackageFile final : public BodySink {
public:
    PackageFile(QString folder, QString fileName);
    ~PackageFile() override;
    PackageFile(const PackageFile&) = delete;
    PackageFile& operator=(const PackageFile&) = delete;

    int64_t Size() const override { return size_; }
    char* Reserve(qsizetype size) override;
    void Commit(qsizetype count) override;
    void Truncate(int64_t size) override;

    // The temporary file's path; empty while nothing has come.
    const QString& TemporaryPath() const { return temporaryPath_; }
    // Puts the data on the disk (fdatasync) and renames the file over the package.
    void Replace();

private:
    void Open();
    void StartWriteback();
    void Discard();
    QString PackagePath() const { return folder_ + fileName_; }

    QString folder_;
    QString fileName_;
    QString temporaryPath_;
    FileDescriptor file_;
    int64_t size_ = 0;
    int64_t writebackFrom_ = 0; // what lies before is already on its way to the disk
    std::vector<char> room_;
};

// Writes a whole package at once through a PackageFile.
void SavePackage(const QByteArray& package, const QString& folder, const QString& fileName);
