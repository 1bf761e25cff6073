#include "remote/sftp/host_key_check.h"

#include <optional>
#include <string_view>
#include <vector>

#include "common/base64.h"
#include "common/runtime_error.h"
#include "common/trust_store.h"
#include "remote/sftp/fingerprint.h"

namespace vs::sftp {

namespace {

struct KeyKind {
    int knownHostType;        // LIBSSH2_KNOWNHOST_KEY_*
    const char* methodNames;  // the host-key algorithms that present such a key
};

// In the order offered to a host seen for the first time, OpenSSH's: ed25519, ECDSA, then RSA
// with SHA-2 signatures before RSA with SHA-1 (for servers older than 2016). No certificates
// (the known_hosts check would see the certificate, not the key) and no DSA (OpenSSH's own
// client refuses it too).
constexpr KeyKind kKeyKinds[] = {
    {LIBSSH2_KNOWNHOST_KEY_ED25519, "ssh-ed25519"},
    {LIBSSH2_KNOWNHOST_KEY_ECDSA_256, "ecdsa-sha2-nistp256"},
    {LIBSSH2_KNOWNHOST_KEY_ECDSA_384, "ecdsa-sha2-nistp384"},
    {LIBSSH2_KNOWNHOST_KEY_ECDSA_521, "ecdsa-sha2-nistp521"},
    {LIBSSH2_KNOWNHOST_KEY_SSHRSA, "rsa-sha2-512,rsa-sha2-256,ssh-rsa"},
};

// The known_hosts entries of one file, loaded line by line: libssh2's own file reader stops at
// the first line it does not understand (certificate authorities, key types it lacks), which
// would silently hide every host recorded after it.
class KnownHosts {
  public:
    explicit KnownHosts(LIBSSH2_SESSION* session) : hosts_(libssh2_knownhost_init(session)) {}
    ~KnownHosts() {
        if (hosts_) libssh2_knownhost_free(hosts_);
    }
    KnownHosts(const KnownHosts&) = delete;
    KnownHosts& operator=(const KnownHosts&) = delete;

    LIBSSH2_KNOWNHOSTS* get() const { return hosts_; }

    // A missing file is an empty one; throws RuntimeError, the reason for the operator, when
    // the entries cannot be had.
    void load(const TrustStore& store) {
        if (!hosts_)
            throw RuntimeError(kErrConnection,
                               "la libreria SSH non ha potuto preparare l'elenco degli host");
        std::vector<std::string> lines;
        try {
            lines = store.lines();
        } catch (const RuntimeError& e) {
            throw RuntimeError(e.number(), "il file degli host conosciuti non è leggibile (" +
                                               e.description() + ")");
        }
        for (std::string& line : lines) {
            while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
            if (line.empty() || line[0] == '#' || line[0] == '@') continue;
            libssh2_knownhost_readline(hosts_, line.data(), line.size(),
                                       LIBSSH2_KNOWNHOST_FILE_OPENSSH);
        }
    }

