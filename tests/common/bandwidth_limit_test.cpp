#include "common/bandwidth_limit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

namespace vs::test {
namespace {

using namespace std::chrono_literals;
using Steady = BandwidthLimit::Steady;

TEST(BandwidthLimit, CreditDebtAndTheWaitThatPaysItBack) {
    // At 100,000 bytes a second: a credit of 5,000 bytes, one byte every 10 us.
    const std::vector<std::tuple<const char*, Steady::duration, std::int64_t, Steady::duration>>
        rows = {
            // what, time passed before, bytes spent, wait after
            {"a fresh bucket lets its credit go at once", 0ms, 5000, 0ms},
            {"beyond the credit, the debt is waited for", 0ms, 2000, 20ms},
            {"half the wait pays half the debt", 10ms, 0, 10ms},
            {"the whole wait pays it", 10ms, 0, 0ms},
            {"a long pause earns no more than the credit", 10s, 15000, 100ms},
            {"what a wait did not pay is still owed", 60ms, 1000, 50ms},
        };
    Steady::time_point now{};
    BandwidthLimit limit(100000, [&now] { return now; });
    EXPECT_EQ(limit.step(), 2000u);
    for (const auto& [what, passed, spent, wait] : rows) {
        now += passed;
        limit.spend(spent);
        EXPECT_EQ(limit.wait(), wait) << what;
    }
}

TEST(BandwidthLimit, EverySecondAfterTheFirstCarriesTheLimitWithinTenPerCent) {
    const std::vector<std::tuple<std::int64_t, int, Steady::duration>> rows = {
        // bytes a second, transfers sharing the bucket, most a sleep overshoots
        {256 * 1024, 1, 0ms},
        {256 * 1024, 2, 40ms},  // a loaded machine wakes late
        {20 * 1024 * 1024, 1, 40ms},
        {50 * 1024, 1, 10ms},
    };
    for (const auto& [rate, transfers, overshoot] : rows) {
        Steady::time_point now{};
        BandwidthLimit limit(rate, [&now] { return now; });
        std::mt19937 random(7);
        std::uniform_int_distribution<Steady::rep> late(0, Steady::duration(overshoot).count());
        std::vector<std::int64_t> perSecond(12);
        // The transfers take turns moving a step while the bucket lets them, then sleep.
        while (now < Steady::time_point(12s)) {
            bool moved = false;
            for (int t = 0; t < transfers; ++t) {
                if (limit.holds()) continue;
                limit.spend(static_cast<std::int64_t>(limit.step()));
                const auto second =
                    std::chrono::floor<std::chrono::seconds>(now.time_since_epoch());
                perSecond[static_cast<std::size_t>(second.count())] +=
                    static_cast<std::int64_t>(limit.step());
                moved = true;
            }
            if (!moved) now += limit.wait() + Steady::duration(late(random));
        }
        for (std::size_t s = 1; s < perSecond.size() - 1; ++s)
            EXPECT_NEAR(perSecond[s], rate, rate / 10) << rate << " B/s, second " << s;
    }
}

}  // namespace
}  // namespace vs::test
