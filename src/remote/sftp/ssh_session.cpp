#include "remote/sftp/ssh_session.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#include "common/runtime_error.h"
#include "common/text.h"
#include "remote/sftp/host_key_check.h"
#include "remote/sftp/kex_offer.h"
#include "remote/sftp/user_auth.h"

namespace vs::sftp {

namespace {

void initialiseLibraryOnce() {
    static std::once_flag once;
    std::call_once(once, [] { libssh2_init(0); });
}

// Ciphers in the order we offer them. AES in counter mode cost this program the least
// processor time per byte (hardware AES; measured against AES-GCM and chacha20-poly1305 with
// this libssh2), and 128-bit keys need fewer rounds; AES-GCM and chacha20-poly1305 for servers
// hardened to them alone; CBC stays for old servers.
constexpr const char* kCiphers =
    "aes128-ctr,aes192-ctr,aes256-ctr,aes128-gcm@openssh.com,aes256-gcm@openssh.com,"
    "chacha20-poly1305@openssh.com,aes256-cbc,aes192-cbc,aes128-cbc";
// Encrypt-then-MAC first, as current servers prefer; SHA-256 is hardware-assisted on current
// processors; SHA-1 stays for old servers.
constexpr const char* kMacs =
    "hmac-sha2-256-etm@openssh.com,hmac-sha2-512-etm@openssh.com,hmac-sha2-256,hmac-sha2-512,"
    "hmac-sha1-etm@openssh.com,hmac-sha1";

// The socket calls libssh2 makes, through us so that the first bytes each way can be kept:
// they hold both sides' algorithm offers. Errors as libssh2's own calls give them: -errno.
ssize_t sendKeeping(libssh2_socket_t fd, const void* buffer, size_t length, int flags,
                    void** abstract) {
    ssize_t n;
    do {
        n = ::send(fd, buffer, length, flags | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return -errno;
    SessionContext::of(abstract)->handshake.sent(buffer, n);
    return n;
}

ssize_t receiveKeeping(libssh2_socket_t fd, void* buffer, size_t length, int flags,
                       void** abstract) {
    ssize_t n;
    do {
        n = ::recv(fd, buffer, length, flags);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return -errno;
    SessionContext::of(abstract)->handshake.received(buffer, n);
    return n;
}

// Every failure to open the session is the connection's: the cycle cannot go on without it.
RuntimeError refused(const std::string& text) {
    return RuntimeError(kErrConnection, text);
}

// "127.0.0.1:2222", "[::1]:2222", or "name (address)" when the operator typed a name.
std::string addressText(const std::string& name, const sockaddr* address, socklen_t length) {
    char host[NI_MAXHOST] = "?";
    char port[NI_MAXSERV] = "?";
    getnameinfo(address, length, host, sizeof host, port, sizeof port,
                NI_NUMERICHOST | NI_NUMERICSERV);
    std::string text = address->sa_family == AF_INET6 ? "[" + std::string(host) + "]:" + port
                                                      : std::string(host) + ":" + port;
    if (name != host) text = name + " (" + text + ")";
    return text;
}

}  // namespace

std::string SshSession::libraryError() const {
    if (!session_) return "nessuna sessione";
    char* message = nullptr;
    int length = 0;
    libssh2_session_last_error(session_, &message, &length, 0);
    if (!message || length <= 0) return "nessun dettaglio";
    // It may quote what the server sent.
    return visible(std::string_view(message, static_cast<std::size_t>(length)));
}

void SshSession::markBroken(const std::string& reason) {
    if (broken_) return;
    broken_ = true;
    brokenReason_ = reason;
}

std::string SshSession::brokenReason() const {
    if (broken_) return brokenReason_;
    if (interrupted_.load()) return "connessione chiusa perché il server non rispondeva più";
    return {};
}

void SshSession::interrupt() {
    std::lock_guard<std::mutex> lock(socketMutex_);
    if (socket_ >= 0) {
        interrupted_.store(true);
        ::shutdown(socket_, SHUT_RDWR);
    }
}

void SshSession::connectSocket(const ConnectSettings& s) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(s.port);
    int rc = getaddrinfo(s.host.c_str(), port.c_str(), &hints, &found);
    if (rc != 0)
        throw refused("Indirizzo di " + s.host + " non trovato: " +
                      (rc == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(rc)));
    std::string lastError;
    for (addrinfo* a = found; a; a = a->ai_next) {
        int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) {
            lastError = std::string("impossibile creare un socket: ") + std::strerror(errno);
            continue;
        }
        const std::string address = addressText(s.host, a->ai_addr, a->ai_addrlen);
        int error = 0;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            error = errno;
            if (error == EINPROGRESS) {
                pollfd p{fd, POLLOUT, 0};
                int ready;
                do {
                    ready = ::poll(&p, 1, s.timeoutSeconds * 1000);
                } while (ready < 0 && errno == EINTR);
                if (ready == 0) {
                    error = ETIMEDOUT;
                } else {
                    socklen_t length = sizeof error;
                    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
                }
            }
        }
        if (error != 0) {
            ::close(fd);
            if (error == ECONNREFUSED)
                lastError =
                    "Connessione rifiutata da " + address + " (nessun server SSH in ascolto)";
            else if (error == ETIMEDOUT)
                lastError = "Nessuna risposta da " + address + " entro " +
                            std::to_string(s.timeoutSeconds) + " secondi";
            else
                lastError = "Impossibile connettersi a " + address + ": " + std::strerror(error);
            continue;
        }
        // Back to blocking: libssh2 waits on the socket itself, bounded by its time-out.
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        // SFTP requests are small packets that must not wait for the acknowledgement of
        // earlier data.
        int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        {
            std::lock_guard<std::mutex> lock(socketMutex_);
            socket_ = fd;
        }
        freeaddrinfo(found);
        return;
    }
    freeaddrinfo(found);
    throw refused(lastError.empty() ? "Impossibile connettersi a " + where_ : lastError);
}

void SshSession::open(const ConnectSettings& s,
                      const std::function<void(const std::string&)>& log) {
    close(false);
    initialiseLibraryOnce();
    broken_ = false;
    interrupted_.store(false);
    brokenReason_.clear();
    where_ = s.host + ":" + std::to_string(s.port);
    timeoutSeconds_ = s.timeoutSeconds > 0 ? s.timeoutSeconds : 20;
    if (s.host.empty()) throw refused("Nome host SFTP non impostato");
    if (s.port <= 0 || s.port > 65535)
        throw refused("Porta SFTP non valida: " + std::to_string(s.port));
    try {
        ConnectSettings settings = s;
        settings.timeoutSeconds = timeoutSeconds_;
        connectSocket(settings);
        handshake(s);
        verifyHostKey(session_, s.knownHostsFile, s.host, s.port, log);
        authenticate(session_, {s.user, s.password, s.privateKeyFile, s.privateKeyPassphrase},
                     where_);
        const auto asked = std::chrono::steady_clock::now();
        sftp_ = libssh2_sftp_init(session_);
        sftpStartTook_ = std::chrono::steady_clock::now() - asked;
        if (!sftp_)
            throw refused("Impossibile aprire il servizio SFTP di " + where_ + ": " +
                          libraryError());
    } catch (...) {
        close(false);
        throw;
    }
}

void SshSession::handshake(const ConnectSettings& s) {
    context_ = std::make_unique<SessionContext>();
    context_->password = s.password;
    session_ = libssh2_session_init_ex(SessionContext::allocate, SessionContext::release,
                                       SessionContext::reallocate, context_.get());
    if (!session_) throw refused("La libreria SSH non ha potuto avviare una sessione");
    libssh2_session_set_blocking(session_, 1);
    libssh2_session_set_timeout(session_, static_cast<long>(timeoutSeconds_) * 1000);
    libssh2_session_method_pref(session_, LIBSSH2_METHOD_CRYPT_CS, kCiphers);
    libssh2_session_method_pref(session_, LIBSSH2_METHOD_CRYPT_SC, kCiphers);
    libssh2_session_method_pref(session_, LIBSSH2_METHOD_MAC_CS, kMacs);
    libssh2_session_method_pref(session_, LIBSSH2_METHOD_MAC_SC, kMacs);
    libssh2_session_method_pref(session_, LIBSSH2_METHOD_HOSTKEY,
                                hostKeyMethods(session_, s.knownHostsFile, s.host, s.port).c_str());

    libssh2_session_callback_set2(session_, LIBSSH2_CALLBACK_SEND,
                                  reinterpret_cast<libssh2_cb_generic*>(sendKeeping));
    libssh2_session_callback_set2(session_, LIBSSH2_CALLBACK_RECV,
                                  reinterpret_cast<libssh2_cb_generic*>(receiveKeeping));
    context_->handshake.start();
    if (libssh2_session_handshake(session_, socket_) != 0) throw refused(negotiationFailure());
    context_->handshake.stop();
}

std::string SshSession::negotiationFailure() const {
    std::string text = "Negoziazione SSH con " + where_ + " non riuscita: ";
    const std::optional<KexOffer> ours = parseKexOffer(context_->handshake.sentBytes());
    const std::optional<KexOffer> theirs = parseKexOffer(context_->handshake.receivedBytes());
    const std::optional<NegotiationGap> gap =
        ours && theirs ? findNegotiationGap(*ours, *theirs) : std::nullopt;
    if (!gap) return text + libraryError();
    return text + "nessun algoritmo di " + gap->what +
           " in comune con il server. Il server offre: " + visible(gap->serverOffers) +
           "; questo programma supporta: " + gap->weSupport +
           ". Chiedere all'amministratore del server di abilitarne uno";
}

void SshSession::close(bool graceful) {
    if (session_) {
        if (!graceful || broken()) {
            // Nothing useful can be said to a server that stopped answering: make every call
            // below fail at once instead of waiting for the time-out.
            interrupt();
        } else {
            libssh2_session_set_timeout(session_, std::min(timeoutSeconds_, 5) * 1000L);
        }
        // Goodbye first: closing each channel before it would wait a round trip for the
        // server's close, and the server closes them all with the connection anyway.
        if (graceful && !broken()) libssh2_session_disconnect(session_, "Session closed");
        if (sftp_) libssh2_sftp_shutdown(sftp_);
        sftp_ = nullptr;
        libssh2_session_free(session_);
        session_ = nullptr;
    }
    sftp_ = nullptr;
    {
        std::lock_guard<std::mutex> lock(socketMutex_);
        if (socket_ >= 0) ::close(socket_);
        socket_ = -1;
    }
    context_.reset();
}

}  // namespace vs::sftp
