#include "cycle/selection_rules.h"

#include "common/text.h"

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

}  // namespace vs
