#include "sources/SourceRun.h"

#include <algorithm>

bool SourceRun::AnyFetched() const {
    return std::any_of(entries.begin(), entries.end(),
                       [](const SourceRunEntry& entry) { return entry.fetched; });
}

bool SourceRun::AnySucceeded() const {
    return std::any_of(entries.begin(), entries.end(),
                       [](const SourceRunEntry& entry) { return !entry.failed; });
}

bool SourceRun::AnyFailed() const {
    return std::any_of(entries.begin(), entries.end(),
                       [](const SourceRunEntry& entry) { return entry.failed; });
}

QString SourceRunSummary(const SourceRun& run) {
    const auto failed = std::count_if(run.entries.begin(), run.entries.end(),
                                      [](const SourceRunEntry& entry) { return entry.failed; });
    return QStringLiteral("更新完成：%1个节目源成功，%2个失败").arg(run.entries.size() - failed).arg(failed);
}
