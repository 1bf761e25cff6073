#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vs {

// Who made a temporary file: the process number, the machine's boot it ran in and the moment
// it started within that boot (clock ticks since boot). A process number alone comes back (a
// restarted container, a long uptime); the three together name one process only.
struct ProcessStamp {
    long pid = 0;
    std::uint32_t boot = 0;
    std::uint64_t started = 0;
    bool operator==(const ProcessStamp&) const = default;
};

// This process's stamp, read once.
const ProcessStamp& ownStamp();
// The stamp of the process of that number running on this machine now; empty when there is
// none or it cannot be read.
std::optional<ProcessStamp> runningStamp(long pid);

// Temporary files of ours, locally and on a server: hidden, of one fixed length whatever the
// final name, and carrying the stamp of the process that made them:
//   .vs-0000012345-5f3c2a1b-0000004d2e8a-1a2b3c4d.tmp
// Earlier versions wrote the process number alone (.vs-0000012345-1a2b3c4d.tmp); such names
// are still recognised as ours.
std::string temporaryName(const ProcessStamp& by = ownStamp());
bool isTemporaryName(std::string_view name);

// Whether a temporary name of ours is certainly a leftover: no process running on this
// machine now is the one that made it (another boot's, a process number that is free or taken
// by a process started at another moment, an earlier-style name carrying our own number). A
// file of a process still at work, or of one whose start cannot be read, is not stale.
bool isStaleTemporary(std::string_view name);

}  // namespace vs
