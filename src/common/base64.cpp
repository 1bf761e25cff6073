#include "common/base64.h"

#include <openssl/evp.h>

namespace vs {

namespace {

bool isBase64Char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

}  // namespace

std::string base64Encode(std::string_view bytes, bool pad) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                       reinterpret_cast<const unsigned char*>(bytes.data()),
                                       static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(length));
    if (!pad)
        while (!text.empty() && text.back() == '=') text.pop_back();
    return text;
}

std::optional<std::string> base64Decode(std::string_view text) {
    while (!text.empty() && text.back() == '=') text.remove_suffix(1);
    // OpenSSL would pass over blanks at either end; they are not base64 here.
    for (char c : text)
        if (!isBase64Char(c)) return std::nullopt;
    if (text.size() % 4 == 1) return std::nullopt;
    const std::size_t missing = (4 - text.size() % 4) % 4;
    std::string padded(text);
    padded.append(missing, '=');
    std::string bytes(padded.size() / 4 * 3, '\0');
    const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                       reinterpret_cast<const unsigned char*>(padded.data()),
                                       static_cast<int>(padded.size()));
    if (length < 0) return std::nullopt;
    // OpenSSL counts the bytes the padding stands for as zeros.
    bytes.resize(static_cast<std::size_t>(length) - missing);
    return bytes;
}

}  // namespace vs
