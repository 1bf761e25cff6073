// The long-format listing rules on arbitrary text: no crash, nothing past the table's end, and
// no listed name that could leave the staging or the local folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/file_name.h"
#include "cycle/listing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const vs::FileType kTypes[] = {vs::FileType::Tutti, vs::FileType::PdfReport,
                                          vs::FileType::Automail, vs::FileType::Other};
    std::string op = (data[0] & 4) ? "TUTTI" : "OP1";
    const std::string list = (data[0] & 8) ? "||A1||OP1||" : "";
    vs::NameFilters filters;
    if (data[0] & 16) filters.prefix = "a";
    if (data[0] & 32) filters.suffix = ".t";
    vs::ListingTable table;
    bool flag = false;
    vs::ListingContext ctx{kTypes[data[0] % 4], op, list, filters, table, flag, "stamp", nullptr};
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    // Delivered in two parts, split in the middle, as batches arrive.
    vs::RemoteListing listing{vs::RemoteListing::Layout::LongFormat,
                              {text.substr(0, text.size() / 2), text.substr(text.size() / 2)}};
    vs::admitListing(listing, ctx);
    if (table.count() > vs::ListingTable::kRows) std::abort();
    for (std::size_t i = 0; i < table.count(); ++i)
        if (!vs::isUsableFileName(table[i].name)) std::abort();
    return 0;
}
