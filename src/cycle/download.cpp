#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <system_error>

#include "activitylog/activity_log.h"
#include "common/local_folder.h"
#include "common/text.h"
#include "cycle/cycle.h"
#include "cycle/sftp_listing.h"
#include "cycle/sort_keys.h"
#include "settings/settings.h"

namespace vs {

namespace fs = std::filesystem;

namespace {

constexpr auto kFetchPause = std::chrono::milliseconds(100);
constexpr int kTransferWaitSeconds = 60;
constexpr std::size_t kAutomailCap = 200;

// Copies into place through a temporary name, so that a full disk or a crash never leaves a
// file that looks complete; an existing file is replaced.
void copyReplacing(const fs::path& from, const fs::path& to) {
    const fs::path part = to.string() + ".vs-part";
    std::error_code ec;
    fs::copy_file(from, part, fs::copy_options::overwrite_existing, ec);
    if (!ec) fs::rename(part, to, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(part, ignored);
        throw localFileError(ec.value(), "Copia di " + from.string() + " in " + to.string());
    }
}

std::int64_t fileSize(const fs::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

}  // namespace

void Cycle::download() {
    CycleState& st = c_.state;
    TransferJob& job = currentJob();
    step_ = 55;
    st.controlFileFlag = false;
    st.listing.reset();
    st.currentFileType = job.TipoFile;
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

    const bool ftp = !sftpSession();
    listRemoteFolder(ftp);
    line(" Elenco Ottenuto " + st.currentRemoteFolder + " " + std::to_string(st.listing.count()));
    c_.yield();
    if (st.listing.count() == 0) return;
    st.totfile = std::to_string(st.listing.count());
    notifyChanged();

    queueListedFiles(ftp);
    while (!st.List2.empty()) workQueueItem(ftp, local);
}

void Cycle::listRemoteFolder(bool ftp) {
    CycleState& st = c_.state;
    if (ftp) {
        st.List2.clear();
        st.listing.reset();
        FtpListingContext ctx{st.listing, st.List2, st.currentFileType, c_.operatorCode,
                              c_.settings.operatorList};
        c_.ftp.listftpprova(st.currentRemoteFolder, ctx);
        return;
    }
    st.listing.reset();
    st.List2.clear();
    SftpListingContext ctx{st.currentFileType,
                           c_.operatorCode,
                           c_.settings.operatorList,
                           st.filters,
                           st.listing,
                           st.controlFileFlag,
                           generalDateTime(c_.clock),
                           false,
                           [this](const std::string& text) { line(text); }};
    struct HandlerReset {
        SftpSession& s;
        ~HandlerReset() { s.setListItemsHandler(nullptr); }
    } reset{c_.sftp};
    c_.sftp.setListItemsHandler([&ctx](const std::string& info) { sftp1_ListItems(info, ctx); });
    c_.sftp.Sftp1().listFolder(st.currentRemoteFolder);
    finishSftpListing(ctx);
    if (st.currentFileType == "AUTOMAIL" && st.listing.count() != 0)
        SelectionSort(st.listing, static_cast<long>(st.listing.count()) - 1);
    // Only the first 200 names are handled this cycle; the rest stay for a later one.
    if (currentJob().TipoFile == "AUTOMAIL" && st.listing.count() > kAutomailCap)
        st.listing.truncate(kAutomailCap);
}

void Cycle::queueListedFiles(bool ftp) {
    CycleState& st = c_.state;
    const std::string& fileType = currentJob().TipoFile;
    step_ = 70;
    for (std::size_t i = 0; i < st.listing.count(); ++i) {
        step_ = 72;
        ListingTable::Row& row = st.listing[i];
        const std::string remote = st.currentRemoteFolder + row.name;
        const long r = static_cast<long>(i);
        if (ftp) {
            c_.ftp.kftp().querySize(c_.session.ftpFileSize, remote);
            st.List2.add(queueItem(row.key, r, row.name), r);
            continue;
        }
        step_ = 75;
        line(" Sftp1.GetAttributes " + visible(remote));
        c_.sftp.Sftp1().getAttributes(remote);
        const LocalTime t = toLocalTime(c_.session.remoteFileTime);
        if (fileType == "PDFREPORT") {
            step_ = 80;
            row.key = pdfreportKey(row.name, t);
        } else if (fileType == "AUTOMAIL") {
            step_ = 90;
            row.key = automailKey(row.name, r);
        } else {
            row.key = timestampKey(t);
        }
        row.size = std::to_string(c_.session.remoteFileSize + c_.session.ftpFileSize);
        st.List2.add(queueItem(row.key, r, row.name), r);
    }
    notifyChanged();
}

void Cycle::workQueueItem(bool ftp, const std::string& localFolder) {
    CycleState& st = c_.state;
    SessionState& ss = c_.session;
    TransferJob& job = currentJob();
    step_ = 100;
    const WorkList::Item item = st.List2.first();
    const ListingTable::Row row = st.listing[static_cast<std::size_t>(item.row)];
    const std::string name = row.name;
    const std::string shown = visible(name);
    const std::string staged = (c_.tempFolder / name).string();
    const std::string remote = st.currentRemoteFolder + name;
    line(" Downloading file " + shown + " Size: " + row.size + " byte " + visible(item.text));
    ss.transferPercentage = 0;

    bool result = true;
    bool fetchRefused = false;
    if (!ftp) {
        step_ = 110;
        if (c_.pause) c_.pause(kFetchPause);
        line(" Downloading file " + visible(staged) + " " + visible(remote));
        c_.sftp.Sftp1().fetch(staged, remote);
        step_ = 111;
        c_.sftp.Sftp1().getAttributes(remote);
        result = true;
        step_ = 112;
    } else {
        FtpControl& kftp = c_.ftp.kftp();
        kftp.setTransferMode(true);
        try {
            result = kftp.fetch(remote, staged);
        } catch (const RuntimeError&) {
            result = false;
        }
        if (!result) {
            line(" Download incorretto " + shown);
            fetchRefused = true;
        } else {
            try {
                result = kftp.querySize(ss.ftpFileSize, remote, false);
            } catch (const RuntimeError&) {
                result = false;
            }
        }
    }

    if (!fetchRefused) {
        // Waits for the progress handler to report the transfer complete.
        const TimePoint t0 = c_.clock.now();
        bool waiting = true;
        while (std::abs(
                   std::chrono::duration_cast<std::chrono::seconds>(c_.clock.now() - t0).count()) <
                   kTransferWaitSeconds &&
               waiting && result) {
            c_.yield();
            if (ss.transferPercentage == 100) waiting = false;
            if (ss.ftpFileSize == 0) waiting = false;
        }

        step_ = 120;
        const std::int64_t reported = ss.remoteFileSize + ss.ftpFileSize;
        const bool unknownSize = row.size == "9999";
        const std::int64_t listed = leadingNumber(row.size).value_or(0);
        // The staged copy must hold what was listed, too: a short file is never passed on.
        const std::int64_t stagedSize = fileSize(staged);
        const bool correct =
            unknownSize || (listed == reported && (stagedSize < 0 || stagedSize == listed));
        if (!correct) {
            line(" Download incorretto " + shown);
        } else {
            line(" Download corretto " + shown);
            st.totfileok = std::to_string(leadingNumber(st.totfileok).value_or(0) + 1);
            notifyChanged();
            bool copied = false;
            if (stagedSize >= 0) {
                copyStagedFile(staged, localFolder, name);
                copied = true;
            }
            step_ = 130;
            if (job.CancelloFile == "SI") {
                if (!copied) {
                    // Without a local copy the remote file is the only one left: it stays.
                    line(" File remoto non cancellato (copia locale mancante) " + shown);
                } else if (!ftp) {
                    step_ = 131;
                    c_.sftp.Sftp1().remove(remote);
                    step_ = 132;
                    line(" Cancellato file remoto " + shown);
                } else if (c_.ftp.kftp().remove(remote)) {
                    line(" Cancellato file remoto " + shown);
                } else {
                    line(" Impossibile cancellare il file remoto " + shown + " " +
                         c_.ftp.kftp().errorText());
                }
            }
        }
    }

    c_.yield();
    st.List2.removeFirst();
    notifyChanged();
    step_ = 133;
}

void Cycle::copyStagedFile(const std::string& staged, const std::string& localFolder,
                           const std::string& name) {
    step_ = 125;
    copyReplacing(staged, fs::path(localFolder) / name);
    step_ = 126;
    std::string backup = currentJob().DirLocaleBackup;
    if (!backup.empty()) {
        if (!endsWith(backup, "/")) backup += "/";
        if (folderExists(backup)) copyReplacing(staged, fs::path(backup) / name);
    }
    step_ = 127;
    std::error_code ec;
    fs::remove(staged, ec);
}

}  // namespace vs
