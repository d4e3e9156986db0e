#include "shell/Unit_Shortcuts.h"

#include "platform/AppPaths.h"
#include "platform/FileDescriptor.h"
#include "platform/SpecialFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int32_t kDesktopFolderCode = 0;
constexpr mode_t kShortcutMode = 0755; // desktops launch only executable entries

// A NUL would cut the path short at the system call and name another file.
bool HoldsNul(const QString& text) {
    return text.contains(QChar(u'\0'));
}

// stat follows a symbolic link, so a link counts only when its destination is there.
bool IsExistingFile(const QString& path) {
    struct stat info {};
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &info) == 0 &&
           !S_ISDIR(info.st_mode);
}

QString AbsolutePath(const QString& path) {
    return QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path);
}

QString FileNameWithoutExtension(const QString& path) {
    const QString fileName = path.mid(path.lastIndexOf(u'/') + 1);
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot < 0 ? fileName : fileName.left(dot);
}

std::optional<QString> DestinationFolder(const QString& folder, int32_t folderCode) {
    if (folder.isEmpty() && folderCode == -1)
        folderCode = kDesktopFolderCode;
    QString destination = folderCode >= 0 ? DesktopFolder() : folder;
    if (HoldsNul(destination))
        return std::nullopt;
    if (folderCode < 0 && destination.endsWith(u'/') && destination.size() > 1)
        destination.chop(1);
    if (!QFileInfo(destination).isDir())
        return std::nullopt; // a missing desktop folder is not created either
    return destination;
}

// The escapes of a string value: backslash and line breaks, and blanks at either end, which a
// reader would otherwise trim.
QString EscapeValue(const QString& value) {
    QString escaped;
    escaped.reserve(value.size() + 8);
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c == u'\\')
            escaped += QStringLiteral("\\\\");
        else if (c == u'\n')
            escaped += QStringLiteral("\\n");
        else if (c == u'\t')
            escaped += QStringLiteral("\\t");
        else if (c == u'\r')
            escaped += QStringLiteral("\\r");
        else if (c == u' ' && (i == 0 || i == value.size() - 1))
            escaped += QStringLiteral("\\s");
        else
            escaped += c;
    }
    return escaped;
}

bool NeedsQuotes(const QString& argument) {
    static const QString reserved = QStringLiteral(" \t\n\r\"'\\><~|&;$*?#()`");
    for (const QChar c : argument)
        if (reserved.contains(c))
            return true;
    return false;
}

// One argument of the Exec key: quoted when it holds a reserved character, with the quote, backtick,
// dollar and backslash escaped inside the quotes; a literal % is doubled so it is not read as a
// field code.
QString ExecArgument(const QString& argument) {
    QString result;
    if (NeedsQuotes(argument)) {
        result += u'"';
        for (const QChar c : argument) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                result += u'\\';
            result += c;
        }
        result += u'"';
    } else {
        result = argument;
    }
    result.replace(u'%', QStringLiteral("%%"));
    return result;
}

QByteArray DesktopEntry(const QString& name, const QString& target) {
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=%1\n"
                                        "Exec=%2\n"
                                        "Path=%3\n")
                             .arg(EscapeValue(name), EscapeValue(ExecArgument(target)),
                                  EscapeValue(DirectoryWithDelimiter(target)));
    return text.toUtf8();
}

// A file created beside the final one; removed again unless it has been renamed into place.
class PendingFile final {
public:
    explicit PendingFile(const QString& folder)
        : path_(QFile::encodeName(folder + QStringLiteral(".pelnavi-XXXXXX"))) {
        fd_.Reset(::mkostemp(path_.data(), O_CLOEXEC));
        created_ = fd_.valid();
    }
    ~PendingFile() {
        fd_.Reset();
        if (created_ && !renamed_)
            ::unlink(path_.constData());
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    bool created() const { return created_; }

    bool write(const QByteArray& content) {
        const char* data = content.constData();
        size_t left = static_cast<size_t>(content.size());
        while (left > 0) {
            const ssize_t written = ::write(fd_.get(), data, left);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return false;
            data += written;
            left -= static_cast<size_t>(written);
        }
        // On disk before the rename, so a crash leaves either the old entry or the whole new one.
        return ::fchmod(fd_.get(), kShortcutMode) == 0 && ::fsync(fd_.get()) == 0;
    }

    bool renameTo(const QString& finalPath) {
        if (!fd_.Close())
            return false;
        renamed_ = ::rename(path_.constData(), QFile::encodeName(finalPath).constData()) == 0;
        return renamed_;
    }

private:
    QByteArray path_;
    FileDescriptor fd_;
    bool created_ = false;
    bool renamed_ = false;
};

bool SaveReplacing(const QString& path, const QByteArray& content) {
    PendingFile file(DirectoryWithDelimiter(path));
    return file.created() && file.write(content) && file.renameTo(path);
}

} // namespace

bool CreateShortcut(const QString& target, const QString& name, const QString& folder, int32_t folderCode) {
    if (HoldsNul(target) || HoldsNul(name) || !IsExistingFile(target))
        return false;
    const QString absoluteTarget = AbsolutePath(target);
    const QString shortcutName = name.isEmpty() ? FileNameWithoutExtension(absoluteTarget) : name;
    if (shortcutName.contains(u'/'))
        return false; // not a file name: it would place the entry in another folder
    const std::optional<QString> destination = DestinationFolder(folder, folderCode);
    if (!destination)
        return false;
    const QString shortcutFile = *destination + u'/' + shortcutName + QStringLiteral(".desktop");
    return SaveReplacing(shortcutFile, DesktopEntry(shortcutName, absoluteTarget));
}
