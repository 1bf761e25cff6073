#include "common/sha256_digest.h"

#include <openssl/evp.h>

#include <new>

namespace vs {

std::string sha256(std::string_view bytes) {
    std::string digest(EVP_MAX_MD_SIZE, '\0');
    unsigned int length = 0;
    // Fails only when OpenSSL cannot allocate its context.
    if (EVP_Digest(bytes.data(), bytes.size(), reinterpret_cast<unsigned char*>(digest.data()),
                   &length, EVP_sha256(), nullptr) != 1)
        throw std::bad_alloc();
    digest.resize(length);
    return digest;
}

}  // namespace vs
