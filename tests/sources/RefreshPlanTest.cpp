// When the program updates by itself: the decision at chosen moments, with the history it plans by.
#include "sources/RefreshPlan.h"

#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

// 2026-12-<day> hh:mm, local time.
QDateTime At(int day, int hour, int minute = 0) {
    return QDateTime(QDate(2026, 12, day), QTime(hour, minute));
}

std::string Text(const QDateTime& time) {
    return time.isValid() ? time.toString(QStringLiteral("dd hh:mm")).toStdString() : "none";
}

TEST(RefreshPlan, DecisionsAtChosenMoments) {
    // The program starts on the 10th at 09:00 unless a row says otherwise; the daily time is 03:00.
    const struct {
        const char* name;
        bool enabled = true;
        UpdateHistory history;
        bool hasDayAfterToday = true;
        bool running = false;
        QDateTime since = At(10, 9);
        QTime daily = QTime(3, 0);
        QDateTime next; // invalid: none planned
    } cases[] = {
        {.name = "off: nothing, however old", .enabled = false, .history = {}, .next = {}},
        {.name = "never updated: at the start", .history = {}, .next = At(10, 9)},
        {.name = "last success 12 h 1 min before the start: at the start",
         .history = {At(9, 20, 59), At(9, 20, 59), {}, 0},
         .next = At(10, 9)},
        {.name = "last success 12 h before the start: the next daily time",
         .history = {At(9, 21), At(9, 21), {}, 0},
         .next = At(11, 3)},
        {.name = "fresh but no listing has a day after today: at the start",
         .history = {At(10, 8), At(10, 8), {}, 0},
         .hasDayAfterToday = false,
         .next = At(10, 9)},
        {.name = "fresh, started before the daily time: that time today",
         .history = {At(10, 1), At(10, 1), {}, 0},
         .since = At(10, 2),
         .next = At(10, 3)},
        {.name = "an update runs: planned when it ends", .history = {}, .running = true, .next = {}},
        {.name = "updated in this run: the daily time after it",
         .history = {At(10, 9), At(10, 9, 2), {}, 0},
         .next = At(11, 3)},
        {.name = "another daily time",
         .history = {At(10, 9), At(10, 9, 2), {}, 0},
         .daily = QTime(23, 15),
         .next = At(10, 23, 15)},
        {.name = "first failure: 30 min after it",
         .history = {At(10, 9), {}, At(10, 9, 1), 1},
         .next = At(10, 9, 31)},
        {.name = "second failure in a row: 1 h after it",
         .history = {At(10, 9, 31), {}, At(10, 9, 32), 2},
         .next = At(10, 10, 32)},
        {.name = "third failure in a row: 2 h after it",
         .history = {At(10, 10, 32), {}, At(10, 10, 33), 3},
         .next = At(10, 12, 33)},
        {.name = "fourth failure in a row: the next daily time",
         .history = {At(10, 12, 33), {}, At(10, 12, 34), 4},
         .next = At(11, 3)},
        {.name = "a failure just before the daily time: the daily time comes first, 30 min after the start",
         .history = {At(11, 2, 50), At(10, 9), At(11, 2, 55), 1},
         .since = At(10, 9),
         .next = At(11, 3, 20)},
        {.name = "a manual update 10 min ago, listings stale at start: 30 min after it",
         .history = {At(10, 8, 50), {}, {}, 0},
         .since = At(10, 8, 55),
         .next = At(10, 9, 20)},
        {.name = "failures of an earlier run: the retry is due at once",
         .history = {At(9, 20), At(9, 12), At(9, 20, 1), 1},
         .since = At(10, 9),
         .next = At(9, 20, 31)},
        {.name = "a run of several days since its last update: the daily time that passed is due",
         .history = {At(8, 9), At(8, 9, 1), {}, 0},
         .since = At(8, 8),
         .next = At(9, 3)},
    };
    for (const auto& c : cases) {
        RefreshFacts facts;
        facts.options = {c.enabled, c.daily};
        facts.history = c.history;
        facts.since = c.since;
        facts.hasDayAfterToday = c.hasDayAfterToday;
        facts.updateRunning = c.running;
        const QDateTime next = NextAutomaticUpdate(facts);
        EXPECT_EQ(Text(next), Text(c.next)) << c.name;
        if (c.next.isValid()) {
            EXPECT_FALSE(AutomaticUpdateDue(facts, c.next.addSecs(-1))) << c.name;
            EXPECT_TRUE(AutomaticUpdateDue(facts, c.next)) << c.name;
        } else {
            EXPECT_FALSE(AutomaticUpdateDue(facts, At(20, 0))) << c.name;
        }
    }
}

} // namespace
