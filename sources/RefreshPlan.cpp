#include "sources/RefreshPlan.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array<qint64, 3> kRetryAfterSeconds = {qint64(30) * 60, qint64(60) * 60, qint64(2) * 60 * 60};

// The first moment at the daily time after `after`.
QDateTime NextDailyTime(const QTime& daily, const QDateTime& after) {
    QDateTime candidate(after.date(), daily);
    if (candidate <= after)
        candidate = QDateTime(after.date().addDays(1), daily);
    return candidate;
}

} // namespace

QDateTime NextAutomaticUpdate(const RefreshFacts& facts) {
    if (!facts.options.enabled || facts.updateRunning)
        return {};
    const UpdateHistory& history = facts.history;
    const bool startedThisRun = history.lastStart.isValid() && history.lastStart >= facts.since;

    // The daily time counts from the start of this run, or from the last update begun in it.
    QDateTime next = NextDailyTime(facts.options.dailyTime, startedThisRun ? history.lastStart : facts.since);
    if (!startedThisRun) {
        const bool stale =
            !history.lastSuccess.isValid() || history.lastSuccess.secsTo(facts.since) > kStaleAfterSeconds;
        if (stale || !facts.hasDayAfterToday)
            next = std::min(next, facts.since);
    }
    const int failures = history.failuresInRow;
    if (failures >= 1 && failures <= static_cast<int>(kRetryAfterSeconds.size()) &&
        history.lastFailure.isValid())
        next = std::min(next,
                        history.lastFailure.addSecs(kRetryAfterSeconds[static_cast<size_t>(failures - 1)]));
    if (history.lastStart.isValid())
        next = std::max(next, history.lastStart.addSecs(kMinSpacingSeconds));
    return next;
}

bool AutomaticUpdateDue(const RefreshFacts& facts, const QDateTime& now) {
    const QDateTime next = NextAutomaticUpdate(facts);
    return next.isValid() && next <= now;
}
