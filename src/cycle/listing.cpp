#include "cycle/listing.h"

#include <vector>

#include "common/file_name.h"
#include "common/text.h"
#include "cycle/selection_rules.h"
#include "cycle/sort_keys.h"

namespace vs {

namespace {

constexpr std::size_t kCut = 200;
constexpr const char* kControlFile = "scarica_ok";
constexpr const char* kUnknownSize = "9999";

void log(const ListingContext& ctx, const std::string& text) {
    if (ctx.log) ctx.log(text);
}

// The one line that tells the operator how many entries of a remote folder were never listed.
std::string leftOutLine(int count, const std::string& folder) {
    const bool one = count == 1;
    return " " + std::to_string(count) + (one ? " voce" : " voci") + " della cartella remota " +
           visible(folder) + (one ? " esclusa" : " escluse") +
           " dall'elenco: nomi non utilizzabili (/, \\, caratteri di controllo, spazi iniziali o "
           "finali, troppo lunghi o riservati)";
}

// Adds a row; once the table is full, says once that the rest waits for a later cycle.
void addRow(ListingContext& ctx, ListingTable::Row row) {
    if (ctx.table.add(std::move(row)) || ctx.overflowReported) return;
    ctx.overflowReported = true;
    log(ctx, " Elenco troppo lungo: in tabella i primi " + std::to_string(ListingTable::kRows) +
                 " file, gli altri al prossimo ciclo");
}

// Whether the entry's rows went into the table.
bool admitEntry(const RemoteEntry& entry, const ListingPolicy& policy, ListingContext& ctx) {
    const std::string& name = entry.name;
    const bool byDotT = policy.fileTypes == ListingPolicy::FileTypes::DotTFiles;
    DotTSelection taken;
    if (byDotT)
        taken = selectDotTFile(entry, ctx.fileType, ctx.operatorCode, ctx.operatorList);
    else
        taken.taken = acceptFileType(name, entry.kind == RemoteEntry::Kind::File, ctx.fileType,
                                     ctx.operatorCode, ctx.operatorList);
    if (!taken.taken) return false;
    // The control file is looked for whatever the name filters say.
    if (policy.nameFilters && !(policy.controlFile && name == kControlFile) &&
        !nameTest(ctx.filters, name))
        return false;
    if (policy.controlFile && ctx.fileType == FileType::Tutti && toLower(name) == kControlFile) {
        ctx.controlFileFlag = true;
        return false;
    }
    if (!byDotT) {
        addRow(ctx, {name, ctx.rowStamp, "", std::nullopt, false});
        return true;
    }
    if (endsWith(toLower(name), ".t")) {
        for (const char* letter : {"H", "0", "B"})
            addRow(ctx, {name.substr(0, name.size() - 1) + letter, taken.companionKey, kUnknownSize,
                         std::nullopt, true});
    }
    addRow(ctx, {name, taken.key, entry.size ? std::to_string(*entry.size) : kUnknownSize,
                 entry.size, true});
    return true;
}

}  // namespace

void admitListing(const RemoteListing& listing, const ListingPolicy& policy, ListingContext& ctx) {
    std::vector<const RemoteEntry*> usable;
    usable.reserve(listing.entries.size());
    for (const RemoteEntry& entry : listing.entries)
        if (isUsableFileName(entry.name)) usable.push_back(&entry);
    const auto leftOut =
        listing.unreadable + static_cast<int>(listing.entries.size() - usable.size());
    if (leftOut > 0) log(ctx, leftOutLine(leftOut, ctx.folder));

    for (const RemoteEntry* entry : usable) {
        if (policy.logsEntries) log(ctx, " " + visible(entry->name));
        const bool rowsIn = admitEntry(*entry, policy, ctx);
        if (policy.cut == ListingPolicy::Cut::Rows &&
            !(rowsIn && ctx.fileType == FileType::Tutti) && ctx.table.count() == kCut) {
            log(ctx, " Listftpprova  Scarico i primi 50");
            break;
        }
    }
    // Without the control file a "TUTTI" listing is dropped whole.
    if (policy.controlFile && ctx.fileType == FileType::Tutti && !ctx.controlFileFlag) {
        ctx.table.reset();
        log(ctx, " Non posso scaricare i file (manca il file di controllo) ");
    }
    if (policy.cut == ListingPolicy::Cut::AutomailNames && ctx.fileType == FileType::Automail &&
        ctx.table.count() != 0) {
        SelectionSort(ctx.table, static_cast<long>(ctx.table.count()) - 1);
        // Only the first 200 names are handled this cycle; the rest stay for a later one.
        ctx.table.truncate(kCut);
    }
    if (policy.logsEntries) log(ctx, " Listftpprova  Elenco Ottenuto ");
}

}  // namespace vs
