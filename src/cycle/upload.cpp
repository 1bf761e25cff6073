#include <filesystem>
#include <system_error>

#include "activitylog/activity_log.h"
#include "common/local_folder.h"
#include "common/text.h"
#include "common/wildcard.h"
#include "cycle/cycle.h"
#include "localfiles/upload_listing.h"
#include "settings/settings.h"

namespace vs {

namespace fs = std::filesystem;

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
    bool any = false;
    for (const LocalFile& f : ordinaryFiles(job.DirLocale))
        if (wildcardMatch(pattern, f.name)) any = true;
    if (!any) return;

    step_ = 136;
    line(" Richiedi elenco Upload " + std::to_string(st.currentJob) + " " + job.DirLocale);
    UploadListingContext listing{st.filters, job.Dirparametri, st.List2,
                                 [this](const std::string& text) { c_.log.scrivi_log(text); },
                                 [this] { return timeOfDay(c_.clock); }};
    listacontenutoupload(job.DirLocale, listing);
    notifyChanged();
    if (st.List2.count() >= 1)
        line(" Ci sono " + std::to_string(st.List2.count()) + " File da inviare in " +
             job.DirLocale);
    else
        line(" Nessun file da inviare in " + job.DirLocale);

    while (!st.List2.empty()) {
        const std::string f = st.List2.first().text;
        const std::string shown = visible(f);
        if (!endsWith(job.DirRemota, "/")) job.DirRemota += "/";
        const bool sftp = sftpSession();
        if (sftp) {
            step_ = 139;
            c_.session.transferPercentage = 0;
            line(" Devo inviare il file " + job.DirRemota + shown);
            step_ = 140;
            c_.sftp.Sftp1().send(job.DirLocale + f, job.DirRemota + f);
            step_ = 141;
        } else {
            c_.session.transferPercentage = 0;
            c_.ftp.kftp().send(job.DirLocale + f, job.DirRemota + f);
        }
        if (c_.session.transferPercentage == 100) {
            line(" Inviato il file " + job.DirRemota + shown);
            backupSentFile(job, f, sftp);
            if (job.CancelloFile == "SI") {
                std::error_code ec;
                if (!fs::remove(job.DirLocale + f, ec) && ec)
                    throw localFileError(ec.value(), "Cancellazione di " + job.DirLocale + f);
            }
            step_ = 146;
        } else {
            line(" Impossibile inviare il file " + job.DirRemota + shown);
        }
        step_ = 147;
        st.List2.removeFirst();
        notifyChanged();
        step_ = 148;
    }
}

void Cycle::backupSentFile(TransferJob& job, const std::string& name, bool sftp) {
    step_ = 142;
    if (job.DirLocaleBackup.empty()) return;
    step_ = 143;
    if (!endsWith(job.DirLocaleBackup, "/")) job.DirLocaleBackup += "/";
    step_ = 144;
    std::error_code ec;
    fs::copy_file(job.DirLocale + name, job.DirLocaleBackup + name,
                  fs::copy_options::overwrite_existing, ec);
    step_ = 145;
    if (ec)
        line(" Backup non riuscito del file " + job.DirLocale + visible(name) + " in " +
             job.DirLocaleBackup + ": " + ec.message());
    else if (sftp)
        line(" Backup file " + job.DirRemota + visible(name));
}

}  // namespace vs
