#include <map>
#include <utility>

#include "activitylog/activity_log.h"
#include "common/new_file.h"
#include "common/text.h"
#include "cycle/cycle.h"
#include "cycle/listing.h"
#include "cycle/sort_keys.h"
#include "cycle/staged_download.h"
#include "settings/settings.h"

namespace vs {

namespace {

// Whether two answers of the server describe the same version of a file: they differ when
// either value differs, and show the same version only when they give both.
Sameness compareVersions(const RemoteStat& a, const RemoteStat& b) {
    if (a.size && b.size && *a.size != *b.size) return Sameness::Differs;
    if (a.modified && b.modified && *a.modified != *b.modified) return Sameness::Differs;
    if (a.size && b.size && a.modified && b.modified) return Sameness::Same;
    return Sameness::Unknown;
}

}  // namespace

void Cycle::download() {
    CycleState& st = c_.state;
    TransferJob& job = currentJob();
    step_ = 55;
    st.controlFileFlag = false;
    st.listing.reset();
    c_.yield();

    std::string local = trimBlanks(job.DirLocale);
    if (!endsWith(local, "/")) local += "/";
    st.currentRemoteFolder = trimBlanks(job.DirRemota);
    if (!endsWith(st.currentRemoteFolder, "/")) st.currentRemoteFolder += "/";

    step_ = 60;
    st.listing.reset();
    st.totfileok = "0";
    st.totfilenonok = "0";
    notifyChanged();
    line(" Richiedi elenco Download " + std::to_string(st.currentJob) + " " +
         st.currentRemoteFolder + " ---> Tipo File: " + job.TipoFile);
    tally();

    st.List2.clear();
    listedEntries_.clear();
    uncheckedReported_ = false;
    RemoteListing listing;
    bool listed = false;
    // A folder the server will not list is this job's failure alone.
    if (fileStep([&] { listing = session().list(st.currentRemoteFolder); })) {
        listedEntries_ = listedEntries(listing);
        ListingContext ctx{job.codes.fileType,
                           c_.operatorCode,
                           c_.settings.operatorList,
                           st.filters,
                           st.listing,
                           st.controlFileFlag,
                           st.currentRemoteFolder,
                           generalDateTime(c_.clock),
                           [this](const std::string& text) { line(text); }};
        admitListing(listing, listingPolicy_, ctx);
        listed = true;
    }
    line(" Elenco Ottenuto " + st.currentRemoteFolder + " " + std::to_string(st.listing.count()));
    c_.yield();
    if (st.listing.count() == 0) {
        listedStats_.clear();
        if (listed) dropStaleParts();
        return;
    }
    st.totfile = std::to_string(st.listing.count());
    notifyChanged();

    localFolder_ = local;
    describeListedFiles();
    reportUnchanged();
    while (!st.List2.empty() && !stopping()) workQueueItem(local);
}

void Cycle::dropStaleParts() {
    CycleState& st = c_.state;
    TransferJournal* j = journal();
    if (!j) return;
    std::map<std::string, RemoteStat> listed;
    for (std::size_t i = 0; i < st.listing.count(); ++i)
        listed[st.currentRemoteFolder + st.listing[i].name] =
            i < listedStats_.size() ? listedStats_[i] : RemoteStat{};
    fileStep([&] {
        for (const PartialTransfer& part : j->partials(st.currentJob, Direction::Download)) {
            // Kept while its file is listed and not known to be another version (a file that
            // could not be described may still be the same).
            const auto it = listed.find(part.remotePath);
            if (it != listed.end() && (!it->second.size || !it->second.modified ||
                                       (*it->second.size == part.size &&
                                        *it->second.modified == part.modified)))
                continue;
            StagedDownload::removePart(c_.tempFolder, part.partPath);
            j->forgetPartial(part.partPath);
        }
    });
}

void Cycle::describeListedFiles() {
    CycleState& st = c_.state;
    const FileType fileType = currentJob().codes.fileType;
    listedStats_.assign(st.listing.count(), RemoteStat{});
    step_ = 70;
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < st.listing.count(); ++i) {
        step_ = 72;
        paths.push_back(st.currentRemoteFolder + st.listing[i].name);
        step_ = 75;
        session().announce(SessionMoment::Describing, paths.back(), {});
    }
    // All the requests may travel together; each answer is what asking for one file tells. A
    // request that fails as a whole leaves every file undescribed: they all wait.
    std::vector<StatOutcome> outcomes;
    if (!fileStep([&] { outcomes = session().statAll(paths); })) return;
    for (std::size_t i = 0; i < st.listing.count(); ++i) {
        step_ = 75;
        ListingTable::Row& row = st.listing[i];
        const long r = static_cast<long>(i);
        // A file that cannot be described cannot be checked either: it waits.
        if (const auto& refusal = outcomes[i].refusal) {
            fileFailed(refusal->number(), refusal->description());
            continue;
        }
        const RemoteStat& stat = outcomes[i].stat;
        listedStats_[i] = stat;
        // Journal: a version delivered before stays where it is (SoloNuovi_N=SI).
        if (stat.size &&
            leftUnchanged(fileVersion(st.currentJob, Direction::Download, paths[i],
                                      localFolder_ + row.name, *stat.size, stat.modified)))
            continue;
        if (!row.described) {
            const LocalTime t = toLocalTime(stat.modified.value_or(TimePoint{}));
            if (fileType == FileType::PdfReport) {
                step_ = 80;
                row.key = pdfreportKey(row.name, t);
            } else if (fileType == FileType::Automail) {
                step_ = 90;
                row.key = automailKey(row.name, r);
            } else {
                row.key = timestampKey(t);
            }
            row.knownSize = stat.size;
            row.size = stat.size ? std::to_string(*stat.size) : "9999";
        }
        st.List2.add(queueItem(row.key, r, row.name), r);
    }
    notifyChanged();
    // Journal: a download cut off whose file is gone or changed has nothing to go on with.
    dropStaleParts();
}

