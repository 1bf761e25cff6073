#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string_view>

#include "service/alerts.h"
#include "service/journal_stream.h"
#include "service/metrics_file.h"
#include "service/run_totals.h"
#include "support/fake_clock.h"
#include "support/servers.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using vs::CycleOutcome;

// What promtool, the Prometheus project's own checker, finds wrong with a metrics file: the
// exposition format read strictly, and its lint rules (help texts, counter names).
std::string promtoolFaults(const std::filesystem::path& file) {
    const std::string said = file.string() + ".promtool";
    if (vs::test::runCommand(std::string(VS_PROMTOOL) + " check metrics < '" + file.string() +
                             "' > '" + said + "' 2>&1"))
        return "";
    return "promtool (scripts/install-deps fetches it): " + vs::test::readFile(said);
}

vs::CycleReport report(int cycle, CycleOutcome outcome, std::vector<vs::JobTally> jobs) {
    const vs::TimePoint start = vs::test::FakeClock::at(2026, 12, 7, 10, cycle, 0);
    return {cycle, outcome, start, start + 2500ms, std::move(jobs), ""};
}

// Job 2's remote folder has every character the label format escapes, a Latin-1 byte, which
// is escaped, and a four-byte UTF-8 character, which is not. The job's label is not "job",
// which Prometheus sets on every series it scrapes.
TEST(MetricsWriter, CountersAddUpOverCyclesAndGaugesFollowTheLast) {
    vs::test::TempDir dir;
    vs::MetricsWriter w(dir / "m.prom", "/h", {}, {});
    const std::pair<vs::CycleReport, std::string> steps[] = {
        {report(
             1, CycleOutcome::Errors,
             {{1, "/in", 2, 300, 0, 0, 0}, {2, "a\"b\\c\nd\xe8\xf0\x9f\x98\x80", 0, 0, 1, 10, 1}}),
         R"(cycles_total{home="/h"} 1
downloaded_bytes_total{home="/h",transfer_job="1",remote_folder="/in"} 300
errors_total{home="/h",transfer_job="2",remote_folder="a\"b\\c\nd\\xe8😀"} 1
failing_cycles_in_a_row{home="/h"} 1
last_cycle_outcome{home="/h",outcome="errors"} 1
build_info{home="/h",version="4.0.0"} 1
configured_jobs{home="/h"} 2
settings_problems{home="/h"} 1
)"},
        {report(2, CycleOutcome::Clean, {{1, "/in", 3, 700, 0, 0, 0}}),
         R"(cycles_total{home="/h"} 2
downloaded_files_total{home="/h",transfer_job="1",remote_folder="/in"} 5
downloaded_bytes_total{home="/h",transfer_job="1",remote_folder="/in"} 1000
uploaded_bytes_total{home="/h",transfer_job="2",remote_folder="a\"b\\c\nd\\xe8😀"} 10
failing_cycles_in_a_row{home="/h"} 0
last_cycle_outcome{home="/h",outcome="clean"} 1
last_cycle_duration_seconds{home="/h"} 2.500
)"},
        // Settings that give nothing to run fail the cycle, and say so.
        {report(3, CycleOutcome::ConfigInvalid, {}),
         R"(failing_cycles_in_a_row{home="/h"} 1
last_cycle_outcome{home="/h",outcome="config_invalid"} 1
last_cycle_outcome{home="/h",outcome="clean"} 0
)"}};
    for (const auto& [cycle, expected] : steps) {
        w.record(cycle, {"4.0.0", 2, 1});
        const std::string text = vs::test::readFile(dir / "m.prom");
        ASSERT_EQ(promtoolFaults(dir / "m.prom"), "");
        for (std::size_t at = 0, nl; (nl = expected.find('\n', at)) != std::string::npos;
             at = nl + 1)
            EXPECT_TRUE(text.find("\nvaltrassosftp_" + expected.substr(at, nl - at + 1)) !=
                        std::string::npos)
                << expected.substr(at, nl - at);
        EXPECT_EQ(
            text.find("\nvaltrassosftp_last_clean_cycle_timestamp_seconds{") != std::string::npos,
            cycle.cycle >= 2);
    }
}

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
// connection, s no usable settings. The command has a second word, "|", that it writes after
// each run.
TEST_F(AlertsTest, FireOnceOnEnteringTheFailingStateAndOnceOnRecovery) {
    const struct {
        int after;
        std::string outcomes, runs;  // runs: event, count and last error of each command run
    } cases[] = {
        {3, "eeeeec", "failing 3 E3|recovered 5 E5|"},
        {3, "eecee", ""},
        {3, "ee-exnncc", "failing 3 E4|recovered 4 E5|"},
        {1, "xcxn", "failing 1 E1|recovered 1 E1|failing 1 E3|recovered 1 E3|"},
        {2, "sse", "failing 2 E2|"},
    };
    const std::string cmd = script(
        "printf '%s %s %s%s' $VALTRASSOSFTP_EVENT $VALTRASSOSFTP_FAILING_CYCLES "
        "\"$VALTRASSOSFTP_LAST_ERROR\" \"$1\" >>\"$VALTRASSOSFTP_HOME/runs\"\n"
        "printf 'ok\\033\\n'; exit 3");
    for (const auto& c : cases) {
        std::filesystem::remove(dir / "runs");
        log.clear();
        vs::Alerts a = alerts({vs::splitOnBlanks(" " + cmd + " \t|"), c.after});
        for (std::size_t i = 0; i < c.outcomes.size(); ++i) {
            vs::CycleReport r;
            r.outcome = CycleOutcome(std::string_view("-ncexs").find(c.outcomes[i]));
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
    alerts({{cmd}, 1}, 2s).afterCycle({1, CycleOutcome::Errors, {}, {}, {}, ""});
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
    alerts({{(dir / "nope").string()}, 1})
        .afterCycle({1, CycleOutcome::ConnectFailed, {}, {}, {}, ""});
    EXPECT_EQ(log, std::vector<std::string>{"Allarme failing: " + (dir / "nope").string() +
                                            " non trovato"});
}

}  // namespace

// The journal's priorities: only on a stream that is the journal, told by the program's texts.
TEST(Journal, PrioritiesOnlyOnTheJournalsStreamAndByWhatTheLineReports) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    struct stat st {};
    ::fstat(fds[1], &st);
    const std::string stream = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    EXPECT_TRUE(vs::isJournalStream(fds[1], stream.c_str()));
    for (const char* other : {static_cast<const char*>(nullptr), "", "1:2", "x"})
        EXPECT_FALSE(vs::isJournalStream(fds[1], other));
    ::close(fds[0]);
    ::close(fds[1]);
    for (const auto& [line, priority] : {
             std::pair{" Collegamento 3 ****** ERRORE **** 3 rifiutato step 100", 3},
             {"12:00:05 Not Connected ! rifiutato", 3},
             {"Connect Failed Connessione rifiutata da 127.0.0.1:22", 3},
             {"12:00:05 Download incorretto a.txt", 3},
             {"12:00:05 Collegamento Terminato  CON ERRORI", 3},
             {"Parametri, deltatime: 'abc' non valido", 4},
             {"12:00:05 File remoto non cancellato a.txt", 4},
             {"12:00:05 Collegamento Terminato  !", 6},
             {"File dei parametri: /srv/Parametri, vecchi/x.ini", 6},
         })
        EXPECT_EQ(vs::linePriority(line), priority) << line;
    EXPECT_EQ(vs::journalPrefix("12:00:05 Download incorretto a.txt", true), "<3>");
    EXPECT_EQ(vs::journalPrefix("12:00:05 Download incorretto a.txt", false), "");
}
