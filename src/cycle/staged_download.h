#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/byte_stream.h"
#include "common/clock.h"
#include "common/new_file.h"
#include "common/sha256.h"
#include "cycle/transfer_journal.h"

namespace vs {

// Where a download is staged, its bytes hashed as they arrive. A file too small to be worth
// resuming, or one the journal cannot vouch for, goes into a private temporary file of the
// staging folder that goes away whatever happens. A larger one goes into a part file of the
// staging folder's subfolder parziali/, recorded in the journal before its first byte: cut off
// after kResumeFloor bytes, it stays for a later cycle, which goes on from it when the remote
// file's size and modification time are still those it began with.
class StagedDownload {
  public:
    static constexpr std::int64_t kResumeFloor = 1024 * 1024;

    struct Source {
        int job = 0;
        std::string remotePath;
        std::string localPath;  // where the copy lands (the journal's local_path)
        std::optional<std::int64_t> size;
        std::optional<TimePoint> modified;
    };
    // Opens the staging (throws RuntimeError); `journal` may be null.
    StagedDownload(const std::filesystem::path& stagingFolder, const Source& source,
                   TransferJournal* journal);
    // A part file stays when it holds enough to go on from; otherwise it goes, and with it
    // its journal entry.
    ~StagedDownload();
    StagedDownload(const StagedDownload&) = delete;
    StagedDownload& operator=(const StagedDownload&) = delete;

    // Where the fetch writes, from resumedFrom() on.
    ByteSink& sink() { return sink_; }
    std::int64_t resumedFrom() const { return resumedFrom_; }
    int fd() const;
    // The digest of the whole file (the part staged before a resume included).
    std::string sha256() const { return hash_.hex(); }
    // The journal's name for this staging when it is a part file ("" otherwise): a delivery
    // ends it in the same transaction.
    const std::string& partPath() const { return partPath_; }
    // The staged bytes are of no further use (delivered, or of a version that changed): the
    // part file goes now, without a journal entry of its own (the caller's record ends it).
    void finished();

    static std::filesystem::path partsFolder(const std::filesystem::path& stagingFolder) {
        return stagingFolder / "parziali";
    }
    // Deletes a part file the journal names, when it lies where ours do.
    static void removePart(const std::filesystem::path& stagingFolder, const std::string& path);

  private:
    // Takes over the part a transfer cut off earlier left, when it is sound; false otherwise.
    bool resume(const PartialTransfer& part);
    void createPart();
    void drop(const std::string& path);

    class FdSink final : public ByteSink {
      public:
        void write(const char* data, std::size_t size) override;
        int fd = -1;
    };
    class Sink final : public ByteSink {
      public:
        explicit Sink(StagedDownload& staged) : staged_(staged) {}
        void write(const char* data, std::size_t size) override;

      private:
        StagedDownload& staged_;
    };

    std::filesystem::path partsFolder_;
    Source source_;
    TransferJournal* journal_;
    std::optional<NewFile> temporary_;
    FdSink part_;
    std::string partPath_;
    std::int64_t resumedFrom_ = 0;
    Sha256 hash_;
    Sink sink_{*this};
};

// Removes the part files of the staging folder that no partial transfer in the journal names
// and whose process is gone (see isStaleTemporary: a kill between a part's creation and its
// entry, or after its delivery was recorded); returns how many.
int removeOrphanParts(const std::filesystem::path& stagingFolder,
                      const std::vector<std::string>& journalParts);

}  // namespace vs
