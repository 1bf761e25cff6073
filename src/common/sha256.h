#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "common/byte_stream.h"

namespace vs {

// SHA-256 over bytes fed in order (OpenSSL's EVP); digest() gives the 32 bytes of the digest
// of what was fed so far, hex() the same in lower-case hex, and the hash can go on after them.
class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const char* data, std::size_t size);
    std::string digest() const;
    std::string hex() const;

  private:
    struct Context;
    std::unique_ptr<Context> context_;
};

// The 32-byte digest of `bytes`, for fingerprints and certificate pins.
std::string sha256(std::string_view bytes);

// A download's bytes hashed on their way into the staged file.
class HashingSink final : public ByteSink {
  public:
    explicit HashingSink(ByteSink& to) : to_(to) {}
    void write(const char* data, std::size_t size) override {
        to_.write(data, size);
        hash_.update(data, size);
    }
    Sha256& hash() { return hash_; }

  private:
    ByteSink& to_;
    Sha256 hash_;
};

// An upload's bytes hashed as they are read for sending. Reads in order are hashed as they
// pass; a range read out of order (the second segment of a long-path upload) is hashed by
// hex(), which reads once more only what was not hashed on the way.
class HashingSource final : public ByteSource {
  public:
    explicit HashingSource(ByteSource& from) : from_(from) {}
    std::int64_t size() const override { return from_.size(); }
    std::size_t readAt(std::int64_t offset, char* into, std::size_t room) override;
    // Hashes the first `bytes` of the file now: the part already on the server when an upload
    // resumes.
    void hashPrefix(std::int64_t bytes);
    // The digest of the whole file.
    std::string hex();

  private:
    ByteSource& from_;
    Sha256 hash_;
    std::int64_t hashed_ = 0;  // bytes [0, hashed_) went into the hash
};

// The hash of the first `bytes` of an open file, read once (a staged part a download resumes).
void hashFilePrefix(int fd, std::int64_t bytes, Sha256& into);

}  // namespace vs
