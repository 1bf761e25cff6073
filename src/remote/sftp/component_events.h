#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "common/clock.h"
#include "remote/remote_listing.h"

// The component's events while they travel from the worker thread to the caller's thread,
// plus the log lines, which must reach the activity log on the caller's thread as well.
namespace vs::sftp {

struct ListItemsEvent {
    RemoteListing part;
};
struct AttributesEvent {
    std::int64_t size = 0;
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    std::uint32_t permissions = 0;
    TimePoint accessTime;
    TimePoint modificationTime;
};
struct ProgressEvent {
    std::int64_t position = 0;
    std::int64_t total = 0;
};
struct LogEvent {
    std::string line;
};

using ComponentEvent = std::variant<ListItemsEvent, AttributesEvent, ProgressEvent, LogEvent>;

// What an operation running on the worker thread may do towards the caller.
class EventPoster {
  public:
    virtual ~EventPoster() = default;
    // Delivered in order, each one.
    virtual void post(ComponentEvent event) = 0;
    // Progress while a transfer runs: only the newest one counts, handed over at most every
    // 250 ms.
    virtual void progress(std::int64_t position, std::int64_t total) = 0;
    // The closing progress of a completed transfer (position == total), always delivered.
    virtual void finished(std::int64_t total) = 0;
    // True once the caller asked to end the running transfer.
    virtual bool abortRequested() const = 0;

    void log(std::string line) { post(LogEvent{std::move(line)}); }
};

}  // namespace vs::sftp
