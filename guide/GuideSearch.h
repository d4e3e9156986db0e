#pragma once

#include "guide/Guide.h"
#include "guide/Pinyin.h"

#include <QDateTime>
#include <QList>
#include <QStringView>

#include <memory>
#include <stop_token>

struct SearchMatch {
    qsizetype channel = -1; // index into Guide::channels
    const Programme* programme = nullptr;
    bool past = false; // stopped at or before the search's moment
};

// The first matches of a search, and how many there are in all.
struct SearchResult {
    QList<SearchMatch> matches;
    qsizetype total = 0;
};

// The programme search over a guide. Built once per guide: the pinyin keys of every distinct title
// come from the cache then, so a search only compares strings.
class GuideSearch final {
public:
    // The search shares the guide: its matches point into it, also from a copy of the search. When
    // `stop` is requested the index is left with the channels done so far.
    GuideSearch(std::shared_ptr<const Guide> guide, PinyinCache& pinyin, const std::stop_token& stop = {});

    const Guide& SearchedGuide() const { return *guide_; }

    // Programmes whose title or channel name contains `text` (any case), or, when `text` is ASCII
    // letters (blanks ignored), whose title's pinyin initials start with it or whose full pinyin
    // contains it. Upcoming ones (not yet stopped at `now`) first, earliest first, then past ones,
    // latest first. Programmes of undated days are not found. Empty text finds nothing.
    QList<SearchMatch> Find(QStringView text, const QDateTime& now) const;
    // The first `limit` of those, in that order, and the count of all; costs no more memory than the
    // matches kept, however many there are.
    SearchResult Find(QStringView text, const QDateTime& now, qsizetype limit) const;

    qsizetype ProgrammeCount() const { return entries_.size(); }

private:
    struct Title {
        QString text;
        PinyinKeys keys;
    };
    struct Entry {
        qsizetype channel;
        qsizetype title; // index into titles_
        const Programme* programme;
        // Instants as milliseconds since the epoch: converting them once keeps a search cheap.
        qint64 start;
        qint64 end;
    };
    std::shared_ptr<const Guide> guide_;
    QList<Title> titles_;
    QList<Entry> entries_;
};
