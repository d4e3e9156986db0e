#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>

#include <optional>

class QIODevice;

// The listings of a data folder as one XMLTV document, for other guides to read.

// The id of a channel that no feed gave: its class folder (the folders between the data folder and
// the file; "-" for a file directly in the data folder) and its file name, joined by ".". In both,
// ASCII letters and digits stay and every other byte of the name is written as "-" and two hex
// digits, the form that XMLTV asks of ids; the id never changes while the file stays where it is.
QString ExportChannelId(const QString& classFolder, const QString& fileName);

struct ExportRange {
    QDate firstDay;          // programmes that start on or after this day; invalid: from the start
    std::optional<int> days; // and before firstDay + days; empty: to the end
};

// The `days` days from the day of `now` on the listings' clock (Beijing time, see ListingTime.h),
// whatever the machine's zone.
ExportRange DaysFrom(const QDateTime& now, int days);

// Walks the data folder (as the channel list does, but taking only links that lead to places inside
// it, so nothing outside it is ever read) and writes one <channel> per listing file, with the name
// the channel list shows; a listing that a feed gave keeps the feed's id (the index of feed
// listings), unless an earlier channel of the document has it. Then one <programme> per programme of the
// listings' schedules, in channel order, with start and (where the next programme gives it) stop as
// "YYYYMMDDhhmmss +0800", the listings' Beijing time. Listings that cannot be read are left out.
// Returns the number of channels written.
// Throws Exception when the data folder does not exist.
int WriteXmltv(const QString& dataFolder, QIODevice& out, const ExportRange& range = {});
