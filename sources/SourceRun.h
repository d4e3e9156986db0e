#pragma once

#include "sources/ScheduleSources.h"
#include "sources/SourceConversion.h"

#include <QList>
#include <QString>

#include <optional>

// An update of several sources, from the fetches to the conversion.
struct SourceRunEntry {
    enum class Kind { Unknown, Feed, Archive };

    ScheduleSource source; // as it was when the update began
    QString file;          // where its downloads are kept
    Kind kind = Kind::Unknown;
    bool fetched = false; // a new file came in this update
    bool failed = false;
    QString result;                           // the 结果 text once known
    std::optional<FeedSourceReading> reading; // a feed fetched in this update, as read
};

struct SourceRun {
    QList<SourceRunEntry> entries; // the enabled sources, in the table's order

    bool AnyFetched() const;
    bool AnySucceeded() const;
    bool AnyFailed() const;
};

// The status panel's last line: "更新完成：3个节目源成功，1个失败".
QString SourceRunSummary(const SourceRun& run);
