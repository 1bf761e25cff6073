#include "cycle/dry_run.h"

#include <vector>

#include "activitylog/activity_log.h"
#include "common/listing_table.h"
#include "common/local_folder.h"
#include "common/text.h"
#include "common/wildcard.h"
#include "common/work_list.h"
#include "cycle/listing.h"
#include "cycle/selection_rules.h"
#include "localfiles/upload_listing.h"
#include "settings/settings.h"

namespace vs {

namespace {

constexpr std::size_t kNamesShown = 10;

std::string names(const std::vector<std::string>& all) {
    std::string text;
    for (std::size_t i = 0; i < all.size() && i < kNamesShown; ++i)
        text += (i == 0 ? ": " : ", ") + visible(all[i]);
    if (all.size() > kNamesShown) text += " e altri " + std::to_string(all.size() - kNamesShown);
    return text;
}

std::string withSlash(std::string folder) {
    if (!endsWith(folder, "/")) folder += "/";
    return folder;
}

// What an upload job would send now: the upload's own rules, from its first look at the
// folder (a file matching the folder pattern, or nothing is listed at all) to the ordered list.
std::vector<std::string> filesToSend(const TransferJob& job, const DryRunContext& c) {
    NameFilters filters = parseNameFilters(job.Dirparametri);
    std::string pattern = folderPattern(filters, "*.*");
    if (contains(toUpper(job.Dirparametri), "VALSPED")) {
        pattern = "*.T";
        filters.suffix = ".T";
    }
    const std::string local = withSlash(job.DirLocale);
    bool any = false;
    for (const LocalFile& f : ordinaryFiles(local)) any = any || wildcardMatch(pattern, f.name);
    if (!any) return {};
    WorkList list;
    UploadListingContext listing{filters, job.Dirparametri, list,
                                 [&c](const std::string& text) { c.log.scrivi_log(text); },
                                 [&c] { return timeOfDay(c.clock); }};
    listacontenutoupload(local, listing);
    return list.items();
}

}  // namespace

bool dryRun(DryRunContext c) {
    const auto line = [&c](const std::string& text) {
        c.log.scrivi_log(timeOfDay(c.clock) + text);
    };
    try {
        c.remote.connect();
    } catch (const RuntimeError&) {
        return false;  // the session has said why
    }
    bool ok = true;
    for (int n : c.settings.usableJobs) {
        const TransferJob& job = c.settings.jobTable[n];
        const std::string head = " Prova job " + std::to_string(n) + ": ";
        const bool download = job.codes.operation == Operation::Download;
        const std::string remote = withSlash(download ? trimBlanks(job.DirRemota) : job.DirRemota);
        try {
            if (!folderExists(job.DirLocale))
                throw RuntimeError(kErrBadFileName,
                                   "la cartella locale " + job.DirLocale + " non esiste");
            const RemoteListing listed = c.remote.list(remote);
            if (download) {
                ListingTable table;
                bool controlFile = false;
                const NameFilters filters = parseNameFilters(job.Dirparametri);
                ListingContext ctx{
                    job.codes.fileType, c.operatorCode, c.settings.operatorList,  filters, table,
                    controlFile,        remote,         generalDateTime(c.clock), line};
                admitListing(listed, c.listing, ctx);
                // In name order: the cycle's own order needs every file's attributes.
                WorkList byName;
                for (std::size_t i = 0; i < table.count(); ++i) byName.add(table[i].name);
                const std::vector<std::string> found = byName.items();
                line(head + std::to_string(found.size()) + " file da scaricare da " +
                     visible(remote) + names(found) +
                     (job.codes.deleteAtSource && !found.empty() ? " (poi cancellati dal server)"
                                                                 : ""));
            } else {
                const std::vector<std::string> found = filesToSend(job, c);
                line(head + std::to_string(found.size()) + " file da inviare in " +
                     visible(remote) + names(found) +
                     (job.codes.deleteAtSource && !found.empty()
                          ? " (poi cancellati da " + visible(job.DirLocale) + ")"
                          : ""));
            }
        } catch (const RuntimeError& e) {
            ok = false;
            line(head + "prova non riuscita: " + visible(e.description()));
            if (e.number() == kErrConnection) break;
        } catch (const std::exception& e) {
            ok = false;
            line(head + "prova non riuscita: " + visible(e.what()));
        }
    }
    c.remote.close();
    line(" Prova finita: nulla e' stato trasferito o cancellato");
    return ok;
}

}  // namespace vs
