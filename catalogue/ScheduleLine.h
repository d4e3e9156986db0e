#pragma once

#include <QStringView>
#include <QTime>

#include <optional>
#include <utility>

// The grammar of a listing's lines (see Schedule.h for the forms), one line at a time.

// A day heading as written.
struct Heading {
    int year = 0; // 0: none written
    int month = 0;
    int day = 0;     // 0 with month 0: no date written
    int weekday = 0; // 1 (Monday) to 7, 0: none written
};

// What a listing line is: blank (`trimmed` empty), a programme, a heading, or else a note.
struct ListingLine {
    QStringView trimmed;
    std::optional<std::pair<QTime, QStringView>> programme; // its time and title
    std::optional<Heading> heading;
};

ListingLine ReadListingLine(QStringView untrimmed);
