// Folder entries of any name and kind read by the SFTP server's listing rules: no crash,
// nothing past the table's end, and no listed name that could leave the staging or the local
// folder. After the first byte (file type, operator, filters), every line is one entry: its
// first byte the kind ("-" file, "d" folder, "l" link, anything else other), the rest its name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

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
    vs::ListingContext ctx{
        kTypes[data[0] % 4], op, list, filters, table, flag, "/", "stamp", nullptr};

    vs::RemoteListing listing;
    std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty()) continue;
        vs::RemoteEntry entry;
        entry.name = line.substr(1);
        if (line[0] == '-') entry.kind = vs::RemoteEntry::Kind::File;
        if (line[0] == 'd') entry.kind = vs::RemoteEntry::Kind::Folder;
        if (line[0] == 'l') entry.kind = vs::RemoteEntry::Kind::Link;
        listing.entries.push_back(std::move(entry));
    }
    vs::admitListing(listing, vs::kSftpListing, ctx);
    if (table.count() > vs::ListingTable::kRows) std::abort();
    for (std::size_t i = 0; i < table.count(); ++i)
        if (!vs::isUsableFileName(table[i].name)) std::abort();
    return 0;
}
