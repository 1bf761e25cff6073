#include "common/sha256.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <vector>

#include "common/runtime_error.h"

namespace vs {

struct Sha256::Context {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(md); }
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
    if (!context_->md || EVP_DigestInit_ex(context_->md, EVP_sha256(), nullptr) != 1)
        throw RuntimeError(kErrGeneric, "SHA-256 non disponibile (OpenSSL)");
}

Sha256::~Sha256() = default;

void Sha256::update(const char* data, std::size_t size) {
    if (size > 0) EVP_DigestUpdate(context_->md, data, size);
}

std::string Sha256::digest() const {
    // A copy of the state, so that the hash can go on after.
    EVP_MD_CTX* copy = EVP_MD_CTX_new();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const bool ok = copy && EVP_MD_CTX_copy_ex(copy, context_->md) == 1 &&
                    EVP_DigestFinal_ex(copy, digest, &length) == 1;
    EVP_MD_CTX_free(copy);
    if (!ok) throw RuntimeError(kErrGeneric, "SHA-256 non calcolabile (OpenSSL)");
    return std::string(reinterpret_cast<const char*>(digest), length);
}

std::string Sha256::hex() const {
    static const char* const digits = "0123456789abcdef";
    std::string text;
    for (const unsigned char c : digest()) {
        text += digits[c >> 4];
        text += digits[c & 15];
    }
    return text;
}

std::string sha256(std::string_view bytes) {
    Sha256 hash;
    hash.update(bytes.data(), bytes.size());
    return hash.digest();
}

std::size_t HashingSource::readAt(std::int64_t offset, char* into, std::size_t room) {
    const std::size_t n = from_.readAt(offset, into, room);
    if (offset == hashed_) {
        hash_.update(into, n);
        hashed_ += static_cast<std::int64_t>(n);
    }
    return n;
}

void HashingSource::hashPrefix(std::int64_t bytes) {
    std::vector<char> buffer(256 * 1024);
    while (hashed_ < bytes) {
        const std::size_t room =
            static_cast<std::size_t>(std::min<std::int64_t>(buffer.size(), bytes - hashed_));
        if (readAt(hashed_, buffer.data(), room) == 0) break;
    }
}

std::string HashingSource::hex() {
    hashPrefix(from_.size());
    return hash_.hex();
}

void hashFilePrefix(int fd, std::int64_t bytes, Sha256& into) {
    std::vector<char> buffer(256 * 1024);
    std::int64_t done = 0;
    while (done < bytes) {
        const std::size_t room =
            static_cast<std::size_t>(std::min<std::int64_t>(buffer.size(), bytes - done));
        const ssize_t n = ::pread(fd, buffer.data(), room, done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw localFileError(errno, "Lettura della parte già scaricata");
        if (n == 0) throw RuntimeError(kErrGeneric, "Parte già scaricata più corta del previsto");
        into.update(buffer.data(), static_cast<std::size_t>(n));
        done += n;
    }
}

}  // namespace vs
