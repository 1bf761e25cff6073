#include "remote/ftp/cert_pins.h"

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>

#include "common/text.h"
#include "common/whole_file.h"

namespace vs::ftp {

std::string pinOfCertificate(std::string_view der) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    std::unique_ptr<X509, decltype(&X509_free)> cert(
        d2i_X509(nullptr, &p, static_cast<long>(der.size())), &X509_free);
    if (!cert) return {};
    unsigned char* spki = nullptr;
    int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert.get()), &spki);
    if (length <= 0) return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    bool hashed = EVP_Digest(spki, static_cast<std::size_t>(length), digest, &digestLength,
                             EVP_sha256(), nullptr) == 1;
    OPENSSL_free(spki);
    if (!hashed) return {};
    unsigned char text[4 * ((EVP_MAX_MD_SIZE + 2) / 3) + 1];
    int textLength = EVP_EncodeBlock(text, digest, static_cast<int>(digestLength));
    return "sha256//" + std::string(reinterpret_cast<char*>(text), textLength);
}

std::string knownCertsName(const std::string& host, int port) {
    std::string name = toLower(host);
    if (name.find(':') != std::string::npos && name.front() != '[') name = "[" + name + "]";
    return name + ":" + std::to_string(port);
}

namespace {

// One line of known_certs: the server's name, its pin, and whether it carries the mark.
struct Line {
    std::string name, pin;
    bool marked = false;
};

Line parseLine(std::string_view piece) {
    std::string line(piece);
    for (char& c : line)
        if (c == '\t' || c == '\r') c = ' ';
    Line parsed;
    if (const std::size_t hash = line.find('#'); hash != std::string::npos) {
        parsed.marked = equalsIgnoreCase(trimBlanks(line.substr(hash + 1)), kTrustStoreMark);
        line.resize(hash);
    }
    line = trimBlanks(line);
    const std::size_t blank = line.find(' ');
    if (blank == std::string::npos) return {};
    parsed.name = line.substr(0, blank);
    parsed.pin = trimBlanks(line.substr(blank));
    return parsed;
}

}  // namespace

KnownCerts::Recorded KnownCerts::lookup(const std::string& host, int port) const {
    Recorded recorded;
    std::error_code error;
    const std::optional<std::string> content = readWholeFile(path_, error);
    if (!content) {
        if (error && error.value() != ENOTDIR) recorded.error = path_ + ": " + error.message();
        return recorded;
    }
    const std::string name = knownCertsName(host, port);
    for (std::string_view piece : splitLines(*content)) {
        const Line line = parseLine(piece);
        if (line.name.empty() || !equalsIgnoreCase(line.name, name)) continue;
        recorded.pins.push_back(line.pin);
        recorded.verified = recorded.verified || line.marked;
    }
    return recorded;
}

std::string KnownCerts::record(const std::string& host, int port, const std::string& pin,
                               bool verified) const {
    std::error_code error;
    const std::string before = readWholeFile(path_, error).value_or(std::string());
    if (error) return error.message();
    const std::string name = knownCertsName(host, port);
    std::string content;
    for (std::string_view piece : splitLines(before)) {
        const Line line = parseLine(piece);
        if (verified && line.marked && equalsIgnoreCase(line.name, name)) continue;
        content.append(piece);
        content += '\n';
    }
    content += name + " " + pin + (verified ? std::string(" # ") + kTrustStoreMark : "") + "\n";

    // A file of our own making is private; one the operator made keeps the mode it has.
    struct stat st {};
    const unsigned mode = ::stat(path_.c_str(), &st) == 0 ? st.st_mode & 07777 : 0600;
    error = writeWholeFile(path_, content, mode);
    return error ? error.message() : std::string();
}

}  // namespace vs::ftp
