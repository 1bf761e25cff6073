#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "common/byte_stream.h"
#include "common/clock.h"

namespace vs {

// A file the program creates: made exclusively under a temporary name of its own in the
// folder it belongs to (never through an existing name or a link someone planted there),
// written, flushed to the disk and only then renamed to its final name, replacing an older
// file of that name. Whatever happens before commit(), the temporary file goes away, so a
// half-written file never stands under a real name. Failures throw RuntimeError with the
// local file error numbers.
class NewFile final : public ByteSink {
  public:
    explicit NewFile(std::filesystem::path folder);
    ~NewFile() override;
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    int fd() const { return fd_; }
    const std::filesystem::path& path() const { return path_; }
    std::int64_t size() const;  // what the file holds now

    void write(const char* data, std::size_t size) override;
    // Flushes, closes and renames to folder/finalName. Throws on any failure (a full disk may
    // only show in the flush), leaving nothing behind.
    void commit(const std::string& finalName);

  private:
    std::filesystem::path folder_;
    std::filesystem::path path_;
    int fd_ = -1;
    bool committed_ = false;
};

// Copies the whole of the open file `from` (read from its start, whatever its offset) into
// folder/name through a NewFile; returns the bytes copied. `expected`, when not negative, is the
// size the copy must have, or it is refused. `modified`: the copy's modification time, set
// before it takes its name.
std::int64_t copyIntoPlace(int from, const std::filesystem::path& folder, const std::string& name,
                           std::int64_t expected = -1,
                           std::optional<TimePoint> modified = std::nullopt);

// Removes temporary files of ours that a process which is gone left in `folder` (a crash, a
// kill), and returns how many; files of a process still running are left alone (see
// isStaleTemporary).
// `everything`: the folder is our staging folder, where any other file is a leftover too.
int removeStaleTemporaries(const std::filesystem::path& folder, bool everything = false);

}  // namespace vs
