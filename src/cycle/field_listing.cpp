#include <vector>

#include "common/file_name.h"
#include "common/text.h"
#include "cycle/listing.h"

namespace vs {

namespace {

constexpr std::size_t kRowLimit = 200;
constexpr const char* kUnknownSize = "9999";

std::vector<std::string> split(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t at = text.find(separator, start);
        parts.push_back(
            text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) break;
        start = at + separator.size();
    }
    return parts;
}

// Mid$ with a 1-based start and an optional length.
std::string mid(const std::string& s, size_t start1, size_t length = std::string::npos) {
    if (start1 < 1 || start1 > s.size()) return {};
    return s.substr(start1 - 1, length);
}

bool isDots(const std::string& name) {
    return name == "." || name == "..";
}

// Keys are cut or padded to 15 characters so that the row number of a queue item keeps its
// place whatever the name looks like.
std::string width15(std::string key) {
    key.resize(15, ' ');
    return key;
}

}  // namespace

void listftpprova(const std::string& listing, ListingContext& ctx) {
    const std::vector<std::string> lines =
        listing.empty() ? std::vector<std::string>{} : split(listing, "\r\n");
    const FileType type = ctx.fileType;
    std::string typeText, sizeText, timeText;  // keep their values over short lines
    const auto addRow = [&](const std::string& name, const std::string& key,
                            const std::string& size) {
        std::optional<std::int64_t> known;
        if (size != kUnknownSize) known = parseInteger(size);
        addListingRow(ctx, {name, width15(key), size, known, true});
    };

    for (const std::string& text : lines) {
        const std::vector<std::string> fields = split(text, " ");
        typeText = fields[0];
        if (fields.size() > 4) sizeText = fields[4];
        if (fields.size() > 7) timeText = fields[7];
        const std::string name = fields.size() > 8 ? trimBlanks(fields[8]) : std::string();
        if (ctx.log) ctx.log(" " + visible(name));

        const std::string lower = toLower(name);
        const std::string stamp = "_" + mid(timeText, 1, 2) + mid(timeText, 4, 2) + "01";
        size_t d1 = 0, q = 0;  // 1-based positions, 0 when not computed or absent
        bool selected = false;
        if (type == FileType::PdfReport) {
            const size_t at = lower.find(".pdf");
            q = at == std::string::npos ? 0 : at + 1;
            if (q > 7) {
                const std::string part = mid(name, 7, q - 7);
                selected = part == ctx.operatorCode || ctx.operatorCode == "TUTTI" ||
                           ctx.operatorCode == "SELETTIVO";
            }
        } else if (type == FileType::Automail) {
            const size_t at = name.find('.');
            d1 = at == std::string::npos ? 0 : at + 1;
            if (d1 > 1) {
                const size_t next = lower.find('.', d1);
                const size_t d2 = next == std::string::npos ? 0 : next + 1;
                const std::string base = name.substr(0, d1 - 1);
                bool missing = false;
                if (!ctx.operatorList.empty()) {
                    ctx.operatorCode = "SELETTIVO";
                    missing = !contains(ctx.operatorList, "||" + base + "||");
                }
                selected = endsWith(lower, ".t") && d2 >= d1 && d2 - d1 == 7 &&
                           (base == ctx.operatorCode || ctx.operatorCode == "TUTTI" || !missing);
            }
        } else if (type == FileType::Tutti) {
            selected = !name.empty() && !isDots(name) &&
                       !(typeText.size() > 0 && (typeText[0] == 'd' || typeText[0] == 'D'));
        }

        bool wroteMain = false;
        if (selected && !isDots(name) && isUsableFileName(name)) {
            const std::string afterDot = mid(name, d1 + 1);
            if (endsWith(lower, ".t")) {
                for (const char* letter : {"H", "0", "B"})
                    addRow(name.substr(0, name.size() - 1) + letter, afterDot + stamp,
                           kUnknownSize);
            }
            std::string key;
            if (type == FileType::Tutti)
                key = "00000001" + stamp;
            else if (d1 != 0)
                key = afterDot + stamp;
            else
                key = mid(name, q + 5, 3) + "00000" + stamp;
            addRow(name, key, sizeText);
            wroteMain = true;
        }
        if (type == FileType::Tutti && wroteMain) continue;
        if (ctx.table.count() == kRowLimit) {
            if (ctx.log) ctx.log(" Listftpprova  Scarico i primi 50");
            break;
        }
    }
    if (ctx.log) ctx.log(" Listftpprova  Elenco Ottenuto ");
}

}  // namespace vs
