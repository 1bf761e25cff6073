#include "remote/ftp/cert_pins.h"

#include <openssl/crypto.h>
#include <openssl/x509.h>

#include <memory>

#include "common/base64.h"
#include "common/runtime_error.h"
#include "common/sha256.h"
#include "common/text.h"

namespace vs::ftp {

std::optional<std::string> pinOfCertificate(std::string_view der) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    std::unique_ptr<X509, decltype(&X509_free)> cert(
        d2i_X509(nullptr, &p, static_cast<long>(der.size())), &X509_free);
    if (!cert) return std::nullopt;
    unsigned char* spki = nullptr;
    int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert.get()), &spki);
    if (length <= 0) return std::nullopt;
    const std::string key(reinterpret_cast<const char*>(spki), static_cast<std::size_t>(length));
    OPENSSL_free(spki);
    return "sha256//" + base64Encode(sha256(key));
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

Sighting KnownCerts::Recorded::of(const std::string& pin) const {
    if (pins.empty()) return Sighting::FirstSight;
    for (const std::string& p : pins)
        if (p == pin) return Sighting::Known;
    return Sighting::Changed;
}

KnownCerts::Recorded KnownCerts::lookup(const std::string& host, int port) const {
    Recorded recorded;
    std::vector<std::string> lines;
    try {
        lines = store_.lines();
    } catch (const RuntimeError& e) {
        // A path through something that is not a folder holds no file to trust.
        if (e.number() != kErrPathNotFound) throw;
    }
    const std::string name = knownCertsName(host, port);
    for (const std::string& text : lines) {
        const Line line = parseLine(text);
        if (line.name.empty() || !equalsIgnoreCase(line.name, name)) continue;
        recorded.pins.push_back(line.pin);
        recorded.verified = recorded.verified || line.marked;
    }
    return recorded;
}

void KnownCerts::record(const std::string& host, int port, const std::string& pin,
                        bool verified) const {
    const std::string name = knownCertsName(host, port);
    store_.record(name + " " + pin + (verified ? std::string(" # ") + kTrustStoreMark : ""),
                  [&](std::string_view text) {
                      const Line line = parseLine(text);
                      return verified && line.marked && equalsIgnoreCase(line.name, name);
                  });
}

}  // namespace vs::ftp
