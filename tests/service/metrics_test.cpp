#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <set>
#include <thread>

#include "service/metrics_file.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using vs::CycleOutcome;

// The text exposition format read strictly, as promtool check metrics would: every line a
// HELP, a TYPE before its family's samples, or a sample of the current family; counters end in
// _total; no series twice; line feed at the end. Returns the first offending line.
std::string strictFormatError(const std::string& text) {
    const std::string name = "([a-zA-Z_:][a-zA-Z0-9_:]*)";
    const std::string label = R"([a-zA-Z_][a-zA-Z0-9_]*="(?:[^"\\\n]|\\[\\"n])*")";
    static const std::regex help("# HELP " + name + R"( (?:[^\\\n]|\\[\\n])*)");
    static const std::regex type("# TYPE " + name + " (counter|gauge|histogram|summary|untyped)");
    static const std::regex sample(name + R"((\{(?:)" + label + "(?:," + label + R"()*)?\})?)" +
                                   R"( [-+]?(?:[0-9]+(?:\.[0-9]+)?(?:e[-+]?[0-9]+)?|Inf|NaN))");
    std::set<std::string> helped, typed, sampled, series;
    std::string family, familyType;
    std::smatch m;
    if (text.empty() || text.back() != '\n') return "no line feed at the end";
    for (std::size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1) {
        const std::string line = text.substr(at, nl - at);
        bool ok = false;
        if (std::regex_match(line, m, help)) {
            ok = helped.insert(m[1]).second;
        } else if (std::regex_match(line, m, type)) {
            ok = typed.insert(m[1]).second && !sampled.count(m[1]);
            family = m[1], familyType = m[2];
        } else if (std::regex_match(line, m, sample)) {
            ok = m[1] == family && (familyType != "counter" || family.ends_with("_total")) &&
                 series.insert(line.substr(0, line.rfind(' '))).second;
            sampled.insert(m[1]);
        }
        if (!ok) return line;
    }
    return "";
}

vs::CycleReport report(int cycle, CycleOutcome outcome, std::vector<vs::JobTally> jobs) {
    const vs::TimePoint start = vs::test::FakeClock::at(2026, 12, 7, 10, cycle, 0);
    return {cycle, outcome, start, start + 2500ms, std::move(jobs), ""};
}

// Job 2's remote folder has every character the label format escapes, a Latin-1 byte, which
// is escaped, and a four-byte UTF-8 character, which is not.
TEST(MetricsWriter, CountersAddUpOverCyclesAndGaugesFollowTheLast) {
    vs::test::TempDir dir;
    vs::MetricsWriter w(dir / "m.prom", "/h", {}, {});
    const std::pair<vs::CycleReport, std::string> steps[] = {
        {report(1, CycleOutcome::Errors,
                {{1, "/in", 2, 300, 0, 0, 0}, {2, "a\"b\\c\nd\xe8\xf0\x9f\x98\x80", 0, 0, 1, 10, 1}}),
         R"(cycles_total{home="/h"} 1
downloaded_bytes_total{home="/h",job="1",remote_folder="/in"} 300
errors_total{home="/h",job="2",remote_folder="a\"b\\c\nd\\xe8😀"} 1
failing_cycles_in_a_row{home="/h"} 1
last_cycle_outcome{home="/h",outcome="errors"} 1
)"},
        {report(2, CycleOutcome::Clean, {{1, "/in", 3, 700, 0, 0, 0}}),
         R"(cycles_total{home="/h"} 2
downloaded_files_total{home="/h",job="1",remote_folder="/in"} 5
downloaded_bytes_total{home="/h",job="1",remote_folder="/in"} 1000
uploaded_bytes_total{home="/h",job="2",remote_folder="a\"b\\c\nd\\xe8😀"} 10
failing_cycles_in_a_row{home="/h"} 0
last_cycle_outcome{home="/h",outcome="clean"} 1
last_cycle_duration_seconds{home="/h"} 2.500
)"}};
    for (const auto& [cycle, expected] : steps) {
        w.record(cycle);
        const std::string text = vs::test::readFile(dir / "m.prom");
        ASSERT_EQ(strictFormatError(text), "");
        for (std::size_t at = 0, nl; (nl = expected.find('\n', at)) != std::string::npos;
             at = nl + 1)
            EXPECT_TRUE(text.find("\nvaltrassosftp_" + expected.substr(at, nl - at + 1)) !=
                        std::string::npos)
                << expected.substr(at, nl - at);
        EXPECT_EQ(
            text.find("\nvaltrassosftp_last_clean_cycle_timestamp_seconds{") != std::string::npos,
            cycle.cycle == 2);
    }
}

TEST(MetricsWriter, AReaderRacingTheWriterAlwaysSeesAWholeFile) {
    vs::test::TempDir dir;
    vs::MetricsWriter w(dir / "m.prom", "/h", {}, {});
    std::vector<vs::JobTally> jobs;
    for (int j = 0; j <= 50; ++j)
        jobs.push_back({j, "/remote/" + std::to_string(j), 1, 9, 1, 7, 0});
    w.record(report(0, CycleOutcome::Clean, jobs));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int c = 1; c <= 200; ++c) w.record(report(c, CycleOutcome::Clean, jobs));
        done = true;
    });
    for (std::string error; !done && error.empty();) {
        error = strictFormatError(vs::test::readFile(dir / "m.prom"));
        EXPECT_EQ(error, "");
    }
    writer.join();
}

}  // namespace
