#include "archive/ItemPaths.h"

#include "platform/CodePage.h"
#include "platform/FileDescriptor.h"

#include <QByteArray>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr char32_t kFirstEscapedByte = 0xEF80;
constexpr char32_t kLastEscapedByte = 0xEFFF;
constexpr char32_t kEscapeBase = 0xEF00;

// The bytes the library decoded: escaped bytes come back as themselves, the rest as UTF-8 (the
// escapes lie in the BMP, so a run between two of them never splits a surrogate pair).
QByteArray OriginalBytes(const QString& reported) {
    QByteArray bytes;
    const QStringView text(reported);
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < kFirstEscapedByte || c > kLastEscapedByte)
            continue;
        bytes += text.sliced(runStart, i - runStart).toUtf8();
        bytes += static_cast<char>(c - kEscapeBase);
        runStart = i + 1;
    }
    bytes += text.sliced(runStart).toUtf8();
    return bytes;
}

ItemFileResult Failure(int error) {
    return {ItemFileResult::Failed, FileDescriptor(), error, {}};
}
ItemFileResult Skip() {
    return {ItemFileResult::Skipped, FileDescriptor(), 0, {}};
}

} // namespace

QString WideToQString(const wchar_t* text, size_t length) {
    QString result;
    result.reserve(static_cast<qsizetype>(length));
    for (size_t i = 0; i < length; ++i) {
        const auto unit = static_cast<char32_t>(text[i]);
        if (unit < 0x10000) {
            result += QChar(static_cast<char16_t>(unit));
        } else if (unit <= 0x10FFFF) {
            result += QChar(QChar::highSurrogate(unit));
            result += QChar(QChar::lowSurrogate(unit));
        } else {
            result += QChar(QChar::ReplacementCharacter);
        }
    }
    return result;
}

QString DecodeItemPath(const QString& reported, bool utf8Flag) {
    if (utf8Flag)
        return reported;
    return DecodeAnsi(OriginalBytes(reported));
}

bool CharactsHaveUtf8Flag(const QString& characts) {
    return characts.split(u' ', Qt::SkipEmptyParts).contains(QStringLiteral("UTF8"));
}

QStringList ContainedPathComponents(const QString& itemPath) {
    if (itemPath.isEmpty() || itemPath.front() == u'/' || itemPath.front() == u'\\' ||
        itemPath.contains(QChar(0)))
        return {};
    QStringList components;
    for (const QString& part : QString(itemPath).replace(u'\\', u'/').split(u'/')) {
        if (part.isEmpty() || part == u".")
            continue;
        if (part == u"..")
            return {};
        components += part;
    }
    return components;
}

ItemFileTarget::ItemFileTarget(FileDescriptor folder, QByteArray temporaryName, QByteArray finalName)
    : folder_(std::move(folder)), temporaryName_(std::move(temporaryName)), finalName_(std::move(finalName)) {
}

ItemFileTarget& ItemFileTarget::operator=(ItemFileTarget&& other) noexcept {
    if (this != &other) {
        Discard();
        folder_ = std::move(other.folder_);
        temporaryName_ = std::exchange(other.temporaryName_, {});
        finalName_ = std::exchange(other.finalName_, {});
    }
    return *this;
}

int ItemFileTarget::Commit() {
    if (!Pending())
        return 0;
    if (::renameat(folder_.get(), temporaryName_.constData(), folder_.get(), finalName_.constData()) != 0) {
        const int error = errno;
        Discard();
        return error;
    }
    temporaryName_.clear();
    return 0;
}

void ItemFileTarget::Discard() {
    if (Pending())
        ::unlinkat(folder_.get(), std::exchange(temporaryName_, {}).constData(), 0);
}

bool IsNameConflict(int error) {
    return error == ENAMETOOLONG || error == ENOTDIR || error == EISDIR || error == ELOOP ||
           error == EINVAL || error == EILSEQ;
}

ItemFileResult CreateItemFileBelow(int rootFd, const QStringList& components) {
    if (components.isEmpty())
        return Skip();
    FileDescriptor folder(::fcntl(rootFd, F_DUPFD_CLOEXEC, 0));
    if (!folder.valid())
        return Failure(errno);
    for (qsizetype i = 0; i + 1 < components.size(); ++i) {
        const QByteArray name = QFile::encodeName(components[i]);
        if (::mkdirat(folder.get(), name.constData(), 0777) != 0 && errno != EEXIST)
            return IsNameConflict(errno) ? Skip() : Failure(errno);
        FileDescriptor next(
            ::openat(folder.get(), name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.valid())
            return IsNameConflict(errno) ? Skip() : Failure(errno);
        folder = std::move(next);
    }
    const QByteArray name = QFile::encodeName(components.back());
    // Only a plain file is ours to replace; a link, folder, device or pipe there is left alone.
    struct stat status {};
    if (::fstatat(folder.get(), name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISREG(status.st_mode))
            return Skip();
    } else if (errno != ENOENT) {
        return IsNameConflict(errno) ? Skip() : Failure(errno);
    }
    // Not a listing name, so a rescan that runs meanwhile does not show it.
    QByteArray temporaryName = ".pelnavi-";
    FileDescriptor file(CreateTemporaryFileAt(folder.get(), temporaryName, ".part"));
    if (!file.valid())
        return Failure(errno);
    return {ItemFileResult::Created, std::move(file), 0,
            ItemFileTarget(std::move(folder), temporaryName, name)};
}

int CreateTemporaryFileAt(int folderFd, QByteArray& name, const QByteArray& suffix) {
    const QByteArray prefix = name;
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = prefix + QByteArray::number(QRandomGenerator::global()->generate64(), 36) + suffix;
        const int fd =
            ::openat(folderFd, name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}
