#pragma once

#include <string>

#include "common/text.h"

namespace vs {

// The one line that tells the operator how many entries of a remote folder were never listed
// because their names could not be used safely or read back exactly.
inline std::string leftOutLine(int count, const std::string& folder) {
    const bool one = count == 1;
    return " " + std::to_string(count) + (one ? " voce" : " voci") + " della cartella remota " +
           visible(folder) + (one ? " esclusa" : " escluse") +
           " dall'elenco: nomi non utilizzabili (/, \\, caratteri di controllo, spazi iniziali o "
           "finali, troppo lunghi o riservati)";
}

}  // namespace vs