// The server's answers decide where they give both size and time. Where they lack either (an
// FTP server without MDTM or SIZE), the folder's listing taken again must show the file's line
// as it was before the fetch; a value nobody gives is never taken as unchanged.
Sameness Cycle::stillTheFetchedFile(const std::string& name, const RemoteStat& now,
                                    const RemoteStat& fetched) {
    if (const Sameness told = compareVersions(now, fetched); told != Sameness::Unknown) return told;
    const auto before = listedEntries_.find(name);
    if (before == listedEntries_.end()) return Sameness::Unknown;
    RemoteListing again;
    if (!fileStep([&] { again = session().list(c_.state.currentRemoteFolder); }))
        return Sameness::Unknown;
    const auto entries = listedEntries(again);
    const auto after = entries.find(name);
    if (after == entries.end()) return Sameness::Unknown;
    return compareListed(before->second, after->second);
}

void Cycle::workQueueItem(const std::string& localFolder) {
    CycleState& st = c_.state;
    TransferJob& job = currentJob();
    step_ = 100;
    const WorkList::Item item = st.List2.first();
    const std::size_t r = static_cast<std::size_t>(item.row);
    const ListingTable::Row row = st.listing[r];
    const RemoteStat listed = listedStats_[r];
    const std::string& name = row.name;
    const std::string shown = visible(name);
    const std::string remote = st.currentRemoteFolder + name;
    line(" Downloading file " + shown + " Size: " + row.size + " byte " + visible(item.text));
    c_.session.transferPercentage = 0;

    step_ = 110;
    session().announce(SessionMoment::Fetching, remote, (c_.tempFolder / name).string());
    // A file the server describes only by its listing line (an FTP server without SIZE, the
    // companions of an automail file) is held to the size that line shows. A size nobody told
    // leaves nothing to compare.
    std::optional<std::int64_t> expected = row.knownSize ? row.knownSize : listed.size;
    if (const auto seen = listedEntries_.find(name); !expected && seen != listedEntries_.end())
        expected = seen->second.size;
    TransferEntry entry = fileVersion(st.currentJob, Direction::Download, remote,
                                      localFolder + name, expected.value_or(0), listed.modified);
    // Private to this process and to this file: a second instance or a remote file of another
    // name can never write into it. Journal: a large file is staged where a transfer cut off
    // can go on from, and its bytes are hashed as they arrive.
    std::optional<StagedDownload> staged;
    std::int64_t received = 0;
    RemoteStat fetched;
    bool ok = fileStep([&] {
        try {
            staged.emplace(c_.tempFolder,
                           StagedDownload::Source{st.currentJob, remote, entry.localPath, expected,
                                                  listed.modified},
                           journal());
            entry.resumedFrom = staged->resumedFrom();
            if (entry.resumedFrom > 0)
                line(" Download ripreso da " + std::to_string(entry.resumedFrom) + " byte " +
                     shown);
            const FetchResult result =
                session().fetch(remote, expected, staged->sink(), entry.resumedFrom);
            step_ = 111;
            // The fetch describes the file again as it was after its last byte: no request of
            // its own for that.
            received = entry.resumedFrom + result.received;
            fetched = result.after;
            step_ = 112;
        } catch (const RuntimeError& e) {
            // Journal: the failure on record; a part worth going on from stays for later.
            entry.outcome = TransferOutcome::Failed;
            entry.detail = e.description();
            recordTransfer(entry);
            throw;
        }
    });

    if (!ok) {
        line(" Download incorretto " + shown);
    } else {
        // A fetch returns once the transfer is complete and its events were delivered.
        c_.yield();

        step_ = 120;
        // The copy must hold what the server described before and after the transfer, and
        // the file must not have changed meanwhile (a partner still writing it).
        const bool correct =
            compareVersions(listed, fetched) != Sameness::Differs &&
            (!expected || (received == *expected && (!fetched.size || *fetched.size == *expected)));
        entry.size = received;
        if (!correct) {
            line(" Download incorretto " + shown);
            const std::string why = "Il file " + name + " non corrisponde a quanto elencato (" +
                                    std::to_string(received) + " byte ricevuti)";
            fileFailed(kErrRemote, why);
            entry.outcome = TransferOutcome::Failed;
            entry.detail = why;
            // What was staged belongs to no version worth going on with.
            recordTransfer(entry, staged->partPath());
            staged->finished();
        } else {
            line(" Download corretto " + shown);
            st.totfileok = std::to_string(leadingNumber(st.totfileok).value_or(0) + 1);
            notifyChanged();
            bool kept = false;
            std::string backup = job.DirLocaleBackup;
            if (!backup.empty() && !endsWith(backup, "/")) backup += "/";
            // mantienidata=SI: the copies take the remote file's time.
            const std::optional<TimePoint> time =
                c_.settings.mantieniData ? (fetched.modified ? fetched.modified : listed.modified)
                                         : std::nullopt;
            std::string copyFailure;
            ok = fileStep([&] {
                try {
                    step_ = 125;
                    copyIntoPlace(staged->fd(), localFolder, name, received, time);
                    step_ = 126;
                    if (!backup.empty()) copyIntoPlace(staged->fd(), backup, name, received, time);
                    kept = true;
                } catch (const RuntimeError& e) {
                    copyFailure = e.description();
                    throw;
                }
            });
            // Journal: the row is committed before the remote file may go.
            entry.sha256 = staged->sha256();
            entry.modified = fetched.modified ? fetched.modified : listed.modified;
            entry.outcome = kept ? TransferOutcome::Delivered : TransferOutcome::Failed;
            entry.detail = copyFailure;
            const bool recorded = recordTransfer(entry, staged->partPath());
            step_ = 127;
            staged->finished();
            staged.reset();
            JobTally& t = tally();
            ++t.filesDownloaded;
            t.bytesDownloaded += static_cast<std::uint64_t>(received);

            step_ = 130;
            if (job.codes.deleteAtSource) {
                // The remote file goes only once every copy is safe and on record, and only if
                // it is still the version that was fetched: a new version put there meanwhile
                // stays.
                RemoteStat now;
                if (!kept) {
                    line(" File remoto non cancellato: copia locale non riuscita " + shown);
                } else if (!recorded) {
                    line(" File remoto non cancellato: registro dei trasferimenti non aggiornato " +
                         shown);
                } else if (!fileStep([&] { now = session().stat(remote); })) {
                    line(" File remoto non cancellato " + shown);
                } else if (const Sameness same = stillTheFetchedFile(name, now, fetched);
                           same == Sameness::Differs) {
                    line(" File remoto non cancellato: cambiato dopo il download " + shown);
                    fileFailed(kErrRemote, "Il file " + name + " è cambiato sul server");
                } else if (same == Sameness::Unknown) {
                    // Said once for the job: every file of this folder stays alike.
                    if (!std::exchange(uncheckedReported_, true))
                        fileFailed(kErrRemote,
                                   "File remoti di " + st.currentRemoteFolder +
                                       " non cancellati: il server non ne dà ora e dimensione "
                                       "(MDTM, SIZE) e il suo elenco non mostra che " +
                                       name + " sia ancora il file scaricato");
                } else if (fileStep([&] {
                               step_ = 131;
                               session().remove(remote);
                           })) {
                    step_ = 132;
                    line(" Cancellato file remoto " + shown);
                }
            }
        }
    }

    c_.yield();
    st.List2.removeFirst();
    notifyChanged();
    step_ = 133;
}

}  // namespace vs
