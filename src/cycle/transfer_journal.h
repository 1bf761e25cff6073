#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/clock.h"

namespace vs {

// The record of the files the cycle moved, as the cycle sees it: one entry per file transfer
// that ended, what it knows of a file version delivered before, and the transfers cut off that
// a later cycle may go on with. Every call is one transaction of its own; failures throw
// RuntimeError.
enum class Direction { Download, Upload };
enum class TransferOutcome { Delivered, Failed, Unchanged };

struct TransferEntry {
    int job = 0;
    Direction direction = Direction::Download;
    std::string remotePath;
    std::string localPath;
    std::int64_t size = 0;
    std::optional<TimePoint> modified;  // of the source
    std::string sha256;                 // of the bytes delivered; empty when none were
    std::int64_t resumedFrom = 0;       // 0: the transfer started at zero
    TransferOutcome outcome = TransferOutcome::Delivered;
    std::string detail;  // the error text of a failure
};

// The entry of one version of a file, before its transfer's outcome is known.
inline TransferEntry fileVersion(int job, Direction direction, std::string remotePath,
                                 std::string localPath, std::int64_t size,
                                 std::optional<TimePoint> modified) {
    TransferEntry entry;
    entry.job = job;
    entry.direction = direction;
    entry.remotePath = std::move(remotePath);
    entry.localPath = std::move(localPath);
    entry.size = size;
    entry.modified = modified;
    return entry;
}

// A transfer cut off, kept for a later cycle: where its bytes are so far (the staged part of a
// download, the hidden remote temporary of an upload) and the source's version when it began.
struct PartialTransfer {
    int job = 0;
    Direction direction = Direction::Download;
    std::string remotePath;
    std::string localPath;
    std::string partPath;
    std::int64_t size = 0;
    TimePoint modified;
    // The local file that tells the part (a download's staged file) or the source (an upload's
    // local file) apart from any other at that path.
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

class TransferJournal {
  public:
    virtual ~TransferJournal() = default;

    // Whether this version of a file (path: the remote one of a download, the local one of an
    // upload) was delivered before by the job, and if so whether a cycle since left it alone.
    enum class Known { New, Delivered, LeftUnchanged };
    virtual Known known(int job, Direction direction, const std::string& path, std::int64_t size,
                        TimePoint modified) = 0;

    // Records a transfer that ended; `finishedPart`: a partial transfer it ends, forgotten in the
    // same transaction.
    virtual void record(const TransferEntry& entry, const std::string& finishedPart = "") = 0;

    // A transfer that may be cut off: recorded before its first byte moves.
    virtual void notePartial(const PartialTransfer& part) = 0;
    // The partial transfer of this file that this process may go on with (its own, or one left
    // by a process that is gone), taken over by this process; none when there is none.
    virtual std::optional<PartialTransfer> claimPartial(int job, Direction direction,
                                                        const std::string& remotePath,
                                                        const std::string& localPath) = 0;
    virtual void forgetPartial(const std::string& partPath) = 0;
    // The job's partial transfers this process may take over (see claimPartial).
    virtual std::vector<PartialTransfer> partials(int job, Direction direction) = 0;
    // Where every partial transfer the journal knows keeps its bytes, whoever owns it: the
    // staged parts of downloads, the remote temporaries of uploads.
    virtual std::vector<std::string> partPaths(Direction direction) = 0;
};

}  // namespace vs
