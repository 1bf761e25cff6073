#include "remote/sftp/library_version.h"

#include <libssh2.h>

namespace vs::sftp {

namespace {
// Set by the build: the Debian version of the libssh2 source package built into the program,
// empty when the system's libssh2 is linked.
constexpr const char* kBuiltInFrom = VALTRASSO_LIBSSH2_DEBIAN_SOURCE;
}  // namespace

std::string libraryVersion() {
    const char* version = libssh2_version(0);
    return version ? version : "?";
}

std::string libraryDescription() {
    const std::string from = kBuiltInFrom;
    if (from.empty()) return "libssh2 " + libraryVersion() + " del sistema";
    return "libssh2 " + libraryVersion() +
           ", inclusa nel programma dal pacchetto sorgente Debian " + from;
}

std::string libraryDescriptionInEnglish() {
    const std::string from = kBuiltInFrom;
    if (from.empty()) return "libssh2 " + libraryVersion() + ", the system's";
    return "libssh2 " + libraryVersion() + ", built in from Debian source package " + from;
}

}  // namespace vs::sftp
