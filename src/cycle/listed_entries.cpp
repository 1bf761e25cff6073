#include "cycle/listed_entries.h"

#include <sstream>
#include <vector>

#include "common/text.h"
#include "cycle/listing.h"

namespace vs {

namespace {

// The fields of one line: split at every single blank in the fields layout (as its reader
// does), at runs of blanks in the long format.
std::vector<std::string> fieldsOf(const std::string& line, RemoteListing::Layout layout) {
    std::vector<std::string> fields;
    if (layout == RemoteListing::Layout::Fields) {
        for (std::size_t start = 0;;) {
            const std::size_t blank = line.find(' ', start);
            fields.push_back(line.substr(start, blank - start));
            if (blank == std::string::npos) break;
            start = blank + 1;
        }
    } else {
        std::istringstream words(line);
        for (std::string word; fields.size() < 8 && words >> word;) fields.push_back(word);
        fields.push_back(listingLineName(line));
    }
    return fields;
}

}  // namespace

std::optional<std::int64_t> ListedEntry::bytes() const {
    return parseInteger(size);
}

std::map<std::string, ListedEntry> listedEntries(const RemoteListing& listing) {
    std::string text;
    for (const std::string& part : listing.parts) text += part;
    std::map<std::string, ListedEntry> entries;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        const std::vector<std::string> f =
            fieldsOf(text.substr(start, end - start), listing.layout);
        start = end + 2;
        if (f.size() < 9) continue;
        std::string name = trimBlanks(f[8]);
        if (listing.layout == RemoteListing::Layout::LongFormat && endsWith(name, "/"))
            name.pop_back();
        entries[name] = {f[4], f[5] + " " + f[6] + " " + f[7]};
    }
    return entries;
}

}  // namespace vs
