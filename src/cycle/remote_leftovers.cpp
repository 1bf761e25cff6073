#include "common/temporary_name.h"
#include "common/text.h"
#include "cycle/cycle.h"
#include "settings/settings.h"

namespace vs {


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
    // Temporaries of uploads cut off that the journal keeps for a later cycle to go on into.
    std::set<std::string> kept;
    if (TransferJournal* j = journal()) {
        if (!fileStep([&] {
                const std::vector<std::string> parts = j->partPaths(Direction::Upload);
                kept.insert(parts.begin(), parts.end());
            }))
            return;  // without the journal's word, nothing that may be on record goes
    }
    for (const RemoteEntry& entry : listing.entries) {
        if (entry.kind != RemoteEntry::Kind::File || !isStaleTemporary(entry.name)) continue;
        const std::string path = folder + entry.name;
        if (kept.contains(path)) continue;
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
