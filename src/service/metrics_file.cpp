#include "service/metrics_file.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "common/runtime_error.h"
#include "common/text.h"
#include "common/whole_file.h"

namespace vs {

namespace fs = std::filesystem;

namespace {

// Length of the well-formed UTF-8 sequence starting at s[i], or 0 (overlong forms and
// surrogates are not well-formed, as the scraper's decoder sees it).
std::size_t utf8Length(std::string_view s, std::size_t i) {
    const auto at = [&s](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned c = at(i);
    if (c < 0x80) return 1;
    const std::size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
    if (n == 0 || c > 0xF4 || i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((at(i + k) & 0xC0) != 0x80) return 0;
    const unsigned c1 = at(i + 1);
    if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F) || (c == 0xF0 && c1 < 0x90) ||
        (c == 0xF4 && c1 > 0x8F))
        return 0;
    return n;
}

std::string seconds(std::chrono::milliseconds d) {
    const long long ms = d.count();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld.%03lld", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    return buf;
}

std::string seconds(TimePoint t) {
    return seconds(std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()));
}

class Exposition {
  public:
    explicit Exposition(const std::string& home)
        : homeLabel_("home=\"" + escapeLabelValue(home) + "\"") {}

    void family(const char* name, const char* type, const char* help) {
        text_ +=
            std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    }
    void sample(const char* name, const std::string& extraLabels, const std::string& value) {
        text_ += std::string(name) + "{" + homeLabel_ + extraLabels + "} " + value + "\n";
    }
    std::string take() { return std::move(text_); }

  private:
    std::string homeLabel_;
    std::string text_;
};

struct OutcomeName {
    CycleOutcome outcome;
    const char* label;
};
constexpr std::array<OutcomeName, 5> kOutcomes{{{CycleOutcome::NothingToDo, "nothing_to_do"},
                                                {CycleOutcome::Clean, "clean"},
                                                {CycleOutcome::Errors, "errors"},
                                                {CycleOutcome::ConnectFailed, "connect_failed"},
                                                {CycleOutcome::ConfigInvalid, "config_invalid"}}};

struct JobCounter {
    const char* name;
    const char* help;
    std::uint64_t JobTally::*field;
};
constexpr std::array<JobCounter, 5> kJobCounters{{
    {"valtrassosftp_downloaded_files_total", "Files downloaded by the job.",
     &JobTally::filesDownloaded},
    {"valtrassosftp_downloaded_bytes_total", "Bytes downloaded by the job.",
     &JobTally::bytesDownloaded},
    {"valtrassosftp_uploaded_files_total", "Files uploaded by the job.", &JobTally::filesUploaded},
    {"valtrassosftp_uploaded_bytes_total", "Bytes uploaded by the job.", &JobTally::bytesUploaded},
    {"valtrassosftp_errors_total", "Errors the job met (each one is a line in the log).",
     &JobTally::errors},
}};

}  // namespace

fs::path metricsPath(const fs::path& programFolder) {
    if (const char* v = std::getenv("VALTRASSOSFTP_METRICS"); v && *v) return v;
    return programFolder / "valtrassosftp.prom";
}

std::string escapeLabelValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size();) {
        const std::size_t n = utf8Length(value, i);
        if (n == 0) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\\\x%02x", static_cast<unsigned char>(value[i]));
            out += buf;
            ++i;
            continue;
        }
        const char c = value[i];
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out.append(value, i, n);
        i += n;
    }
    return out;
}

