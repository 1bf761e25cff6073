#include "common/bandwidth_limit.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>
#include <vector>

namespace vs::test {
namespace {

using namespace std::chrono_literals;
using Steady = BandwidthLimit::Steady;

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
