#include <gtest/gtest.h>
#include <unistd.h>

#include "service/systemd_notifier.h"

namespace {

using namespace std::chrono_literals;

// The messages themselves reach systemd in the end-to-end service test.
TEST(SystemdNotifier, PingsAtHalfTheWatchdogOfThisProcessOnly) {
    const struct {
        const char* usec;
        std::string pid;
        std::optional<std::chrono::microseconds> every;
    } cases[] = {{nullptr, "", std::nullopt},
                 {"40000000", std::to_string(getpid()), 20s},
                 {"40000000", "", 20s},
                 {"40000000", "1", std::nullopt}};  // inherited from the parent
    for (const auto& c : cases) {
        c.usec ? setenv("WATCHDOG_USEC", c.usec, 1) : unsetenv("WATCHDOG_USEC");
        c.pid.empty() ? unsetenv("WATCHDOG_PID") : setenv("WATCHDOG_PID", c.pid.c_str(), 1);
        EXPECT_EQ(vs::SystemdNotifier().pingEvery(), c.every) << c.pid;
    }
    unsetenv("WATCHDOG_USEC");
}

}  // namespace
