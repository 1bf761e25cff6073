#include "remote/ftp/cert_pins.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "common/text.h"
#include "common/whole_file.h"

namespace vs::ftp {

namespace {

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

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
        std::string line(piece);
        line = line.substr(0, line.find('#'));
        for (char& c : line)
            if (c == '\t' || c == '\r') c = ' ';
        line = trimBlanks(line);
        std::size_t blank = line.find(' ');
        if (blank == std::string::npos || !equalsIgnoreCase(line.substr(0, blank), name)) continue;
        recorded.pins.push_back(trimBlanks(line.substr(blank)));
    }
    return recorded;
}

std::string KnownCerts::record(const std::string& host, int port, const std::string& pin) const {
    std::error_code error;
    std::string content = readWholeFile(path_, error).value_or(std::string());
    if (error) return error.message();
    if (!content.empty() && content.back() != '\n') content += '\n';
    content += knownCertsName(host, port) + " " + pin + "\n";

    // A copy of our own beside the file (mkstemp: created exclusively, mode 0600), renamed
    // over it once complete: readers see the old file or the new one, never half of it.
    const std::size_t slash = path_.rfind('/');
    std::string temp = (slash == std::string::npos ? std::string() : path_.substr(0, slash + 1)) +
                       ".known_certs.XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return std::strerror(errno);
    struct stat st {};
    bool ok = (::stat(path_.c_str(), &st) != 0 || ::fchmod(fd, st.st_mode & 07777) == 0) &&
              writeAll(fd, content) && ::fsync(fd) == 0;
    int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(temp.c_str(), path_.c_str()) == 0) return {};
    if (ok) err = errno;
    ::unlink(temp.c_str());
    return std::strerror(err);
}

}  // namespace vs::ftp
