#include "xmltv/ListingText.h"

#include <QBuffer>
#include <QIODevice>

#include <algorithm>

namespace {

void AppendTwoDigits(QByteArray& text, int value) {
    text += static_cast<char>('0' + value / 10);
    text += static_cast<char>('0' + value % 10);
}

QByteArray Heading(const QDate& date) {
    static const char16_t* const kWeekdays[] = {u"星期一", u"星期二", u"星期三", u"星期四",
                                                u"星期五", u"星期六", u"星期日"};
    return (date.toString(u"yyyy-MM-dd") + u' ' + QString::fromUtf16(kWeekdays[date.dayOfWeek() - 1]))
        .toUtf8();
}

} // namespace

ListingWriter::ListingWriter(QIODevice& out, const QString& displayName) : out_(out) {
    out_.write("\xEF\xBB\xBF" + (displayName + u" 一周节目预告\r\n\r\n"_qs).toUtf8());
}

bool ListingWriter::Repeats(QDate date, QTime time, QByteArrayView titleUtf8) {
    if (date != day_ || time != start_) {
        start_ = time;
        startTitles_.resize(0);
        startTitleEnds_.resize(0);
    } else {
        qsizetype begin = 0;
        for (const qsizetype end : std::as_const(startTitleEnds_)) {
            if (QByteArrayView(startTitles_).sliced(begin, end - begin) == titleUtf8)
                return true;
            begin = end;
        }
    }
    startTitles_ += titleUtf8;
    startTitleEnds_.append(startTitles_.size());
    return false;
}

void ListingWriter::Add(QDate date, QTime time, QByteArrayView titleUtf8) {
    if (Repeats(date, time, titleUtf8))
        return;
    line_.clear();
    if (date != day_) {
        if (day_.isValid())
            line_ += "\r\n";
        day_ = date;
        line_ += Heading(day_) + "\r\n";
    }
    AppendTwoDigits(line_, time.hour());
    line_ += ':';
    AppendTwoDigits(line_, time.minute());
    if (time.second() != 0) {
        line_ += ':';
        AppendTwoDigits(line_, time.second());
    }
    line_ += ' ';
    line_ += titleUtf8;
    line_ += "\r\n";
    out_.write(line_);
}

QByteArray ListingFileBytes(const QString& displayName, const QList<FeedProgramme>& programmes) {
    QList<const FeedProgramme*> ordered;
    ordered.reserve(programmes.size());
    for (const FeedProgramme& programme : programmes)
        ordered.append(&programme);
    std::stable_sort(ordered.begin(), ordered.end(), [](const FeedProgramme* a, const FeedProgramme* b) {
        return a->date != b->date ? a->date < b->date : a->time < b->time;
    });
    QByteArray bytes;
    QBuffer out(&bytes);
    out.open(QIODevice::WriteOnly);
    ListingWriter writer(out, displayName);
    for (const FeedProgramme* programme : ordered)
        writer.Add(programme->date, programme->time, programme->title.toUtf8());
    return bytes;
}
