#include "catalogue/ListingFile.h"

#include "catalogue/FileNames.h"
#include "catalogue/Utf8.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/FileDescriptor.h"
#include "platform/SystemMessage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool StartsWith(std::string_view bytes, std::string_view mark) {
    return bytes.substr(0, mark.size()) == mark;
}

QString DecodeUtf16(std::string_view bytes, bool bigEndian) {
    const qsizetype units = static_cast<qsizetype>(bytes.size() / 2); // an odd last byte is dropped
    QString text(units, Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    for (qsizetype i = 0; i < units; ++i, in += 2) {
        out[i] = bigEndian ? char16_t((in[0] << 8) | in[1]) : char16_t(in[0] | (in[1] << 8));
    }
    return text;
}

QString DecodeWithoutNul(std::string_view bytes) {
    constexpr std::string_view kUtf8Mark("\xEF\xBB\xBF", 3);
    constexpr std::string_view kUtf16LeMark("\xFF\xFE", 2);
    constexpr std::string_view kUtf16BeMark("\xFE\xFF", 2);
    if (StartsWith(bytes, kUtf8Mark))
        return DecodeUtf8Strict(bytes.substr(kUtf8Mark.size())).value_or(QString());
    if (StartsWith(bytes, kUtf16LeMark))
        return DecodeUtf16(bytes.substr(kUtf16LeMark.size()), false);
    if (StartsWith(bytes, kUtf16BeMark))
        return DecodeUtf16(bytes.substr(kUtf16BeMark.size()), true);
    // In code page 936 a zero byte is always NUL (never the second byte of a pair), so the text
    // can be cut before decoding.
    if (const void* nul = std::memchr(bytes.data(), 0, bytes.size()))
        bytes = bytes.substr(0, static_cast<size_t>(static_cast<const char*>(nul) - bytes.data()));
    return DecodeAnsi(bytes);
}

[[noreturn]] void ThrowFileError(const char* format, const QString& path, int errorNumber) {
    throw Exception(QString::fromLatin1(format).arg(path, ErrnoMessageText(errorNumber)));
}

} // namespace

QString DecodeListingText(const QByteArray& bytes) {
    QString text = DecodeWithoutNul(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0)
        text.truncate(nul);
    return text;
}

QStringList SplitListingLines(QStringView text) {
    QStringList lines;
    ForEachListingLine(text, [&lines](QStringView line) { lines.append(line.toString()); });
    return lines;
}

QStringList DecodeListing(const QByteArray& bytes) {
    return SplitListingLines(DecodeListingText(bytes));
}

QByteArray ReadListingFile(const QString& path, qint64 sizeLimit) {
    // O_NONBLOCK keeps a FIFO from blocking the open; such a file is refused just below.
    const FileDescriptor file(::open(EncodeFileName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0)
        ThrowFileError("Cannot open file \"%1\". %2", path, errno);
    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        ThrowFileError("Cannot open file \"%1\". %2", path, errno);
    // A directory, device or FIFO could fail, block or never end; only plain files are listings.
    if (!S_ISREG(status.st_mode))
        throw Exception(QStringLiteral("Cannot open file \"%1\". Not a regular file").arg(path));
    // A listing is a few kilobytes; a huge file would take the memo minutes and gigabytes.
    if (status.st_size > sizeLimit)
        ThrowFileError("Cannot read file \"%1\". %2", path, EFBIG);

    QByteArray bytes;
    // The size is a hint: files whose size is not known in advance (or that grow) are read to
    // their end all the same.
    qsizetype capacity = static_cast<qsizetype>(status.st_size) + 1;
    const qsizetype limit = static_cast<qsizetype>(sizeLimit);
    bytes.resize(capacity);
    qsizetype filled = 0;
    for (;;) {
        if (filled == capacity) {
            // Grown since the size was taken: reading one byte past the limit shows a file too large.
            if (filled > limit)
                ThrowFileError("Cannot read file \"%1\". %2", path, EFBIG);
            capacity = std::min(capacity * 2, limit + 1);
            bytes.resize(capacity);
        }
        const ssize_t count =
            ::read(file.get(), bytes.data() + filled, static_cast<size_t>(capacity - filled));
        if (count == 0)
            break;
        if (count < 0) {
            if (errno == EINTR)
                continue;
            ThrowFileError("Cannot read file \"%1\". %2", path, errno);
        }
        filled += count;
    }
    bytes.truncate(filled);
    return bytes;
}

QString LoadListingText(const QString& path, qint64 sizeLimit) {
    return DecodeListingText(ReadListingFile(path, sizeLimit));
}

QStringList LoadListingLines(const QString& path) {
    // The raw bytes go before the split, so a large file is not held three times at once.
    return SplitListingLines(LoadListingText(path));
}
