#include "common/temporary_name.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <numeric>
#include <random>
#include <sstream>
#include <vector>

#include "common/runtime_error.h"
#include "common/whole_file.h"

namespace vs {

namespace {

constexpr std::string_view kPrefix = ".vs-";
constexpr std::string_view kSuffix = ".tmp";
constexpr std::size_t kPidDigits = 10;
constexpr std::size_t kBootDigits = 8;
constexpr std::size_t kStartDigits = 12;
constexpr std::size_t kRandomDigits = 8;
constexpr std::uint64_t kStartMask = 0xffffffffffffULL;  // what kStartDigits hex digits hold

// The fields between prefix and suffix, joined by '-': the process number in
// decimal, then hex fields (random last). Earlier versions wrote the number and the random
// part alone.
constexpr std::size_t kStamped[] = {kPidDigits, kBootDigits, kStartDigits, kRandomDigits};
constexpr std::size_t kEarlier[] = {kPidDigits, kRandomDigits};

// The fields of `name` when it has that shape.
template <std::size_t N>
std::optional<std::vector<std::string_view>> fieldsOf(std::string_view name,
                                                      const std::size_t (&widths)[N]) {
    if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix)) return std::nullopt;
    std::string_view rest =
        name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
    std::vector<std::string_view> fields;
    for (std::size_t width : widths) {
        const std::string_view field = rest.substr(0, rest.find('-'));
        const char* digits = fields.empty() ? "0123456789" : "0123456789abcdef";
        if (field.size() != width || field.find_first_not_of(digits) != std::string_view::npos)
            return std::nullopt;
        fields.push_back(field);
        rest.remove_prefix(std::min(rest.size(), width + 1));
    }
    if (!rest.empty() || name.size() != kPrefix.size() + kSuffix.size() + N - 1 +
                                            std::accumulate(widths, widths + N, std::size_t{0}))
        return std::nullopt;
    return fields;
}

std::uint64_t number(std::string_view text, int base) {
    std::uint64_t n = 0;
    for (char c : text) n = n * base + static_cast<unsigned>(c <= '9' ? c - '0' : c - 'a' + 10);
    return n;
}

// The text of a /proc file; nothing when it cannot be had (a process gone meanwhile).
std::optional<std::string> procFile(const std::string& path) {
    try {
        return readWholeFile(path);
    } catch (const RuntimeError&) {
        return std::nullopt;
    }
}

// The first 32 bits of the kernel's random id of this boot.
std::uint32_t bootTag() {
    const std::string id = procFile("/proc/sys/kernel/random/boot_id").value_or("");
    if (id.size() < 8) return 0;
    return static_cast<std::uint32_t>(number(id.substr(0, 8), 16));
}

// Field 22 of /proc/<pid>/stat, after the command name (which may hold blanks and brackets).
std::optional<std::uint64_t> startTicks(const std::string& statPath) {
    const std::string text = procFile(statPath).value_or("");
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    for (int n = 3; n <= 22; ++n)
        if (!(fields >> field)) return std::nullopt;
    if (field.empty() || field.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return number(field, 10) & kStartMask;
}

}  // namespace

const ProcessStamp& ownStamp() {
    static const ProcessStamp stamp{static_cast<long>(::getpid()), bootTag(),
                                    startTicks("/proc/self/stat").value_or(0)};
    return stamp;
}

std::optional<ProcessStamp> runningStamp(long pid) {
    const auto started = startTicks("/proc/" + std::to_string(pid) + "/stat");
    if (!started) return std::nullopt;
    return ProcessStamp{pid, ownStamp().boot, *started};
}

std::string temporaryName(const ProcessStamp& s) {
    static std::mt19937 random{std::random_device{}()};
    char buf[64];
    std::snprintf(buf, sizeof buf, ".vs-%010ld-%08x-%012llx-%08x.tmp", s.pid % 10000000000L,
                  static_cast<unsigned>(s.boot),
                  static_cast<unsigned long long>(s.started & kStartMask),
                  static_cast<unsigned>(random()));
    return buf;
}

bool isTemporaryName(std::string_view name) {
    return fieldsOf(name, kStamped) || fieldsOf(name, kEarlier);
}

bool isStaleTemporary(std::string_view name) {
    std::optional<ProcessStamp> stamp;
    long pid = 0;
    if (const auto f = fieldsOf(name, kStamped)) {
        pid = static_cast<long>(number((*f)[0], 10));
        stamp =
            ProcessStamp{pid, static_cast<std::uint32_t>(number((*f)[1], 16)), number((*f)[2], 16)};
    } else if (const auto e = fieldsOf(name, kEarlier)) {
        pid = static_cast<long>(number((*e)[0], 10));
    } else {
        return false;  // not ours
    }
    const ProcessStamp& own = ownStamp();
    if (stamp && *stamp == own) return false;
    // Our own number on a name we did not make: an earlier life of this number.
    if (pid == own.pid) return true;
    if (stamp && stamp->boot != own.boot) return true;
    if (pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)) return true;
    // That number runs. An earlier-style name may be an older version's at work; a stamped one
    // is stale only when the running process is certainly another.
    if (!stamp) return false;
    const auto running = runningStamp(pid);
    return running && running->started != stamp->started;
}

}  // namespace vs