  private:
    LIBSSH2_KNOWNHOSTS* hosts_;
};

std::string describeRecorded(const libssh2_knownhost* entry) {
    if (!entry || !entry->key) return "una chiave illeggibile";
    std::string_view text(entry->key);
    // Some entries carry "type base64"; the fingerprint is over the decoded blob only.
    if (auto blank = text.rfind(' '); blank != std::string_view::npos)
        text.remove_prefix(blank + 1);
    std::optional<std::string> blob = base64Decode(text);
    if (!blob) return "una chiave illeggibile";
    return keyTypeOfBlob(*blob).value_or("chiave") + " " + fingerprintOfKey(*blob);
}

}  // namespace

std::string knownHostsName(const std::string& host, int port) {
    if (port == 22) return host;
    return "[" + host + "]:" + std::to_string(port);
}

std::string hostKeyMethods(LIBSSH2_SESSION* session, const std::string& knownHostsPath,
                           const std::string& host, int port) {
    std::string known, others;
    KnownHosts hosts(session);
    bool loaded = !knownHostsPath.empty();
    try {
        if (loaded) hosts.load(TrustStore(knownHostsPath));
    } catch (const RuntimeError&) {
        loaded = false;  // the check after the handshake says why
    }
    const std::string name = knownHostsName(host, port);
    for (const KeyKind& kind : kKeyKinds) {
        // A key that cannot be on file: "mismatch" then means an entry of this type exists.
        const char probe[] = "x";
        const bool recorded = loaded && libssh2_knownhost_checkp(
                                            hosts.get(), name.c_str(), -1, probe, 1,
                                            LIBSSH2_KNOWNHOST_TYPE_PLAIN |
                                                LIBSSH2_KNOWNHOST_KEYENC_RAW | kind.knownHostType,
                                            nullptr) == LIBSSH2_KNOWNHOST_CHECK_MISMATCH;
        std::string& into = recorded ? known : others;
        into += (into.empty() ? "" : ",") + std::string(kind.methodNames);
    }
    // The others still follow, so that the handshake succeeds and the check then reports the
    // changed key when the server dropped the recorded type.
    return known.empty() ? others : others.empty() ? known : known + "," + others;
}

void verifyHostKey(LIBSSH2_SESSION* session, const std::string& knownHostsPath,
                   const std::string& host, int port, const LogFn& log) {
    const std::string name = knownHostsName(host, port);
    const auto refuse = [](const std::string& why) { return RuntimeError(kErrConnection, why); };
    std::size_t keyLength = 0;
    int keyType = 0;
    const char* key = libssh2_session_hostkey(session, &keyLength, &keyType);
    if (!key || keyLength == 0)
        throw refuse("Il server " + name + " non ha presentato una chiave host utilizzabile");
    const std::string blob(key, keyLength);
    // Printable by construction: keyTypeOfBlob takes nothing but visible ASCII.
    const std::string presentedType = keyTypeOfBlob(blob).value_or("chiave");
    std::string fingerprint;
    if (const char* digest = libssh2_hostkey_hash(session, LIBSSH2_HOSTKEY_HASH_SHA256))
        fingerprint = fingerprintOfDigest(std::string_view(digest, 32));
    else
        fingerprint = fingerprintOfKey(blob);
    const std::string presented = presentedType + " " + fingerprint;

    if (knownHostsPath.empty()) {
        log(" Chiave host di " + name +
            " non verificata (nessun file degli host conosciuti): " + presented);
        return;
    }
    const TrustStore store(knownHostsPath);
    KnownHosts hosts(session);
    try {
        hosts.load(store);
    } catch (const RuntimeError& e) {
        throw refuse("Chiave host di " + name +
                     " non verificabile, connessione rifiutata: " + e.description());
    }

    // Key type 0 matches entries of every type: a host is known as soon as any key of it is.
    libssh2_knownhost* entry = nullptr;
    const int result = libssh2_knownhost_checkp(
        hosts.get(), name.c_str(), -1, key, keyLength,
        LIBSSH2_KNOWNHOST_TYPE_PLAIN | LIBSSH2_KNOWNHOST_KEYENC_RAW, &entry);
    Sighting sighting;
    switch (result) {
        case LIBSSH2_KNOWNHOST_CHECK_MATCH:
            sighting = Sighting::Known;
            break;
        case LIBSSH2_KNOWNHOST_CHECK_MISMATCH:
            sighting = Sighting::Changed;
            break;
        case LIBSSH2_KNOWNHOST_CHECK_NOTFOUND:
            sighting = Sighting::FirstSight;
            break;
        default:
            throw refuse("Chiave host di " + name + " non verificabile con " + knownHostsPath +
                         ", connessione rifiutata");
    }
    if (sighting == Sighting::Known) return;
    if (sighting == Sighting::Changed)
        throw refuse("La chiave host di " + name + " è cambiata: " + knownHostsPath + " riporta " +
                     describeRecorded(entry) + ", il server ha presentato " + presented +
                     ". Connessione rifiutata: potrebbe essere qualcuno che si spaccia per il "
                     "server. Se la chiave è stata cambiata di proposito, togliere la vecchia "
                     "riga di " +
                     name + " da " + knownHostsPath);

    const std::string line = name + " " + presentedType + " " + base64Encode(blob);
    try {
        store.record(line);
    } catch (const RuntimeError& e) {
        // Unrecorded, the key would be "seen for the first time" on every connection, and a
        // changed one taken as readily as the right one.
        throw refuse("Chiave host di " + name + " vista per la prima volta (" + presented +
                     ") ma non registrabile in " + knownHostsPath + ": " + e.description() +
                     ". Connessione rifiutata, perché senza registrarla un cambio di chiave non "
                     "sarebbe riconosciuto. Rendere scrivibile il file (o la sua cartella), "
                     "oppure, verificata l'impronta con l'amministratore del server, aggiungervi "
                     "a mano questa riga: " +
                     line);
    }
    log(" Chiave host di " + name + " vista per la prima volta e registrata in " + knownHostsPath +
        ": " + presented);
}

}  // namespace vs::sftp
