#include "common/file_name.h"
#include "common/text.h"
#include "cycle/listing.h"
#include "cycle/selection_rules.h"
#include "cycle/sort_keys.h"

namespace vs {

namespace {
constexpr std::size_t kAutomailCap = 200;
}

std::string listingLineName(const std::string& line) {
    // Nine passes, each cutting the text at the last blank found and trimming it, so that
    // runs of blanks between fields count as one and the name keeps its inner blanks.
    std::string text = line;
    size_t blank = 0;  // 0-based position of the last blank found; "first pass" = 0
    bool found = true;
    for (int pass = 0; pass < 9; ++pass) {
        if (found) text = trimBlanks(std::string_view(text).substr(blank));
        const size_t b = text.find(' ');
        found = b != std::string::npos;
        blank = found ? b : 0;
    }
    return text;
}

void addListingRow(ListingContext& ctx, ListingTable::Row row) {
    if (ctx.table.add(std::move(row)) || ctx.overflowReported) return;
    ctx.overflowReported = true;
    if (ctx.log)
        ctx.log(" Elenco troppo lungo: in tabella i primi " + std::to_string(ListingTable::kRows) +
                " file, gli altri al prossimo ciclo");
}

void sftp1_ListItems(const std::string& fileInfo, ListingContext& ctx) {
    size_t start = 0;
    while (true) {
        const size_t crlf = fileInfo.find("\r\n", start);
        if (crlf == std::string::npos) break;  // text after the last CR LF is ignored
        const std::string line = fileInfo.substr(start, crlf - start);
        start = crlf + 2;
        if (!line.empty()) {
            const bool isFile = line[0] == '-';
            std::string name = listingLineName(line);
            if (endsWith(name, "/")) name.pop_back();
            bool accepted =
                acceptFileType(name, isFile, ctx.fileType, ctx.operatorCode, ctx.operatorList);
            const bool dots = name == "." || name == "..";
            if (accepted && isFile && !dots && name != "scarica_ok" && !nameTest(ctx.filters, name))
                accepted = false;
            // A name that could leave the staging or local folder is never listed.
            if (accepted && isFile && !dots && isUsableFileName(name)) {
                if (toLower(name) == "scarica_ok" && ctx.fileType == FileType::Tutti)
                    ctx.controlFileFlag = true;
                else
                    addListingRow(ctx, {name, ctx.rowStamp, "", std::nullopt, false});
            }
        }
        if (start + 1 >= fileInfo.size()) break;  // the next start is at or past the last char
    }
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
