#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <functional>

#include "service/systemd_notifier.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

// Stands in for systemd: reads what arrives at the datagram socket NOTIFY_SOCKET names.
TEST(SystemdNotifier, EachStateReachesTheSocketAsOneLineAndNothingWithoutIt) {
    vs::test::TempDir dir;
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{AF_UNIX, {}};
    (dir / "notify").string().copy(addr.sun_path, sizeof addr.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const auto next = [fd] {
        char buf[512];
        const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        return n < 0 ? std::string("(none)") : std::string(buf, n);
    };
    vs::SystemdNotifier n;
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { n.ready(); }, "READY=1"},
        {[&] { n.status("Ciclo 4: ricevuti 2"); }, "STATUS=Ciclo 4: ricevuti 2"},
        {[&] { n.status("x\nREADY=1"); }, "STATUS=x\\x0aREADY=1"},
        {[&] { n.watchdog(); }, "WATCHDOG=1"},
        {[&] { n.stopping(); }, "STOPPING=1"},
    };
    for (const char* socket : std::initializer_list<const char*>{addr.sun_path, nullptr}) {
        socket ? setenv("NOTIFY_SOCKET", socket, 1) : unsetenv("NOTIFY_SOCKET");
        for (const auto& [call, datagram] : cases) {
            call();
            EXPECT_EQ(next(), socket ? datagram : "(none)");
        }
    }
    close(fd);
}

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
