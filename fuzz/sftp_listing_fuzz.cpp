// The SFTP listing parse on arbitrary text: no crash, nothing past the table's end, and no
// listed name that could leave the staging or the local folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cycle/sftp_listing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const char* kTypes[] = {"TUTTI", "PDFREPORT", "AUTOMAIL", "other"};
    std::string type = kTypes[data[0] % 4];
    std::string op = (data[0] & 4) ? "TUTTI" : "OP1";
    std::string list = (data[0] & 8) ? "||A1||OP1||" : "";
    vs::NameFilters filters;
    if (data[0] & 16) filters.prefix = "a";
    if (data[0] & 32) filters.suffix = ".t";
    vs::ListingTable table;
    bool flag = false;
    vs::SftpListingContext ctx{type, op, list, filters, table, flag, "stamp", false, nullptr};
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    // Deliver in two events, split in the middle, as batches arrive.
    vs::sftp1_ListItems(text.substr(0, text.size() / 2), ctx);
    vs::sftp1_ListItems(text.substr(text.size() / 2), ctx);
    vs::finishSftpListing(ctx);
    if (table.count() > vs::ListingTable::kRows) std::abort();
    for (std::size_t i = 0; i < table.count(); ++i)
        if (vs::unsafeRemoteName(table[i].name)) std::abort();
    return 0;
}
