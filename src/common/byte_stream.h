#pragma once

#include <cstddef>
#include <cstdint>

namespace vs {

// Where a download's bytes go, in the order they arrive. Failures throw RuntimeError with the
// local file error numbers.
class ByteSink {
  public:
    virtual ~ByteSink() = default;
    virtual void write(const char* data, std::size_t size) = 0;
};

// Where an upload's bytes come from: any range, in any order (a long path sends a large file in
// segments). Failures throw RuntimeError with the local file error numbers.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // The size to send: what the file held when it was opened.
    virtual std::int64_t size() const = 0;
    // Up to `room` bytes at `offset` (fewer at the end, 0 past it).
    virtual std::size_t readAt(std::int64_t offset, char* into, std::size_t room) = 0;
};

}  // namespace vs
