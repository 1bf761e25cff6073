#include "cycle/listing.h"

#include "cycle/sort_keys.h"

namespace vs {

namespace {
constexpr std::size_t kAutomailCap = 200;
}

void addListingRow(ListingContext& ctx, ListingTable::Row row) {
    if (ctx.table.add(std::move(row)) || ctx.overflowReported) return;
    ctx.overflowReported = true;
    if (ctx.log)
        ctx.log(" Elenco troppo lungo: in tabella i primi " + std::to_string(ListingTable::kRows) +
                " file, gli altri al prossimo ciclo");
}

void admitListing(const RemoteListing& listing, ListingContext& ctx) {
    if (listing.layout == RemoteListing::Layout::Fields) {
        for (const std::string& part : listing.parts) listftpprova(part, ctx);
        return;
    }
    for (const std::string& part : listing.parts) sftp1_ListItems(part, ctx);
    // Without the control file a "TUTTI" listing is dropped whole.
    if (ctx.fileType == FileType::Tutti && !ctx.controlFileFlag) {
        ctx.table.reset();
        if (ctx.log) ctx.log(" Non posso scaricare i file (manca il file di controllo) ");
    }
    if (ctx.fileType == FileType::Automail && ctx.table.count() != 0) {
        SelectionSort(ctx.table, static_cast<long>(ctx.table.count()) - 1);
        // Only the first 200 names are handled this cycle; the rest stay for a later one.
        ctx.table.truncate(kAutomailCap);
    }
}

}  // namespace vs
