#pragma once

#include <libssh2.h>

#include <string>

// Login on an SSH session whose host key was accepted: the private key file first (when one is
// set), then the password, then keyboard-interactive answering every prompt with the password.
namespace vs::sftp {

struct Credentials {
    std::string user;
    std::string password;
    std::string privateKeyFile;
    std::string passphrase;  // of the private key file, when it has one
};

// Answers every prompt with the password of the session's SessionContext.
void answerKeyboardInteractive(const char* name, int nameLength, const char* instruction,
                               int instructionLength, int promptCount,
                               const LIBSSH2_USERAUTH_KBDINT_PROMPT* prompts,
                               LIBSSH2_USERAUTH_KBDINT_RESPONSE* responses, void** abstract);

// Returns logged in; otherwise throws RuntimeError (kErrConnection) with what the operator
// needs to know (which methods were tried and why each failed). `where` is "host:port" for the
// texts.
void authenticate(LIBSSH2_SESSION* session, const Credentials& credentials,
                  const std::string& where);

}  // namespace vs::sftp
