#include "service/alerts.h"

#include <gtest/gtest.h>

#include <thread>
#include <sys/stat.h>

#include <fstream>
#include <string_view>

#include "service/run_totals.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using vs::CycleOutcome;

struct AlertsTest : ::testing::Test {
    std::string script(const std::string& body) {
        vs::test::writeFile(dir / "alert", "#!/bin/sh\n" + body);
        chmod((dir / "alert").c_str(), 0755);
        return (dir / "alert").string();
    }
    vs::Alerts alerts(vs::AlertSettings settings, std::chrono::milliseconds limit = 30s) {
        return vs::Alerts(
            std::move(settings), dir.path(), [this] { ++yields; },
            [this](const std::string& l) { log.push_back(l); }, limit);
    }
    vs::test::TempDir dir;
    std::vector<std::string> log;
    int yields = 0;
};

// Outcomes in the order of CycleOutcome: - not run, n nothing to do, c clean, e errors, x no
// connection. The settings file gives the command a second word, "|", that it writes after
// each run.
TEST_F(AlertsTest, FireOnceOnEnteringTheFailingStateAndOnceOnRecovery) {
    const struct {
        std::string after;
        std::string outcomes, runs;  // runs: event, count and last error of each command run
    } cases[] = {
        {"", "eeeeec", "failing 3 E3|recovered 5 E5|"},
        {"3", "eecee", ""},
        {"3", "ee-exnncc", "failing 3 E4|recovered 4 E5|"},
        {"1", "xcxn", "failing 1 E1|recovered 1 E1|failing 1 E3|recovered 1 E3|"},
    };
    const std::string cmd = script(
        "printf '%s %s %s%s' $VALTRASSOSFTP_EVENT $VALTRASSOSFTP_FAILING_CYCLES "
        "\"$VALTRASSOSFTP_LAST_ERROR\" \"$1\" >>\"$VALTRASSOSFTP_HOME/runs\"\n"
        "printf 'ok\\033\\n'; exit 3");
    for (const auto& c : cases) {
        std::filesystem::remove(dir / "runs");
        log.clear();
        vs::test::writeFile(dir / "v.ini", "[PARAMETRI]\r\nalertcommand= " + cmd +
                                               " \t|\r\nalertafter=" + c.after + "\r\n");
        vs::Alerts a = alerts(vs::readAlertSettings(dir / "v.ini"));
        for (std::size_t i = 0; i < c.outcomes.size(); ++i) {
            vs::CycleReport r;
            r.outcome = CycleOutcome(std::string_view("-ncex").find(c.outcomes[i]));
            if (vs::isFailingOutcome(r.outcome)) r.lastErrorLine = "E" + std::to_string(i + 1);
            a.afterCycle(r);
        }
        EXPECT_EQ(std::filesystem::exists(dir / "runs") ? vs::test::readFile(dir / "runs") : "",
                  c.runs);
        ASSERT_EQ(log.size(), std::count(c.runs.begin(), c.runs.end(), '|')) << c.outcomes;
        if (!log.empty()) {
            EXPECT_EQ(log[0], "Allarme failing: " + cmd + " terminato con codice 3: ok\\x1b");
        }
    }
}

TEST_F(AlertsTest, AHangingCommandAndWhatItStartedAreKilledAtTheLimit) {
    const std::string cmd =
        script("echo on; sleep 60 & echo $! >\"$VALTRASSOSFTP_HOME/pid\"; wait");
    const auto start = std::chrono::steady_clock::now();
    alerts({{cmd}, 1, ""}, 2s).afterCycle({1, CycleOutcome::Errors, {}, {}, {}, ""});
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_GT(yields, 10);  // the program's events ran meanwhile
    EXPECT_EQ(log, std::vector<std::string>{"Allarme failing: " + cmd +
                                            " interrotto dopo 2 secondi: on"});
    // Killed with its group, the sleep is gone (or a zombie, or its number reused) at once, or
    // as soon as a loaded machine lets it die.
    const std::string stat =
        "/proc/" + std::to_string(std::stoi(vs::test::readFile(dir / "pid"))) + "/stat";
    const auto alive = [&] {
        std::ifstream f(stat);
        std::string pid, name, state;
        return f >> pid >> name >> state && name == "(sleep)" && state != "Z";
    };
    for (int i = 0; i < 100 && alive(); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(alive());
}

TEST_F(AlertsTest, AMissingCommandIsOneLogLine) {
    alerts({{(dir / "nope").string()}, 1, ""})
        .afterCycle({1, CycleOutcome::ConnectFailed, {}, {}, {}, ""});
    EXPECT_EQ(log, std::vector<std::string>{"Allarme failing: " + (dir / "nope").string() +
                                            " non trovato"});
}

}  // namespace
