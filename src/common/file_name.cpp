#include "common/file_name.h"

#include <unistd.h>

#include <cstdio>
#include <random>

namespace vs {

namespace {

constexpr std::size_t kMaxNameBytes = 255;  // the longest file name Linux file systems take
constexpr std::string_view kTempPrefix = ".vs-";
constexpr std::string_view kTempSuffix = ".tmp";
constexpr std::size_t kPidDigits = 10;
constexpr std::size_t kRandomDigits = 8;
constexpr std::size_t kTempLength =
    kTempPrefix.size() + kPidDigits + 1 + kRandomDigits + kTempSuffix.size();

bool allOf(std::string_view s, bool (*test)(char)) {
    for (char c : s)
        if (!test(c)) return false;
    return true;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isHex(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f');
}

}  // namespace

bool isUsableFileName(std::string_view name) {
    if (name.empty() || name == "." || name == ".." || name.size() > kMaxNameBytes) return false;
    for (char c : name)
        if (c == '/' || c == '\\' || c == '\0' || c == '\r' || c == '\n') return false;
    return !isTemporaryName(name);
}

std::string temporaryName() {
    static std::mt19937 random{std::random_device{}()};
    char buf[64];
    std::snprintf(buf, sizeof buf, ".vs-%010ld-%08x.tmp",
                  static_cast<long>(::getpid()) % 10000000000L, static_cast<unsigned>(random()));
    return buf;
}

bool isTemporaryName(std::string_view name) {
    if (name.size() != kTempLength || name.substr(0, kTempPrefix.size()) != kTempPrefix ||
        name.substr(kTempLength - kTempSuffix.size()) != kTempSuffix)
        return false;
    const std::string_view pid = name.substr(kTempPrefix.size(), kPidDigits);
    const std::string_view rnd = name.substr(kTempPrefix.size() + kPidDigits + 1, kRandomDigits);
    return name[kTempPrefix.size() + kPidDigits] == '-' && allOf(pid, isDigit) && allOf(rnd, isHex);
}

long temporaryOwner(std::string_view name) {
    if (!isTemporaryName(name)) return 0;
    long pid = 0;
    for (char c : name.substr(kTempPrefix.size(), kPidDigits)) pid = pid * 10 + (c - '0');
    return pid;
}

}  // namespace vs