std::string renderMetrics(const RunTotals& totals, const CycleReport& last, const std::string& home,
                          TimePoint started, const ProgramInfo& info) {
    Exposition x(home);
    x.family("valtrassosftp_build_info", "gauge", "Always 1; the label version is the program's.");
    x.sample("valtrassosftp_build_info", ",version=\"" + escapeLabelValue(info.version) + "\"",
             "1");
    x.family("valtrassosftp_configured_jobs", "gauge",
             "Jobs of the settings as last loaded that a cycle can run.");
    x.sample("valtrassosftp_configured_jobs", "", std::to_string(info.configuredJobs));
    x.family("valtrassosftp_settings_problems", "gauge",
             "Problems the last load of the settings found (each one is a line in the log).");
    x.sample("valtrassosftp_settings_problems", "", std::to_string(info.settingsProblems));
    x.family("valtrassosftp_start_time_seconds", "gauge",
             "When this run of the program started, in Unix seconds.");
    x.sample("valtrassosftp_start_time_seconds", "", seconds(started));
    x.family("valtrassosftp_cycles_total", "counter", "Transfer cycles run.");
    x.sample("valtrassosftp_cycles_total", "", std::to_string(totals.cycles));
    x.family("valtrassosftp_last_cycle_end_timestamp_seconds", "gauge",
             "When the last cycle ended, in Unix seconds.");
    if (totals.lastCycleEnd)
        x.sample("valtrassosftp_last_cycle_end_timestamp_seconds", "",
                 seconds(*totals.lastCycleEnd));
    x.family("valtrassosftp_last_clean_cycle_timestamp_seconds", "gauge",
             "When the last cycle without errors (clean or nothing to do) ended, in Unix "
             "seconds; absent until there is one.");
    if (totals.lastClean)
        x.sample("valtrassosftp_last_clean_cycle_timestamp_seconds", "",
                 seconds(*totals.lastClean));
    x.family("valtrassosftp_last_cycle_duration_seconds", "gauge", "How long the last cycle took.");
    // A clock set back during the cycle must not give a negative duration.
    const auto took =
        std::max(std::chrono::duration_cast<std::chrono::milliseconds>(last.ended - last.started),
                 std::chrono::milliseconds(0));
    x.sample("valtrassosftp_last_cycle_duration_seconds", "", seconds(took));
    x.family("valtrassosftp_last_cycle_outcome", "gauge",
             "How the last cycle ended: 1 on its outcome (nothing_to_do, clean, errors, "
             "connect_failed or config_invalid), 0 on the others.");
    for (const OutcomeName& o : kOutcomes)
        x.sample("valtrassosftp_last_cycle_outcome", std::string(",outcome=\"") + o.label + "\"",
                 last.outcome == o.outcome ? "1" : "0");
    x.family("valtrassosftp_failing_cycles_in_a_row", "gauge",
             "Cycles in a row that ended with errors, without a connection or without usable "
             "settings; 0 after a clean one.");
    x.sample("valtrassosftp_failing_cycles_in_a_row", "", std::to_string(totals.failingInARow));
    for (const JobCounter& c : kJobCounters) {
        x.family(c.name, "counter", c.help);
        for (const auto& [key, tally] : totals.jobs)
            x.sample(c.name,
                     ",transfer_job=\"" + std::to_string(key.first) + "\",remote_folder=\"" +
                         escapeLabelValue(key.second) + "\"",
                     std::to_string(tally.*c.field));
    }
    return x.take();
}

MetricsWriter::MetricsWriter(fs::path path, std::string home, TimePoint started, ServiceLog log)
    : path_(std::move(path)), home_(std::move(home)), started_(started), log_(std::move(log)) {}

void MetricsWriter::record(const CycleReport& report, const ProgramInfo& info) {
    if (report.outcome == CycleOutcome::NotRun) return;
    totals_.add(report);
    // Readable by the textfile collector, which runs as another user; the temporary name
    // does not end in ".prom", so the collector never reads a half-written file.
    std::string problem;
    try {
        writeWholeFile(path_, renderMetrics(totals_, report, home_, started_, info), 0644);
    } catch (const RuntimeError& e) {
        problem = e.description();
    }
    if (problem == lastProblem_) return;
    if (!problem.empty())
        log_("Metriche non scritte in " + visible(path_.string()) + ": " + problem);
    else
        log_("Metriche di nuovo scritte in " + visible(path_.string()));
    lastProblem_ = problem;
}

}  // namespace vs
