#include "journal/iso_time.h"

#include <cstdio>
#include <ctime>

namespace vs {

std::string isoUtc(TimePoint t, bool millis) {
    using namespace std::chrono;
    const auto since = t.time_since_epoch();
    auto seconds = duration_cast<std::chrono::seconds>(since);
    auto nanos = duration_cast<nanoseconds>(since - seconds).count();
    if (nanos < 0) {
        seconds -= std::chrono::seconds(1);
        nanos += 1000000000;
    }
    const std::time_t whole = static_cast<std::time_t>(seconds.count());
    std::tm utc{};
    ::gmtime_r(&whole, &utc);
    char text[64];
    std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    if (millis) {
        n += static_cast<std::size_t>(std::snprintf(text + n, sizeof text - n, ".%03lld",
                                                    static_cast<long long>(nanos / 1000000)));
    } else if (nanos != 0) {
        n += static_cast<std::size_t>(
            std::snprintf(text + n, sizeof text - n, ".%09lld", static_cast<long long>(nanos)));
    }
    return std::string(text, n) + "Z";
}

std::optional<TimePoint> parseIsoUtc(const std::string& text) {
    std::tm utc{};
    int used = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &utc.tm_year, &utc.tm_mon,
                    &utc.tm_mday, &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &used) != 6)
        return std::nullopt;
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    long long nanos = 0;
    std::size_t at = static_cast<std::size_t>(used);
    if (at < text.size() && text[at] == '.') {
        long long scale = 100000000;
        for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, scale /= 10)
            nanos += (text[at] - '0') * scale;
    }
    if (at + 1 != text.size() || text[at] != 'Z') return std::nullopt;
    return std::chrono::system_clock::from_time_t(::timegm(&utc)) +
           std::chrono::duration_cast<std::chrono::system_clock::duration>(
               std::chrono::nanoseconds(nanos));
}

}  // namespace vs
