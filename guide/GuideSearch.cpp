#include "guide/GuideSearch.h"

#include <QHash>

#include <algorithm>
#include <utility>

namespace {

// The typed text as a pinyin key: lower-case ASCII letters with blanks dropped; empty when the text
// holds anything else.
QString PinyinQuery(QStringView text) {
    QString key;
    for (QChar c : text) {
        if (c.isSpace())
            continue;
        const char16_t u = c.unicode();
        if (u >= u'A' && u <= u'Z')
            key.append(QChar(u + 32));
        else if (u >= u'a' && u <= u'z')
            key.append(c);
        else
            return {};
    }
    return key;
}

} // namespace

GuideSearch::GuideSearch(std::shared_ptr<const Guide> guide, PinyinCache& pinyin, const std::stop_token& stop)
    : guide_(std::move(guide)) {
    QHash<QString, qsizetype> titleIndex;
    for (qsizetype c = 0; c < guide_->channels.size() && !stop.stop_requested(); ++c) {
        for (const ScheduleDay& day : guide_->channels[c].schedule.days) {
            for (const Programme& programme : day.programmes) {
                if (!programme.start.isValid())
                    continue;
                auto found = titleIndex.find(programme.title);
                if (found == titleIndex.end()) {
                    found = titleIndex.insert(programme.title, titles_.size());
                    titles_.append({programme.title, pinyin.KeysOf(programme.title)});
                }
                entries_.append({c, *found, &programme, programme.start.toMSecsSinceEpoch(),
                                 EndOf(programme).toMSecsSinceEpoch()});
            }
        }
    }
}

QList<SearchMatch> GuideSearch::Find(QStringView text, const QDateTime& now) const {
    const QStringView needle = text.trimmed();
    if (needle.isEmpty())
        return {};
    const QString pinyin = PinyinQuery(needle);
    // Each distinct title and channel is judged once, however many programmes share it.
    QList<bool> titleMatches(titles_.size());
    for (qsizetype i = 0; i < titles_.size(); ++i) {
        const Title& title = titles_[i];
        titleMatches[i] = title.text.contains(needle, Qt::CaseInsensitive) ||
                          (!pinyin.isEmpty() &&
                           (title.keys.initials.startsWith(pinyin) || title.keys.full.contains(pinyin)));
    }
    QList<bool> channelMatches(guide_->channels.size());
    for (qsizetype i = 0; i < guide_->channels.size(); ++i)
        channelMatches[i] = guide_->channels[i].displayName.contains(needle, Qt::CaseInsensitive);

    const qint64 moment = now.toMSecsSinceEpoch();
    QList<const Entry*> found;
    for (const Entry& entry : entries_)
        if (titleMatches[entry.title] || channelMatches[entry.channel])
            found.append(&entry);
    std::stable_sort(found.begin(), found.end(), [moment](const Entry* a, const Entry* b) {
        const bool aPast = a->end <= moment;
        const bool bPast = b->end <= moment;
        if (aPast != bPast)
            return bPast;
        return aPast ? a->start > b->start : a->start < b->start;
    });
    QList<SearchMatch> matches;
    matches.reserve(found.size());
    for (const Entry* entry : found)
        matches.append({entry->channel, entry->programme, entry->end <= moment});
    return matches;
}
