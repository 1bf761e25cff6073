#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace vs {

// Every key of section [PARAMETRI] that the program reads. A key not in this list is reported
// as unknown when the settings are loaded, and the reference (README, manual page) lists each
// of them: a test holds the three together.
struct KnownKey {
    const char* name;  // a stem ending in "_" when numbered
    int count;         // 0: a single key; n: numbered 0 to n-1, in plain decimal
};

inline constexpr std::array<KnownKey, 26> kKnownKeys{{
    {"host", 0},
    {"login", 0},
    {"pwd", 0},
    {"deltatime", 0},
    {"tiposerver", 0},
    {"keyfile", 0},
    {"keypassphrase", 0},
    {"uploadtemp", 0},
    {"attesastabile", 0},
    {"limitebanda", 0},
    {"pausafile", 0},
    {"alertcommand", 0},
    {"alertafter", 0},
    {"mantienidata", 0},
    {"journaldays", 0},
    {"DirRemota_", 51},
    {"DirLocale_", 51},
    {"TipoFile_", 51},
    {"CancelloFile_", 51},
    {"TipoOperazione_", 51},
    {"DirLocaleBackup_", 51},
    {"Dirmoltiplicatore_", 51},
    {"Dirparametri_", 51},
    {"CancellaSenzaVerifica_", 51},
    {"SoloNuovi_", 51},
    {"OperMail_", 12},
}};

// What is wrong with a key that is not known, and the known key it was probably meant to be.
struct UnknownKey {
    std::string what;
    std::optional<std::string> nearest;
};

// Nothing for a known key (compared ignoring case, as the reader matches keys).
std::optional<UnknownKey> checkKeyName(std::string_view key);

}  // namespace vs
