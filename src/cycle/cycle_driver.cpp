#include <exception>
#include <filesystem>

#include "activitylog/activity_log.h"
#include "common/local_folder.h"
#include "common/text.h"
#include "common/wildcard.h"
#include "cycle/cycle.h"
#include "settings/settings.h"

namespace vs {

void Cycle::line(const std::string& text) {
    c_.log.scrivi_log(timeOfDay(c_.clock) + text);
}

void Cycle::notifyChanged() {
    if (c_.changed) c_.changed();
}

TransferJob& Cycle::currentJob() {
    return c_.settings.jobTable[c_.state.currentJob];
}

bool Cycle::sftpSession() const {
    return c_.settings.serverType != "Ftp";
}

bool Cycle::isDue(const TransferJob& job) const {
    const int counter = c_.state.cycleCounter;
    if (counter == 1) return true;
    std::string m;
    for (char ch : job.Dirmoltiplicatore)
        if (ch != 'x') m += ch;
    if (m.empty() || m == "1") return true;
    const auto n = parseInteger(m);
    if (!n)
        throw RuntimeError(kErrTypeMismatch, "Tipo non corrispondente: moltiplicatore '" +
                                                 job.Dirmoltiplicatore + "'");
    if (*n == 0)
        throw RuntimeError(kErrDivisionByZero,
                           "Divisione per zero: moltiplicatore '" + job.Dirmoltiplicatore + "'");
    return counter % *n == 0;
}

CycleOutcome Cycle::collegamento() {
    CycleState& st = c_.state;
    result_ = " !";
    errorSeen_ = false;
    bool work = false;
    bool toEnd = false;
    step_ = 1;

    if (st.cycleCounter == 32000) st.cycleCounter = 0;
    ++st.cycleCounter;
    line(" Ciclo " + std::to_string(st.cycleCounter));

    for (int job = 0; job < kJobCount && !work && !toEnd; ++job) {
        st.currentJob = job;
        try {
            work = prescanJob(job);
        } catch (...) {
            const Resume r = trapCurrentException();
            if (r == Resume::Leave) return CycleOutcome::Errors;
            if (r != Resume::NextPrescanJob) toEnd = true;
        }
    }

    if (!toEnd) {
        if (!work) {
            line(" Non mi collego non c'e' niente da fare ");
            return CycleOutcome::NothingToDo;
        }
        if (c_.settings.serverType == "Sftp") c_.sftp.connetti_sftp();
        if (c_.settings.serverType == "Ftp") c_.ftp.connetti_ftp();
        notifyChanged();
        if (c_.session.connectFailed) return CycleOutcome::ConnectFailed;

        step_ = 55;
        for (int job = 0; job < kJobCount; ++job) {
            st.currentJob = job;
            try {
                mainPassJob(job);
            } catch (...) {
                const Resume r = trapCurrentException();
                if (r == Resume::Leave) return CycleOutcome::Errors;
                if (r != Resume::NextMainJob) break;
            }
        }
    }

    endOfCycle();
    return errorSeen_ ? CycleOutcome::Errors : CycleOutcome::Clean;
}

bool Cycle::prescanJob(int jobNumber) {
    step_ = 5;
    const TransferJob& job = c_.settings.jobTable[jobNumber];
    if (job.DirRemota.empty() || job.DirLocale.empty() || job.CancelloFile.empty() ||
        job.TipoOperazione.empty())
        return false;
    std::string local = job.DirLocale;
    step_ = 10;
    if (!isDue(job)) return false;
    if (!folderExists(local)) {
        c_.log.scrivi_log(timeOfDay(c_.clock) + "****** ERRORE **** Non riesco ad accedere a " +
                          local);
        return false;
    }
    if (!endsWith(local, "/")) local += "/";
    if (job.TipoOperazione == "Download") {
        step_ = 15;
        c_.session.currentOperation = "Download";
        return true;
    }
    if (job.TipoOperazione != "Upload") return false;
    step_ = 20;
    step_ = 25;
    c_.state.filters = parseNameFilters(job.Dirparametri);
    step_ = 30;
    c_.session.currentOperation = "Upload";
    step_ = 35;
    const std::string pattern = folderPattern(c_.state.filters, "*");
    step_ = 40;
    bool any = false;
    for (const LocalFile& f : ordinaryFiles(local)) {
        step_ = 45;
        if (wildcardMatch(pattern, f.name) && nameTest(c_.state.filters, f.name)) any = true;
    }
    step_ = 50;
    return any;
}

void Cycle::mainPassJob(int jobNumber) {
    step_ = 55;
    TransferJob& job = c_.settings.jobTable[jobNumber];
    if (!job.DirRemota.empty())
        line(" Inizio controllo per collegamento " + job.DirRemota + " " + job.DirLocale);
    if (job.DirRemota.empty() || job.DirLocale.empty() || job.TipoFile.empty() ||
        job.CancelloFile.empty() || job.TipoOperazione.empty())
        return;
    if (!isDue(job)) {
        std::string m;
        for (char ch : job.Dirmoltiplicatore)
            if (ch != 'x') m += ch;
        line(" Non e' il giro giusto per il tuo moltiplicatore " + m + " " +
             std::to_string(c_.state.cycleCounter));
        return;
    }
    if (!folderExists(job.DirLocale)) return;
    c_.state.filters = parseNameFilters(job.Dirparametri);
    if (job.TipoOperazione == "Download") {
        c_.session.currentOperation = "Download";
        download();
    }
    if (job.TipoOperazione == "Upload") {
        c_.session.currentOperation = "Upload";
        upload();
    }
}

void Cycle::closeSession() {
    // Every step may fail and is skipped: closing never stops what follows.
    if (c_.settings.serverType == "Sftp" && c_.sftp.hasComponent()) {
        try {
            c_.sftp.Sftp1().disconnect();
        } catch (...) {
        }
    }
    if (c_.settings.serverType == "Ftp") {
        try {
            c_.ftp.kftp().abort();
        } catch (...) {
        }
        try {
            c_.ftp.kftp().close();
        } catch (...) {
        }
    }
}

void Cycle::endOfCycle() {
    // From here on every failing step is skipped: the end lines are always written.
    step_ = 150;
    closeSession();
    step_ = 151;
    c_.session.connected = false;
    line(" Collegamento Terminato " + result_);
    c_.log.scrivi_log("************************************");
    notifyChanged();
    if (toLower(c_.mode) == "asp" && !errorSeen_ && c_.endAfterCleanCycle) c_.endAfterCleanCycle();
}

Cycle::Resume Cycle::trapCurrentException() {
    try {
        throw;
    } catch (const RuntimeError& e) {
        return trap(e.number(), e.description());
    } catch (const std::filesystem::filesystem_error& e) {
        return trap(localFileError(e.code().value(), e.path1().string()).number(), e.what());
    } catch (const std::exception& e) {
        return trap(kErrGeneric, e.what());
    }
}

Cycle::Resume Cycle::trap(int number, const std::string& description) {
    const int job = c_.state.currentJob;
    if (number == kErrBadFileName) {
        c_.log.scrivi_log(timeOfDay(c_.clock) +
                          "Collegamento 1 ****** ERRORE **** Non riesco ad accedere alla dir "
                          "locale " +
                          std::to_string(job) + " " + c_.settings.jobTable[job].DirLocale +
                          " step =  " + std::to_string(step_));
        if (step_ == 1 || step_ == 10) return Resume::NextPrescanJob;
        if (step_ == 55) return Resume::NextMainJob;
        return Resume::EndOfCycle;
    }
    if (number == kErrConnection) {
        c_.session.connectFailed = true;
        errorSeen_ = true;
        c_.log.scrivi_log("Collegamento  2 ****** ERRORE **** " + std::to_string(number) + " " +
                          description + " step " + std::to_string(step_));
        result_ = " CON ERRORI";
        return Resume::EndOfCycle;
    }
    if (!c_.session.connectFailed) {
        errorSeen_ = true;
        std::string text = " Collegamento 3 ****** ERRORE **** " + std::to_string(number) + " " +
                           description + " step " + std::to_string(step_);
        if (sftpSession() && c_.sftp.hasComponent())
            text += " " + std::to_string(c_.sftp.Sftp1().stateCode());
        c_.log.scrivi_log(text);
        result_ = " CON ERRORI";
        return Resume::EndOfCycle;
    }
    // The connection failed earlier in this cycle: leave, but never with the session still
    // marked as connected, or no tick would ever start a cycle again.
    closeSession();
    c_.session.connected = false;
    notifyChanged();
    return Resume::Leave;
}

}  // namespace vs
