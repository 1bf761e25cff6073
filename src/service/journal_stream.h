#pragma once

#include <string>
#include <string_view>

namespace vs {

// Under systemd, standard output and error are often the journal itself; JOURNAL_STREAM then
// names that stream ("device:inode"). Lines written there may start with a priority in the
// form of sd-daemon, "<3>" error, "<4>" warning, "<6>" information, which
// `journalctl -p err` filters on.
bool isJournalStream(int fd, const char* journalStreamVariable);

// The priority of a log line: err for a line that reports a failure, warning for one that
// reports something the operator should look at, info for the rest. Told by the program's
// own texts (the lines are composed all over the program; the texts are fixed).
int linePriority(std::string_view line);

// "<N>" for the line, or nothing when the stream is not the journal.
std::string journalPrefix(std::string_view line, bool journal);

}  // namespace vs
