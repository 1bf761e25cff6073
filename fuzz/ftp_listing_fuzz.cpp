// An FTP server's raw folder listing, parsed by the control's listing parser and read by the
// download job's listing rules: no crash, keys of 15 characters, and no listed name that could
// leave the staging or the local folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/file_name.h"
#include "cycle/listing.h"
#include "remote/ftp/ftp_listing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const vs::FileType kTypes[] = {vs::FileType::Tutti, vs::FileType::PdfReport,
                                          vs::FileType::Automail, vs::FileType::Other};
    const std::string raw(reinterpret_cast<const char*>(data) + 1, size - 1);
    const vs::RemoteListing listing = vs::parseFtpListing(
        raw, (data[0] & 64) ? vs::ListingFormat::Mlsd : vs::ListingFormat::List);
    if (listing.unreadable < 0) std::abort();
    std::string op = (data[0] & 4) ? "TUTTI" : "OP1";
    const std::string list = (data[0] & 8) ? "||A1||OP1||" : "";
    vs::NameFilters filters;
    vs::ListingTable table;
    bool flag = false;
    vs::ListingContext ctx{
        kTypes[data[0] % 4], op, list, filters, table, flag, "/", "stamp", nullptr};
    vs::admitListing(listing, vs::kFtpListing, ctx);
    if (table.count() > vs::ListingTable::kRows) std::abort();
    for (std::size_t i = 0; i < table.count(); ++i) {
        if (!vs::isUsableFileName(table[i].name)) std::abort();
        if (table[i].key.size() != 15) std::abort();
    }
    return 0;
}
