#include "archive/ItemPaths.h"

#include "platform/CodePage.h"
#include "platform/FileDescriptor.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool IsSymbolicLinkAt(int dirFd, const char* name) {
    struct stat status {};
    return ::fstatat(dirFd, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode);
}

ItemFileResult Failure(int error) {
    return {ItemFileResult::Failed, FileDescriptor(), error};
}
ItemFileResult Skip() {
    return {ItemFileResult::Skipped, FileDescriptor(), 0};
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

ItemFileResult CreateItemFileBelow(int rootFd, const QStringList& components) {
    if (components.isEmpty())
        return Skip();
    FileDescriptor folder;
    int folderFd = rootFd;
    for (qsizetype i = 0; i + 1 < components.size(); ++i) {
        const QByteArray name = QFile::encodeName(components[i]);
        if (::mkdirat(folderFd, name.constData(), 0777) != 0 && errno != EEXIST)
            return Failure(errno);
        const int next =
            ::openat(folderFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            const int error = errno;
            return IsSymbolicLinkAt(folderFd, name.constData()) ? Skip() : Failure(error);
        }
        folder.Reset(next);
        folderFd = next;
    }
    const QByteArray name = QFile::encodeName(components.back());
    FileDescriptor file(
        ::openat(folderFd, name.constData(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!file.valid()) {
        const int error = errno;
        return IsSymbolicLinkAt(folderFd, name.constData()) ? Skip() : Failure(error);
    }
    // Only a regular file is ours to fill; a device or pipe planted there is left alone.
    struct stat status {};
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return Skip();
    return {ItemFileResult::Created, std::move(file), 0};
}
