// The first bytes an SSH server sends, as the program reads them after a failed key exchange:
// no crash, no read past the end, and a gap found only in offers that parsed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "remote/sftp/kex_offer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view stream(reinterpret_cast<const char*>(data), size);
    const std::optional<vs::sftp::KexOffer> offer = vs::sftp::parseKexOffer(stream);
    if (!offer) return 0;
    // Against itself every class has something in common, unless a list is empty.
    const auto gap = vs::sftp::findNegotiationGap(*offer, *offer);
    if (gap && gap->serverOffers != "(nessuno)") std::abort();
    return 0;
}
