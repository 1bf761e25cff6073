#include "common/port_text.h"

#include "common/runtime_error.h"
#include "common/text.h"

namespace vs {

int portFromText(const std::string& text) {
    const auto port = parseInteger(text);
    if (!port)
        throw RuntimeError(kErrTypeMismatch, "Tipo non corrispondente: porta '" + text + "'");
    if (*port < 1 || *port > 65535)
        throw RuntimeError(kErrGeneric, "Porta fuori intervallo: " + text);
    return static_cast<int>(*port);
}

}  // namespace vs
