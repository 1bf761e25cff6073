#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <optional>

#include "activitylog/activity_log.h"
#include "common/local_folder.h"
#include "common/new_file.h"
#include "common/sha256.h"
#include "common/source_file.h"
#include "common/temporary_name.h"
#include "common/text.h"
#include "common/wildcard.h"
#include "cycle/cycle.h"
#include "localfiles/upload_listing.h"
#include "settings/settings.h"

namespace vs {

void Cycle::upload() {
    CycleState& st = c_.state;
    TransferJob& job = currentJob();
    step_ = 134;
    if (!endsWith(job.DirLocale, "/")) job.DirLocale += "/";
    std::string pattern = folderPattern(st.filters, "*.*");
    step_ = 135;
    if (contains(toUpper(job.Dirparametri), "VALSPED")) {
        pattern = "*.T";
        st.filters.suffix = ".T";
    }
    removeStaleRemoteTemporaries(endsWith(job.DirRemota, "/") ? job.DirRemota
                                                              : job.DirRemota + "/");
    bool any = false;
    for (const LocalFile& f : ordinaryFiles(job.DirLocale))
        if (wildcardMatch(pattern, f.name)) any = true;
    if (!any) return;

    step_ = 136;
    line(" Richiedi elenco Upload " + std::to_string(st.currentJob) + " " + job.DirLocale);
    tally();
    UploadListingContext listing{st.filters, job.Dirparametri, st.List2,
                                 [this](const std::string& text) { c_.log.scrivi_log(text); },
                                 [this] { return timeOfDay(c_.clock); }};
    listacontenutoupload(job.DirLocale, listing);
    notifyChanged();
    if (c_.settings.settleSeconds > 0)
        settle_.look(job.DirLocale, st.List2.items(), c_.clock.now());
    if (st.List2.count() >= 1)
        line(" Ci sono " + std::to_string(st.List2.count()) + " File da inviare in " +
             job.DirLocale);
    else
        line(" Nessun file da inviare in " + job.DirLocale);

    while (!st.List2.empty() && !stopping()) {
        const std::string f = st.List2.first().text;
        if (!endsWith(job.DirRemota, "/")) job.DirRemota += "/";
        step_ = 139;
        sendFile(job, f);
        step_ = 147;
        st.List2.removeFirst();
        notifyChanged();
        step_ = 148;
    }
    reportUnchanged();
}

void Cycle::keepRemoteTime(const std::string& path, TimePoint modified) {
    bool set = true;
    fileStep([&] { set = session().setModified(path, modified); });
    if (!set && !timesUnsupportedSaid_) {
        timesUnsupportedSaid_ = true;
        line(" Il server non permette di impostare la data dei file: mantienidata non applicato");
    }
}

void Cycle::sendFile(TransferJob& job, const std::string& name) {
    const std::string local = job.DirLocale + name;
    const std::string remote = job.DirRemota + name;
    const std::string shownRemote = job.DirRemota + visible(name);
    c_.session.transferPercentage = 0;

    // Opened once, never through a link; everything below works on this open file.
    std::optional<SourceFile> source;
    if (!fileStep([&] { source.emplace(local); })) {
        line(" Impossibile inviare il file " + shownRemote);
        return;
    }
    int reason = 0;
    const SourceFile::Writers writers = source->writers(&reason);
    if (writers == SourceFile::Writers::Some) {
        line(" File ancora in scrittura, sarà inviato al prossimo ciclo: " + visible(local));
        return;
    }
    if (writers == SourceFile::Writers::Unknown && !settled(*source, reason)) return;

    const FileIdentity& identity = source->identity();
    const TimePoint modified =
        TimePoint{} + std::chrono::duration_cast<TimePoint::duration>(
                          std::chrono::seconds(identity.modifiedSeconds) +
                          std::chrono::nanoseconds(identity.modifiedNanoseconds));
    TransferEntry entry = fileVersion(c_.state.currentJob, Direction::Upload, remote, local,
                                      source->size(), modified);
    // Journal: a version delivered before stays where it is (SoloNuovi_N=SI).
    if (leftUnchanged(entry)) return;

    session().announce(SessionMoment::Sending, remote, local);
    step_ = 140;
    // With uploadtemp the partner never sees the file under its name before it is whole.
    // Journal: the bytes are hashed as they are read for sending; a large file goes into a
    // hidden temporary a later cycle can resume.
    HashingSource hashed(*source);
    SendPlan plan;
    const std::string target =
        c_.settings.uploadTemp ? uploadTarget(job, entry, *source, hashed, plan) : remote;
    const std::string part = plan.keepPartial ? target : "";
    std::string failure;
    const auto failing = [&](const std::function<void()>& step) {
        return [&, step] {
            try {
                step();
            } catch (const RuntimeError& e) {
                failure = e.description();
                throw;
            }
        };
    };
    RemoteStat held;
    bool sent = fileStep(failing([&] {
        try {
            held = session().send(hashed, target, plan);
        } catch (const RuntimeError& e) {
            entry.outcome = TransferOutcome::Failed;
            entry.detail = e.description();
            recordTransfer(entry);
            // A part on record waits for the next cycle; any other is removed at the end.
            if (e.number() == kErrConnection && part.empty()) partialUploads_.push_back(target);
            throw;
        }
    }));
    // A server that acknowledged more than it kept (a full quota, a broken server): what it
    // holds is no copy of the file and must not pass for one.
    if (sent && held.size && *held.size != source->size()) {
        const bool removed = fileStep([&] { session().remove(target); });
        const std::string why = "Il server tiene " + std::to_string(*held.size) + " byte dei " +
                                std::to_string(source->size()) + " inviati di " + visible(target) +
                                (removed ? ": tolto dal server, " : ": ") + visible(local) +
                                " non cancellato";
        fileFailed(kErrRemote, why);
        // Journal: no temporary worth going on with either.
        entry.outcome = TransferOutcome::Failed;
        entry.detail = why;
        recordTransfer(entry, part);
        return;
    }
    // mantienidata=SI: the time goes on before the name, so the partner never sees another.
    if (sent && c_.settings.mantieniData) keepRemoteTime(target, modified);
    if (sent && target != remote &&
        !(sent = fileStep(failing([&] { session().rename(target, remote); }))))
        fileStep([&] { session().remove(target); });
    step_ = 141;
    if (!sent) {
        line(" Impossibile inviare il file " + shownRemote);
        if (entry.outcome != TransferOutcome::Failed) {
            // The rename failed: the temporary is gone, and so is the partial transfer.
            entry.outcome = TransferOutcome::Failed;
            entry.detail = failure;
            recordTransfer(entry, part);
        }
        return;
    }
    entry.sha256 = hashed.hex();
    switch (source->change()) {
        case SourceFile::Change::Modified:
            // What arrived may be a mix of two versions: it must not pass for the file.
            fileStep([&] { session().remove(remote); });
            line(" File cambiato durante l'invio, sarà inviato di nuovo: " + visible(local));
            fileFailed(kErrGeneric, "Il file " + local + " è cambiato durante l'invio");
            entry.outcome = TransferOutcome::Failed;
            entry.detail = "Il file " + local + " è cambiato durante l'invio";
            entry.sha256.clear();
            recordTransfer(entry, part);
            return;
        case SourceFile::Change::Replaced:
            // What arrived is whole; the new file in its place (if any) goes next time.
            line(" Inviato il file " + shownRemote);
            recordTransfer(entry, part);
            line(" File sostituito durante l'invio, non salvato né cancellato: " + visible(local));
            return;
        case SourceFile::Change::None:
            break;
    }
    line(" Inviato il file " + shownRemote);
    // Journal: the row is committed before the local file may go.
    const bool recorded = recordTransfer(entry, part);
    JobTally& t = tally();
    ++t.filesUploaded;
    t.bytesUploaded += static_cast<std::uint64_t>(source->size());

    step_ = 142;
    if (!backUpSentFile(job, name, *source)) return;
    if (job.codes.deleteAtSource) {
        if (source->change() != SourceFile::Change::None) {
            line(" File cambiato dopo l'invio, non cancellato: " + visible(local));
        } else if (!recorded) {
            line(" File locale non cancellato: registro dei trasferimenti non aggiornato " +
                 visible(local));
        } else if (!held.size && !c_.settings.deleteUnverified[c_.state.currentJob]) {
            // The server cannot tell what it holds (FTP without SIZE): the file goes again next
            // time rather than be lost, unless the job accepts deleting without that check.
            const std::string key = "CancellaSenzaVerifica_" + std::to_string(c_.state.currentJob);
            fileFailed(kErrRemote, "Il server non dice quanti byte tiene di " + shownRemote +
                                       " (manca SIZE): " + visible(local) + " non cancellato; " +
                                       key + "=SI per cancellare senza verifica");
        } else {
            fileStep([&] {
                // Gone already is what was wanted (a second instance sent it too).
                if (::unlink(local.c_str()) != 0 && errno != ENOENT)
                    throw localFileError(errno, "Cancellazione di " + visible(local));
            });
        }
    }
    step_ = 146;
}

bool Cycle::backUpSentFile(TransferJob& job, const std::string& name, const SourceFile& source) {
    if (job.DirLocaleBackup.empty()) return true;
    step_ = 143;
    if (!endsWith(job.DirLocaleBackup, "/")) job.DirLocaleBackup += "/";
    step_ = 144;
    // No verified backup, no deletion: the sent file stays where it is.
    if (!fileStep([&] { copyIntoPlace(source.fd(), job.DirLocaleBackup, name, source.size()); }))
        return false;
    step_ = 145;
    session().announce(SessionMoment::BackedUp, job.DirRemota + name, job.DirLocaleBackup + name);
    return true;
}

}  // namespace vs
