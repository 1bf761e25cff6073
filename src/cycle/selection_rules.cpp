#include "cycle/selection_rules.h"

#include "common/text.h"
#include "cycle/sort_keys.h"

namespace vs {

NameFilters parseNameFilters(const std::string& dirparametri) {
    NameFilters f;
    if (dirparametri.size() <= 7) return f;
    std::string work = dirparametri;
    struct Keyword {
        const char* text;
        std::string NameFilters::*field;
    };
    for (const Keyword& kw :
         {Keyword{"inizia:", &NameFilters::prefix}, Keyword{"contiene:", &NameFilters::contains},
          Keyword{"finisce:", &NameFilters::suffix}}) {
        const size_t k = std::string_view(kw.text).size();
        const size_t p = toLower(work).find(kw.text);  // 0-based position of the keyword
        if (p == std::string::npos) continue;
        if (!endsWith(work, ";")) work += ";";
        // The value runs from just after the keyword to the next ";".
        const size_t semicolon = work.find(';', p + k);
        f.*kw.field = work.substr(p + k, semicolon - (p + k));
    }
    return f;
}

std::string folderPattern(const NameFilters& f, const std::string& allFiles) {
    if (f.empty()) return allFiles;
    std::string pattern;
    if (!f.contains.empty()) pattern = "*" + f.contains + "*";
    if (startsWith(pattern, "*") && !f.prefix.empty())
        pattern = f.prefix + pattern;
    else
        pattern = f.prefix + "*";
    if (endsWith(pattern, "*") && !f.suffix.empty())
        pattern = pattern + f.suffix;
    else
        pattern = "*" + f.suffix;
    return pattern;
}

bool operatorFilter(const std::string& base, const std::string& operatorList) {
    if (operatorList.empty()) return true;
    return contains(operatorList, "||" + base + "||") || base == "SELETTIVO";
}

bool acceptFileType(std::string_view name, bool isFile, FileType fileType,
                    const std::string& operatorCode, const std::string& operatorList) {
    if (!isFile) return false;
    const std::string lower = toLower(name);
    if (fileType == FileType::Tutti) return true;
    if (fileType == FileType::PdfReport) {
        const size_t q = lower.find(".pdf");  // 0-based; the 1-based position must exceed 7
        if (q == std::string::npos || q + 1 <= 7) return false;
        const std::string operatorPart(name.substr(6, q - 6));
        return (operatorPart == operatorCode || operatorCode == "TUTTI") &&
               (endsWith(lower, ".gz") || endsWith(lower, ".pdf"));
    }
    if (fileType == FileType::Automail) {
        const size_t d1 = name.find('.');
        if (d1 == std::string::npos || d1 == 0) return false;
        const size_t d2 = lower.find('.', d1 + 1);
        const std::string base(name.substr(0, d1));
        const bool sixBetween = d2 != std::string::npos && d2 - d1 == 7;
        return operatorFilter(base, operatorList) && sixBetween &&
               (endsWith(lower, ".t") || endsWith(lower, ".h") || endsWith(lower, ".b") ||
                endsWith(lower, ".0") || endsWith(lower, ".1"));
    }
    return false;
}

DotTSelection selectDotTFile(const RemoteEntry& entry, FileType fileType, std::string& operatorCode,
                             const std::string& operatorList) {
    const std::string& name = entry.name;
    const std::string lower = toLower(name);
    size_t d1 = 0, q = 0;  // 1-based positions of the first "." and of ".pdf", 0 when none
    DotTSelection s;
    if (fileType == FileType::PdfReport) {
        const size_t at = lower.find(".pdf");
        q = at == std::string::npos ? 0 : at + 1;
        if (q > 7) {
            const std::string operatorPart = name.substr(6, q - 7);
            s.taken = operatorPart == operatorCode || operatorCode == "TUTTI" ||
                      operatorCode == "SELETTIVO";
        }
    } else if (fileType == FileType::Automail) {
        const size_t at = name.find('.');
        d1 = at == std::string::npos ? 0 : at + 1;
        if (d1 > 1) {
            const size_t next = lower.find('.', d1);
            const size_t d2 = next == std::string::npos ? 0 : next + 1;
            const std::string base = name.substr(0, d1 - 1);
            bool missing = false;
            if (!operatorList.empty()) {
                operatorCode = "SELETTIVO";
                missing = !contains(operatorList, "||" + base + "||");
            }
            s.taken = endsWith(lower, ".t") && d2 >= d1 && d2 - d1 == 7 &&
                      (base == operatorCode || operatorCode == "TUTTI" || !missing);
        }
    } else if (fileType == FileType::Tutti) {
        s.taken = entry.kind != RemoteEntry::Kind::Folder;
    }
    if (!s.taken) return s;

    // The time of day the listing gave, as "_hhmm01".
    std::string stamp = "_";
    if (entry.modified)
        stamp += zeroPad(entry.modified->hour, 2) + zeroPad(entry.modified->minute, 2);
    stamp += "01";
    const std::string afterDot = name.substr(d1);  // the whole name where there is no "."
    s.companionKey = fixedWidthKey(afterDot + stamp);
    if (fileType == FileType::Tutti)
        s.key = "00000001" + stamp;
    else if (d1 != 0)
        s.key = afterDot + stamp;
    else  // three characters, from past ".pdf" and the one character after it
        s.key = (q + 4 < name.size() ? name.substr(q + 4, 3) : "") + "00000" + stamp;
    s.key = fixedWidthKey(s.key);
    return s;
}

}  // namespace vs
