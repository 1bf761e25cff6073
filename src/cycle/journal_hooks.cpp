#include "common/runtime_error.h"
#include "cycle/cycle.h"
#include "settings/settings.h"

namespace vs {

bool Cycle::leftUnchanged(const TransferEntry& version) {
    TransferJournal* j = journal();
    if (!c_.settings.soloNuovi[version.job] || !j || !version.modified) return false;
    const std::string& path =
        version.direction == Direction::Download ? version.remotePath : version.localPath;
    try {
        const TransferJournal::Known known =
            j->known(version.job, version.direction, path, version.size, *version.modified);
        if (known == TransferJournal::Known::New) return false;
        // Once per version: a file left alone for a year is not a row per cycle.
        if (known == TransferJournal::Known::Delivered) {
            TransferEntry entry = version;
            entry.outcome = TransferOutcome::Unchanged;
            j->record(entry);
        }
    } catch (const RuntimeError& e) {
        // In doubt the file moves again: a second copy is better than none.
        fileFailed(e.number(), e.description());
        return false;
    }
    ++unchanged_;
    return true;
}

void Cycle::reportUnchanged() {
    if (unchanged_ > 0)
        line(" File invariati, non trasferiti: " + std::to_string(unchanged_) + " (job " +
             std::to_string(c_.state.currentJob) + ")");
    unchanged_ = 0;
}

bool Cycle::recordTransfer(const TransferEntry& entry, const std::string& finishedPart) {
    TransferJournal* j = journal();
    if (!j) return false;
    try {
        j->record(entry, finishedPart);
        return true;
    } catch (const RuntimeError& e) {
        fileFailed(e.number(), e.description());
        return false;
    }
}

}  // namespace vs
