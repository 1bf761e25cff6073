#include "remote/sftp/host_key_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "common/whole_file.h"
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

    // Empty text when loaded (a missing file is an empty one); otherwise the reason.
    std::string load(const std::string& path) {
        if (!hosts_) return "la libreria SSH non ha potuto preparare l'elenco degli host";
        std::error_code error;
        const std::optional<std::string> content = readWholeFile(path, error);
        if (error)
            return "il file degli host conosciuti " + path + " non è leggibile: " + error.message();
        if (!content) return {};
        for (std::string_view piece : splitLines(*content)) {
            std::string line(piece);
            while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
            if (line.empty() || line[0] == '#' || line[0] == '@') continue;
            libssh2_knownhost_readline(hosts_, line.data(), line.size(),
                                       LIBSSH2_KNOWNHOST_FILE_OPENSSH);
        }
        return {};
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
    std::string type = keyTypeOfBlob(*blob);
    return (type.empty() ? std::string("chiave") : type) + " " + fingerprintOfKey(*blob);
}

// Appends one line, creating the file readable by its owner only, as OpenSSH does.
std::string appendLine(const std::string& path, const std::string& line) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return std::strerror(errno);
    std::string text = line;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0) {
        // A last line without its line end would otherwise swallow ours.
        int rfd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        char last = '\n';
        if (rfd >= 0) {
            if (::pread(rfd, &last, 1, st.st_size - 1) != 1) last = '\n';
            ::close(rfd);
        }
        if (last != '\n') text.insert(text.begin(), '\n');
    }
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            std::string why = std::strerror(errno);
            ::close(fd);
            return why;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) return std::strerror(errno);
    return {};
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
    const bool loaded = !knownHostsPath.empty() && hosts.load(knownHostsPath).empty();
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

std::string verifyHostKey(LIBSSH2_SESSION* session, const std::string& knownHostsPath,
                          const std::string& host, int port, const LogFn& log) {
    const std::string name = knownHostsName(host, port);
    std::size_t keyLength = 0;
    int keyType = 0;
    const char* key = libssh2_session_hostkey(session, &keyLength, &keyType);
    if (!key || keyLength == 0)
        return "Il server " + name + " non ha presentato una chiave host utilizzabile";
    const std::string blob(key, keyLength);
    // Printable by construction: keyTypeOfBlob takes nothing but visible ASCII.
    std::string presentedType = keyTypeOfBlob(blob);
    if (presentedType.empty()) presentedType = "chiave";
    std::string fingerprint;
    if (const char* digest = libssh2_hostkey_hash(session, LIBSSH2_HOSTKEY_HASH_SHA256))
        fingerprint = fingerprintOfDigest(std::string_view(digest, 32));
    else
        fingerprint = fingerprintOfKey(blob);
    const std::string presented = presentedType + " " + fingerprint;

    if (knownHostsPath.empty()) {
        log(" Chiave host di " + name +
            " non verificata (nessun file degli host conosciuti): " + presented);
        return {};
    }
    KnownHosts hosts(session);
    if (std::string why = hosts.load(knownHostsPath); !why.empty())
        return "Chiave host di " + name + " non verificabile, connessione rifiutata: " + why;

    // Key type 0 matches entries of every type: a host is known as soon as any key of it is.
    libssh2_knownhost* entry = nullptr;
    int result = libssh2_knownhost_checkp(
        hosts.get(), name.c_str(), -1, key, keyLength,
        LIBSSH2_KNOWNHOST_TYPE_PLAIN | LIBSSH2_KNOWNHOST_KEYENC_RAW, &entry);
    switch (result) {
        case LIBSSH2_KNOWNHOST_CHECK_MATCH:
            return {};
        case LIBSSH2_KNOWNHOST_CHECK_MISMATCH:
            return "La chiave host di " + name + " è cambiata: " + knownHostsPath + " riporta " +
                   describeRecorded(entry) + ", il server ha presentato " + presented +
                   ". Connessione rifiutata: potrebbe essere qualcuno che si spaccia per il "
                   "server. Se la chiave è stata cambiata di proposito, togliere la vecchia riga "
                   "di " +
                   name + " da " + knownHostsPath;
        case LIBSSH2_KNOWNHOST_CHECK_NOTFOUND:
            break;
        default:
            return "Chiave host di " + name + " non verificabile con " + knownHostsPath +
                   ", connessione rifiutata";
    }

    const std::string line = name + " " + presentedType + " " + base64Encode(blob);
    if (std::string why = appendLine(knownHostsPath, line + "\n"); !why.empty()) {
        // Unrecorded, the key would be "seen for the first time" on every connection, and a
        // changed one taken as readily as the right one.
        return "Chiave host di " + name + " vista per la prima volta (" + presented +
               ") ma non registrabile in " + knownHostsPath + ": " + why +
               ". Connessione rifiutata, perché senza registrarla un cambio di chiave non sarebbe "
               "riconosciuto. Rendere scrivibile il file (o la sua cartella), oppure, verificata "
               "l'impronta con l'amministratore del server, aggiungervi a mano questa riga: " +
               line;
    }
    log(" Chiave host di " + name + " vista per la prima volta e registrata in " + knownHostsPath +
        ": " + presented);
    return {};
}

}  // namespace vs::sftp
