#pragma once

#include "catalogue/Schedule.h"
#include "catalogue/ScheduleLine.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringView>

// Builds a schedule from a listing's lines, taken one by one in listing order: the days with their
// programmes and notes as they come, then the dates, the programmes' instants and their stops at
// the end.
class ScheduleReader final {
public:
    // The next line.
    void Take(QStringView untrimmed) { Take(untrimmed, index_++); }
    // The line with index `index` (lines may be skipped); true when it is a programme.
    bool Take(QStringView untrimmed, qsizetype index);

    // The schedule, the days dated from their headings (see ParseSchedule).
    Schedule Finish(const QDate& fallbackDate);
    // The schedule with the days' dates worked out beforehand, one per day taken.
    Schedule Finish(const QList<QDate>& dates);

private:
    struct ParsedDay {
        ScheduleDay day;
        std::optional<Heading> heading; // empty for the implicit day before any heading
    };

    QString Title(QStringView text);

    Schedule schedule_;
    QList<ParsedDay> parsed_;
    QHash<QStringView, QString> titles_;
    qsizetype index_ = 0;
};
