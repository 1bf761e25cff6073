#include "remote/ftp/tls_policy.h"

#include <arpa/inet.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstring>

#include "common/text.h"

namespace vs::ftp {

namespace {

bool nameMatches(X509* leaf, std::string host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    unsigned char address[16];
    if (::inet_pton(AF_INET, host.c_str(), address) == 1 ||
        ::inet_pton(AF_INET6, host.c_str(), address) == 1)
        return X509_check_ip_asc(leaf, host.c_str(), 0) == 1;
    return X509_check_host(leaf, host.data(), host.size(), 0, nullptr) == 1;
}

// Takes OpenSSL's place in judging the server's certificate chain, during the handshake.
int verifyPeer(X509_STORE_CTX* store, void* arg) {
    auto* policy = static_cast<TlsPolicy*>(arg);
    X509* leaf = X509_STORE_CTX_get0_cert(store);
    const bool trusted = leaf && X509_verify_cert(store) == 1 && nameMatches(leaf, policy->host());
    std::optional<std::string> pin;
    unsigned char* der = nullptr;
    int length = leaf ? i2d_X509(leaf, &der) : 0;
    if (length > 0) pin = pinOfCertificate(std::string_view(reinterpret_cast<char*>(der), length));
    OPENSSL_free(der);
    if (!policy->acceptsInHandshake(pin, trusted)) {
        if (X509_STORE_CTX_get_error(store) == X509_V_OK)
            X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
        return 0;  // the handshake ends with an alert
    }
    // Accepted by pin: libcurl, which checks the chain's result after the handshake, must
    // not refuse what the rule accepted.
    X509_STORE_CTX_set_error(store, X509_V_OK);
    return 1;
}

CURLcode onSslContext(CURL*, void* sslContext, void* policy) {
    auto* context = static_cast<SSL_CTX*>(sslContext);
    SSL_CTX_set_cert_verify_callback(context, &verifyPeer, policy);
    // A refused chain must end the handshake, whatever libcurl set before us.
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, SSL_CTX_get_verify_callback(context));
    return CURLE_OK;
}

}  // namespace

TlsPolicy::TlsPolicy(std::string host, int port, KnownCerts knownCerts, LogFn log)
    : host_(std::move(host)),
      port_(port),
      knownCerts_(std::move(knownCerts)),
      log_(std::move(log)) {}

void TlsPolicy::apply(CURL* easy) {
    refusal_.reset();
    // The SSL_CTX handed to our callback must be the OpenSSL we link.
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    if (!info->ssl_version || std::strncmp(info->ssl_version, "OpenSSL/", 8) != 0)
        throw RuntimeError(kErrConnection, "FTPS non disponibile: libcurl non usa OpenSSL");
    curl_easy_setopt(easy, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    curl_easy_setopt(easy, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
    // TLS 1.2 and no later. A TLS 1.3 server hands out its session tickets after the
    // handshake, and libcurl closes an upload's data connection without reading the new
    // one: the next data connection offers a ticket the server already took back, and servers
    // that require reuse (vsftpd by default) refuse it with 522 - every transfer after an
    // upload failed so. A retry would fail alike. TLS 1.2 sessions resume any number of times.
    curl_easy_setopt(easy, CURLOPT_SSLVERSION,
                     static_cast<long>(CURL_SSLVERSION_TLSv1_2) | CURL_SSLVERSION_MAX_TLSv1_2);
    // Servers such as vsftpd refuse a data connection that does not resume the control
    // connection's TLS session.
    curl_easy_setopt(easy, CURLOPT_SSL_SESSIONID_CACHE, 1L);
    // libcurl loads the trust store and checks the chain's result; the name is ours to
    // check, since a certificate for another name goes to the pin rule, not to a refusal.
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    if (!caFile_.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, caFile_.c_str());
    // The bundle alone, without Debian's folder of the same certificates: only then does
    // libcurl read the bundle once per session instead of once per data connection, which
    // OpenSSL 3 takes tens of milliseconds of CPU for.
    curl_easy_setopt(easy, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, this);
    if (curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &onSslContext) != CURLE_OK)
        throw RuntimeError(
            kErrConnection,
            "FTPS non disponibile: libcurl non permette di verificare i certificati");
}

bool TlsPolicy::acceptsInHandshake(const std::optional<std::string>& pin, bool trusted) noexcept {
    try {
        refusal_.reset();
        decide(pin, trusted);
        return true;
    } catch (const RuntimeError& e) {
        refusal_ = e;
    } catch (const std::exception& e) {
        refusal_ =
            RuntimeError(kErrConnection, "Certificato di " + visible(knownCertsName(host_, port_)) +
                                             " non verificabile: " + e.what());
    }
    return false;
}

void TlsPolicy::decide(const std::optional<std::string>& presented, bool trusted) {
    const std::string name = visible(knownCertsName(host_, port_));
    const std::string file = knownCerts_.path();
    if (!presented)
        throw RuntimeError(kErrConnection,
                           "Certificato di " + name + " illeggibile: connessione rifiutata");
    const std::string& pin = *presented;
    KnownCerts::Recorded recorded;
    try {
        recorded = knownCerts_.lookup(host_, port_);
    } catch (const RuntimeError& e) {
        throw RuntimeError(kErrConnection, "Certificato di " + name +
                                               " non verificabile, known_certs illeggibile (" +
                                               e.description() + "): connessione rifiutata");
    }
    // Recorded all the same when the trust store vouches for it: a certificate it cannot vouch
    // for, shown later for this server, is then refused instead of passing for a first sight.
    const auto recordVerified = [&](const std::string& certificate) {
        std::string outcome = "registrato";
        try {
            knownCerts_.record(host_, port_, pin, true);
        } catch (const RuntimeError& e) {
            outcome = "non registrato (" + e.description() + ")";
        }
        if (log_)
            log_(certificate + " verificato con i certificati di sistema, " + outcome +
                 " in known_certs: " + pin);
    };
    switch (recorded.of(pin)) {
        case Sighting::Known:
            return;
        case Sighting::Changed: {
            // A server known through the trust store may renew its certificate on a new key;
            // the trust store still vouches for it, and the new pin takes the old one's place.
            if (recorded.verified && trusted) {
                recordVerified(" Certificato rinnovato di " + name + ",");
                return;
            }
            std::string pins;
            for (const std::string& p : recorded.pins)
                pins += (pins.empty() ? "" : ", ") + visible(p);
            throw RuntimeError(
                kErrConnection,
                "Certificato di " + name + " cambiato: " + file + " registra " + pins +
                    ", il server presenta " + pin +
                    (recorded.verified && !trusted
                         ? " e i certificati di sistema non lo riconoscono"
                         : "") +
                    ". Connessione rifiutata: potrebbe essere qualcuno che si spaccia per il "
                    "server; se il certificato è stato cambiato di proposito, togliere la riga "
                    "di " +
                    name + " da " + file);
        }
        case Sighting::FirstSight:
            break;
    }
    if (trusted) {
        recordVerified(" Certificato di " + name);
        return;
    }
    try {
        knownCerts_.record(host_, port_, pin);
    } catch (const RuntimeError& e) {
        throw RuntimeError(
            kErrConnection,
            "Certificato nuovo per " + name + " (" + pin + ") non registrato in " + file + ": " +
                e.description() +
                ". Connessione rifiutata: rendere scrivibile la cartella del programma o "
                "aggiungere a known_certs la riga \"" +
                name + " " + pin + "\"");
    }
    if (log_) log_(" Certificato nuovo per " + name + " registrato in known_certs: " + pin);
}

}  // namespace vs::ftp
