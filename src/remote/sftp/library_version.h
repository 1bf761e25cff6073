#pragma once

#include <string>

// Which libssh2 the program runs with: the version the library itself reports, and whether it
// is the system's shared library (updated with the system) or the one built into the program
// from a Debian source package (updated by building the program again). The operator needs it
// to tell whether a libssh2 security fix has reached this installation.
namespace vs::sftp {

// "1.11.1"
std::string libraryVersion();
// For the log: "libssh2 1.11.1 del sistema" or "libssh2 1.11.1, inclusa nel programma dal
// pacchetto sorgente Debian 1.11.1-1+deb13u2".
std::string libraryDescription();
// For --version: "libssh2 1.11.1, the system's" or "libssh2 1.11.1, built in from Debian
// source package 1.11.1-1+deb13u2".
std::string libraryDescriptionInEnglish();

}  // namespace vs::sftp
