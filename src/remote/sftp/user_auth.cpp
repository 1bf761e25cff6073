#include "remote/sftp/user_auth.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "common/runtime_error.h"
#include "common/text.h"
#include "common/whole_file.h"
#include "remote/sftp/private_key_file.h"
#include "remote/sftp/session_context.h"

namespace vs::sftp {

namespace {

// libssh2's text for its last error; it may quote what the server sent.
std::string libraryMessage(LIBSSH2_SESSION* session) {
    char* message = nullptr;
    int length = 0;
    libssh2_session_last_error(session, &message, &length, 0);
    if (!message || length <= 0) return "nessun dettaglio";
    return visible(std::string_view(message, static_cast<std::size_t>(length)));
}

bool offered(const std::string& methods, std::string_view method) {
    std::size_t start = 0;
    while (start <= methods.size()) {
        std::size_t end = methods.find(',', start);
        if (end == std::string::npos) end = methods.size();
        if (std::string_view(methods).substr(start, end - start) == method) return true;
        start = end + 1;
    }
    return false;
}

// A failure that is not a refusal of the credentials but the end of the connection: no other
// method can succeed after it.
bool connectionGone(int rc) {
    switch (rc) {
        case LIBSSH2_ERROR_SOCKET_DISCONNECT:
        case LIBSSH2_ERROR_SOCKET_RECV:
        case LIBSSH2_ERROR_SOCKET_SEND:
        case LIBSSH2_ERROR_TIMEOUT:
        case LIBSSH2_ERROR_SOCKET_TIMEOUT:
        case LIBSSH2_ERROR_BAD_SOCKET:
            return true;
        default:
            return false;
    }
}

RuntimeError refused(const std::string& text) {
    return RuntimeError(kErrConnection, text);
}

RuntimeError failed(const std::string& user, const std::string& where, const std::string& why) {
    return refused("Accesso come " + visible(user) + " a " + where + " non riuscito: " + why);
}

}  // namespace

void answerKeyboardInteractive(const char*, int, const char*, int, int promptCount,
                               const LIBSSH2_USERAUTH_KBDINT_PROMPT*,
                               LIBSSH2_USERAUTH_KBDINT_RESPONSE* responses, void** abstract) {
    SessionContext* context = SessionContext::of(abstract);
    const std::string& password = context->password;
    for (int i = 0; i < promptCount; ++i) {
        // libssh2 frees the answers with the session's own allocator.
        auto* text = static_cast<char*>(context->allocate(password.size() + 1));
        responses[i].text = text;
        responses[i].length = 0;
        if (!text) continue;
        std::memcpy(text, password.data(), password.size());
        text[password.size()] = '\0';
        responses[i].length = static_cast<unsigned int>(password.size());
    }
}

void authenticate(LIBSSH2_SESSION* session, const Credentials& c, const std::string& where) {
    const auto userLength = static_cast<unsigned int>(c.user.size());
    char* list = libssh2_userauth_list(session, c.user.data(), userLength);
    if (!list) {
        if (libssh2_userauth_authenticated(session)) return;
        throw refused("Accesso a " + where +
                      " non riuscito: il server non ha indicato i metodi di accesso (" +
                      libraryMessage(session) + ")");
    }
    // The server's own words: never logged as they are.
    const std::string methods = list;
    std::vector<std::string> tried;

    if (!c.privateKeyFile.empty()) {
        if (!offered(methods, "publickey")) {
            tried.push_back("chiave pubblica: non accettata da questo server");
        } else if (::access(c.privateKeyFile.c_str(), R_OK) != 0) {
            tried.push_back("chiave pubblica: il file della chiave privata " +
                            visible(c.privateKeyFile) + " non è leggibile (" +
                            std::strerror(errno) + ")");
        } else {
            const std::string file = visible(c.privateKeyFile);
            bool encrypted = false;
            try {
                encrypted = privateKeyEncrypted(readWholeFile(c.privateKeyFile).value_or(""));
            } catch (const RuntimeError&) {
                // Readable a moment ago: libssh2's own reading below says what went wrong.
            }
            if (encrypted && c.passphrase.empty()) {
                tried.push_back("la chiave privata " + file +
                                " è protetta da una passphrase, che manca nei parametri "
                                "(keypassphrase)");
            } else {
                int rc = libssh2_userauth_publickey_fromfile_ex(session, c.user.data(), userLength,
                                                                nullptr, c.privateKeyFile.c_str(),
                                                                c.passphrase.c_str());
                if (rc == 0) return;
                // libssh2 gives a wrong passphrase the error of an unreadable file.
                if (encrypted && rc == LIBSSH2_ERROR_FILE)
                    tried.push_back(
                        "la passphrase dei parametri (keypassphrase) non apre la "
                        "chiave privata " +
                        file);
                else
                    tried.push_back("chiave pubblica " + file + " rifiutata (" +
                                    libraryMessage(session) + ")");
                if (connectionGone(rc)) throw failed(c.user, where, tried.back());
            }
        }
    }

    // With a key file and no password there is nothing worth sending.
    const bool tryPassword = !c.password.empty() || c.privateKeyFile.empty();
    if (tryPassword && offered(methods, "password")) {
        int rc =
            libssh2_userauth_password_ex(session, c.user.data(), userLength, c.password.data(),
                                         static_cast<unsigned int>(c.password.size()), nullptr);
        if (rc == 0) return;
        tried.push_back(rc == LIBSSH2_ERROR_AUTHENTICATION_FAILED
                            ? std::string("password rifiutata")
                            : "password: " + libraryMessage(session));
        if (connectionGone(rc)) throw failed(c.user, where, tried.back());
    }
    if (tryPassword && offered(methods, "keyboard-interactive")) {
        int rc = libssh2_userauth_keyboard_interactive_ex(session, c.user.data(), userLength,
                                                          answerKeyboardInteractive);
        if (rc == 0) return;
        tried.push_back(rc == LIBSSH2_ERROR_AUTHENTICATION_FAILED
                            ? std::string("password rifiutata (keyboard-interactive)")
                            : "keyboard-interactive: " + libraryMessage(session));
    }
    if (tried.empty())
        throw refused("Accesso come " + visible(c.user) + " a " + where +
                      " impossibile: il server non offre alcun metodo di accesso utilizzabile da "
                      "questo programma (offre: " +
                      visible(methods) + ")");
    std::string text = "Accesso come " + visible(c.user) + " rifiutato da " + where + ": ";
    for (std::size_t i = 0; i < tried.size(); ++i) text += (i ? "; " : "") + tried[i];
    throw refused(text);
}

}  // namespace vs::sftp
