#include "common/temporary_name.h"
#include "common/text.h"
#include "cycle/cycle.h"
#include "cycle/listing.h"
#include "settings/settings.h"

namespace vs {

namespace {

// The regular files of a listing, by name, in either layout.
std::vector<std::string> fileNames(const RemoteListing& listing) {
    std::vector<std::string> names;
    for (const std::string& part : listing.parts)
        for (std::string_view view : splitLines(part)) {
            std::string line(view);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty() || line[0] != '-') continue;
            if (listing.layout == RemoteListing::Layout::LongFormat) {
                names.push_back(listingLineName(line));
                continue;
            }
            std::size_t start = 0;  // the name is the ninth field, blanks and all
            for (int field = 0; field < 8 && start != std::string::npos; ++field) {
                const std::size_t blank = line.find(' ', start);
                start = blank == std::string::npos ? blank : blank + 1;
            }
            if (start != std::string::npos) names.push_back(line.substr(start));
        }
    return names;
}

}  // namespace

void Cycle::removeStaleRemoteTemporaries(const std::string& folder) {
    // Once per folder and run: a run's own temporaries are never stale, and a run cut off by a
    // kill or a power cut left its last one behind. Only absolute folders: an FTP listing
    // changes the working folder, which would move a relative folder's uploads elsewhere.
    if (!c_.settings.uploadTemp || !folder.starts_with("/") || swept_.contains(folder)) return;
    RemoteListing listing;
    try {
        listing = session().list(folder);
    } catch (const RuntimeError& e) {
        if (e.number() == kErrConnection) throw;
        line(" Impossibile cercare file temporanei rimasti in " + visible(folder) + ": " +
             visible(e.description()));
    }
    swept_.insert(folder);
    for (const std::string& name : fileNames(listing)) {
        if (!isStaleTemporary(name)) continue;
        const std::string path = folder + name;
        try {
            session().remove(path);
            line(" Rimosso dal server il file temporaneo di un'esecuzione interrotta " +
                 visible(path));
        } catch (const RuntimeError& e) {
            if (e.number() == kErrConnection) throw;
            line(" Impossibile rimuovere dal server il file temporaneo " + visible(path) + ": " +
                 visible(e.description()));
        }
    }
}

}  // namespace vs
