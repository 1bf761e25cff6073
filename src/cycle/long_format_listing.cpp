#include "common/file_name.h"
#include "common/text.h"
#include "cycle/listing.h"
#include "cycle/selection_rules.h"

namespace vs {

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

}  // namespace vs
