#pragma once

#include "xmltv/FeedReader.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>
#include <QList>
#include <QString>
#include <QTime>

class QIODevice;

// The text of a channel's listing file, in the shape of the schedule packages: UTF-8 with its
// mark, CR LF line ends; "<name> 一周节目预告", an empty line, then per date an empty line before a
// heading "YYYY-MM-DD 星期X" and "HH:MM title" lines ("HH:MM:SS" when the seconds are not zero).

// Writes a listing as its programmes come, already in time order, so that no listing is ever
// whole in memory. A programme of the start and title of one written before is written once: feeds
// repeat their programmes, and each repeat would be a line of its own.
class ListingWriter final {
public:
    // Writes the mark and the title line.
    ListingWriter(QIODevice& out, const QString& displayName);
    void Add(QDate date, QTime time, QByteArrayView titleUtf8);

private:
    bool Repeats(QDate date, QTime time, QByteArrayView titleUtf8);

    QIODevice& out_;
    QDate day_;
    QByteArray line_;
    // The titles written at the last start, one after the other, and where each ends.
    QTime start_;
    QByteArray startTitles_;
    QList<qsizetype> startTitleEnds_;
};

// A whole listing, its programmes put in time order first (those of the same start in their order).
QByteArray ListingFileBytes(const QString& displayName, const QList<FeedProgramme>& programmes);
