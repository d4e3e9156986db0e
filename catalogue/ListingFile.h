#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

// A listing file's text. The first bytes choose the encoding: EF BB BF is UTF-8 (decoded strictly:
// anything ill-formed gives no text at all), FF FE is UTF-16 little-endian, FE FF big-endian (an odd
// last byte is dropped); without a mark the bytes are code page 936. The mark is not part of the
// text, and a NUL ends it.
QString DecodeListingText(const QByteArray& bytes);

// Lines of a text: CR LF, a lone LF and a lone CR each end one line (LF CR ends two); a break at
// the very end adds no empty line.
QStringList SplitListingLines(QStringView text);

// Calls `take(line)` with each line of `text` as SplitListingLines cuts them, as views into `text`.
template <typename Take> void ForEachListingLine(QStringView text, Take take) {
    const QChar* units = text.data();
    const qsizetype size = text.size();
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t unit = units[i].unicode();
        if (unit != u'\r' && unit != u'\n')
            continue;
        take(text.sliced(lineStart, i - lineStart));
        if (unit == u'\r' && i + 1 < size && units[i + 1] == u'\n')
            ++i;
        lineStart = i + 1;
    }
    if (lineStart < size)
        take(text.sliced(lineStart));
}

// DecodeListingText, then SplitListingLines.
QStringList DecodeListing(const QByteArray& bytes);

// The largest listing file that is read (a week of one channel is about 10 KB). A larger one is
// refused like a file that cannot be read, before it is read.
inline constexpr qint64 kListingSizeLimit = qint64(256) << 20;

// Reads the whole file at `path` (a path as the catalogue walk gives it, see EncodeFileName) and
// decodes it. Throws Exception when the file is missing, is not a regular file, is larger than
// `sizeLimit` or cannot be read; nothing is returned half-read.
QString LoadListingText(const QString& path, qint64 sizeLimit = kListingSizeLimit);

// LoadListingText, then SplitListingLines.
QStringList LoadListingLines(const QString& path);

// The file's bytes, read at once; same failures as LoadListingText.
QByteArray ReadListingFile(const QString& path, qint64 sizeLimit = kListingSizeLimit);
