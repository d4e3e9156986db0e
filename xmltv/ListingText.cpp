#include "xmltv/ListingText.h"

#include <algorithm>

namespace {

void AppendTwoDigits(QString& text, int value) {
    text += QChar(u'0' + value / 10);
    text += QChar(u'0' + value % 10);
}

QString Heading(const QDate& date) {
    static const char16_t* const kWeekdays[] = {u"星期一", u"星期二", u"星期三", u"星期四",
                                                u"星期五", u"星期六", u"星期日"};
    return date.toString(u"yyyy-MM-dd") + u' ' + QString::fromUtf16(kWeekdays[date.dayOfWeek() - 1]);
}

} // namespace

QString ChannelTitleName(const FeedChannel& channel) {
    for (const QString& name : channel.displayNames) {
        for (const QChar c : name) {
            if (c.script() == QChar::Script_Han)
                return name;
        }
    }
    return channel.displayNames.isEmpty() ? channel.id : channel.displayNames.first();
}

QByteArray ListingFileBytes(const QString& displayName, const QList<FeedProgramme>& programmes) {
    QList<const FeedProgramme*> ordered;
    ordered.reserve(programmes.size());
    for (const FeedProgramme& programme : programmes)
        ordered.append(&programme);
    std::stable_sort(ordered.begin(), ordered.end(), [](const FeedProgramme* a, const FeedProgramme* b) {
        return a->date != b->date ? a->date < b->date : a->time < b->time;
    });
    QString text = displayName + u" 一周节目预告\r\n\r\n"_qs;
    QDate day;
    for (const FeedProgramme* programme : ordered) {
        if (programme->date != day) {
            if (day.isValid())
                text += u"\r\n"_qs;
            day = programme->date;
            text += Heading(day) + u"\r\n"_qs;
        }
        AppendTwoDigits(text, programme->time.hour());
        text += u':';
        AppendTwoDigits(text, programme->time.minute());
        if (programme->time.second() != 0) {
            text += u':';
            AppendTwoDigits(text, programme->time.second());
        }
        text += u' ' + programme->title + u"\r\n"_qs;
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}
