#include "update/LowSpeedMeter.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = LowSpeedMeter::Clock;

struct MeterCase {
    const char* name;
    std::vector<std::pair<std::chrono::milliseconds, int64_t>> arrivals; // (time since start, bytes)
    std::chrono::milliseconds askedAt;
    bool tooSlow;
};

// A limit of 1,024 bytes in any 60 s.
TEST(LowSpeedMeter, AnyWindowWithTooFewBytesFails) {
    const MeterCase cases[] = {
        {"nothing before a whole window has passed", {}, 59s, false},
        {"nothing in a whole window", {}, 60s, true},
        {"a trickle of a byte a second", {{1s, 1}, {2s, 1}, {30s, 1}, {59s, 1}}, 61s, true},
        {"the limit within the window", {{10s, 1000}, {50s, 24}}, 60s, false},
        {"a burst that has left the window", {{1s, 5000}}, 62s, true},
        {"a burst still inside the window", {{3s, 5000}}, 62s, false},
    };
    for (const MeterCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Clock::time_point start{};
        LowSpeedMeter meter;
        meter.Start(1024, 60s, start);
        for (const auto& [at, bytes] : c.arrivals)
            meter.Add(bytes, start + at);
        EXPECT_EQ(meter.TooSlow(start + c.askedAt), c.tooSlow);
    }
}

// Many small pieces at a steady 2,000 bytes a minute pass every check, and the first minute
// without them fails.
TEST(LowSpeedMeter, SteadyPiecesPassUntilTheyStop) {
    const Clock::time_point start{};
    LowSpeedMeter meter;
    meter.Start(1024, 60s, start);
    for (int ms = 30; ms <= 180000; ms += 30) {
        meter.Add(1, start + std::chrono::milliseconds(ms));
        ASSERT_FALSE(meter.TooSlow(start + std::chrono::milliseconds(ms))) << ms;
    }
    EXPECT_FALSE(meter.TooSlow(start + 180s + 29s));
    EXPECT_TRUE(meter.TooSlow(start + 180s + 31s)) << "the last minute brought about 1,000 bytes";
}

TEST(LowSpeedMeter, ZeroTurnsItOff) {
    const Clock::time_point start{};
    for (const auto& [limit, window] : {std::pair{int64_t{0}, 60000ms}, std::pair{int64_t{1024}, 0ms}}) {
        LowSpeedMeter meter;
        meter.Start(limit, window, start);
        EXPECT_FALSE(meter.TooSlow(start + 3600s));
    }
}

} // namespace
