#include <exception>
#include <filesystem>

#include "activitylog/activity_log.h"
#include "common/local_folder.h"
#include "common/text.h"
#include "common/wildcard.h"
#include "cycle/cycle.h"
#include "settings/settings.h"

namespace vs {

namespace {

// "In errore" counts a connection that failed or was lost, so that a refused login does not
// show 0 there; a download job starts it again from 0.
void countFailedConnection(CycleState& st) {
    st.totfilenonok = std::to_string(leadingNumber(st.totfilenonok).value_or(0) + 1);
}

}  // namespace

void Cycle::line(const std::string& text) {
    c_.log.scrivi_log(timeOfDay(c_.clock) + text);
}

void Cycle::errorLine(const std::string& text) {
    c_.log.scrivi_log(text);
    report_.lastErrorLine = text;
}

void Cycle::notifyChanged() {
    if (c_.changed) c_.changed();
}

TransferJob& Cycle::currentJob() {
    return c_.settings.jobTable[c_.state.currentJob];
}

RemoteSession& Cycle::session() {
    if (!session_)
        throw RuntimeError(kErrGeneric, "Nessuna sessione per il tipo server configurato");
    return *session_;
}

JobTally& Cycle::tally() {
    const int job = c_.state.currentJob;
    if (report_.jobs.empty() || report_.jobs.back().job != job)
        report_.jobs.push_back({job, currentJob().codes.remoteFolder});
    return report_.jobs.back();
}

bool Cycle::isDue(const TransferJob& job) const {
    const int counter = c_.state.cycleCounter;
    return counter == 1 || counter % job.codes.multiplier == 0;
}

CycleOutcome Cycle::collegamento() {
    CycleState& st = c_.state;
    result_ = " !";
    errorSeen_ = false;
    folderUnreachable_ = false;
    bool work = false;
    bool toEnd = false;
    step_ = 1;

    if (st.cycleCounter == 32000) st.cycleCounter = 0;
    ++st.cycleCounter;
    report_ = {};
    timesUnsupportedSaid_ = false;
    report_.cycle = st.cycleCounter;
    report_.started = c_.clock.now();
    const auto finish = [this](CycleOutcome outcome) {
        if (folderUnreachable_ &&
            (outcome == CycleOutcome::Clean || outcome == CycleOutcome::NothingToDo))
            outcome = CycleOutcome::Errors;
        report_.outcome = outcome;
        report_.ended = c_.clock.now();
        return outcome;
    };
    line(" Ciclo " + std::to_string(st.cycleCounter));

    for (int job = 0; job < kJobCount && !work && !toEnd; ++job) {
        st.currentJob = job;
        try {
            work = prescanJob(job);
        } catch (...) {
            const Resume r = trapCurrentException();
            if (r == Resume::Leave) return finish(CycleOutcome::Errors);
            if (r != Resume::NextPrescanJob) toEnd = true;
        }
    }

    if (!toEnd) {
        if (!work) {
            line(" Non mi collego non c'e' niente da fare ");
            return finish(CycleOutcome::NothingToDo);
        }
        const RemoteServer server = c_.remote ? c_.remote() : RemoteServer{};
        session_ = server.session;
        listingPolicy_ = server.listing;
        if (session_) {
            openSession();
        } else {
            // An unknown server type: said at load, and here again, since nothing can move.
            c_.session.connectFailed = true;
            c_.session.connected = false;
            errorLine(timeOfDay(c_.clock) + " Nessuna connessione: tipo server sconosciuto");
        }
        if (c_.session.connectFailed) countFailedConnection(st);
        notifyChanged();
        if (c_.session.connectFailed) {
            if (report_.lastErrorLine.empty() && c_.log.size() > 0)
                report_.lastErrorLine = c_.log.List1().back();
            return finish(CycleOutcome::ConnectFailed);
        }

        step_ = 55;
        for (int job = 0; job < kJobCount && !stopping(); ++job) {
            st.currentJob = job;
            try {
                mainPassJob(job);
            } catch (...) {
                const Resume r = trapCurrentException();
                if (r == Resume::Leave) return finish(CycleOutcome::Errors);
                if (r != Resume::NextMainJob) break;
            }
        }
    }

    if (stopping()) {
        // Cut short by the shutdown: what was due has not all moved, so the cycle is not clean
        // in the log, the metrics, the status or the exit code.
        errorSeen_ = true;
        result_ = " CON ERRORI";
        errorLine(timeOfDay(c_.clock) + " Ciclo interrotto dalla chiusura del programma");
    }
    endOfCycle();
    return finish(errorSeen_ ? CycleOutcome::Errors : CycleOutcome::Clean);
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
        folderUnreachable_ = true;
        errorLine(timeOfDay(c_.clock) + "****** ERRORE **** Non riesco ad accedere a " + local);
        return false;
    }
    if (!endsWith(local, "/")) local += "/";
    if (job.codes.operation == Operation::Download) {
        step_ = 15;
        c_.session.currentOperation = "Download";
        return true;
    }
    if (job.codes.operation != Operation::Upload) return false;
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
    if (job.codes.operation == Operation::Download) {
        c_.session.currentOperation = "Download";
        download();
    }
    if (job.codes.operation == Operation::Upload) {
        c_.session.currentOperation = "Upload";
        upload();
    }
}

void Cycle::openSession() {
    c_.session.connectFailed = false;
    c_.session.connected = true;  // from now on no tick starts a second cycle
    try {
        session_->connect();
    } catch (const RuntimeError& e) {
        // The session has said why. A refusal ends the cycle; an attempt that could not even be
        // made leaves the flags as they are, and the jobs meet the missing connection.
        if (e.number() == kErrConnection) {
            c_.session.connectFailed = true;
            c_.session.connected = false;
        }
    }
}

void Cycle::endOfCycle() {
    // From here on every failing step is skipped: the end lines are always written.
    step_ = 150;
    if (session_) session_->close();
    removePartialUploads();
    step_ = 151;
    c_.session.connected = false;
    line(" Collegamento Terminato " + result_);
    c_.log.scrivi_log("************************************");
    notifyChanged();
    if (toLower(c_.mode) == "asp" && !errorSeen_ && c_.endAfterCleanCycle) {
        report_.outcome = folderUnreachable_ ? CycleOutcome::Errors : CycleOutcome::Clean;
        report_.ended = c_.clock.now();
        c_.endAfterCleanCycle(folderUnreachable_ ? 1 : 0);
    }
}

void Cycle::removePartialUploads() {
    if (partialUploads_.empty() || !session_) return;
    std::vector<std::string> paths;
    paths.swap(partialUploads_);
    const SessionState before = c_.session;
    bool connected = true;
    try {
        session_->connect();
    } catch (const RuntimeError&) {
        connected = false;  // the session has said why
    }
    for (const std::string& path : paths) {
        try {
            if (!connected) throw RuntimeError(kErrConnection, "nessuna connessione");
            try {
                session_->stat(path);
            } catch (const RuntimeError& e) {
                if (e.number() == kErrRemote) continue;  // not there: nothing was left
                throw;
            }
            session_->remove(path);
            line(" Rimosso dal server il file incompleto " + visible(path));
        } catch (const std::exception& e) {
            line(" Il file incompleto " + visible(path) +
                 " potrebbe essere rimasto sul server: " + visible(e.what()));
        }
    }
    session_->close();
    c_.session = before;
}

std::string Cycle::trapText(int number, const std::string& description) const {
    std::string text = " Collegamento 3 ****** ERRORE **** " + std::to_string(number) + " " +
                       visible(description) + " step " + std::to_string(step_);
    if (session_) text += session_->stateNote();
    return text;
}

void Cycle::fileFailed(int number, const std::string& description) {
    errorSeen_ = true;
    result_ = " CON ERRORI";
    errorLine(trapText(number, description));
    ++tally().errors;
}

bool Cycle::fileStep(const std::function<void()>& step) {
    try {
        step();
        return true;
    } catch (const RuntimeError& e) {
        if (e.number() == kErrConnection) throw;
        fileFailed(e.number(), e.description());
    } catch (const std::filesystem::filesystem_error& e) {
        fileFailed(localFileError(e.code().value(), e.path1().string()).number(), e.what());
    }
    return false;
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
        folderUnreachable_ = true;
        errorLine(timeOfDay(c_.clock) +
                  "Collegamento 1 ****** ERRORE **** Non riesco ad accedere alla dir locale " +
                  std::to_string(job) + " " + c_.settings.jobTable[job].DirLocale +
                  " step =  " + std::to_string(step_));
        if (step_ == 1 || step_ == 10) return Resume::NextPrescanJob;
        if (step_ == 55) return Resume::NextMainJob;
        return Resume::EndOfCycle;
    }
    if (number == kErrConnection) {
        countFailedConnection(c_.state);
        c_.session.connectFailed = true;
        errorSeen_ = true;
        errorLine("Collegamento  2 ****** ERRORE **** " + std::to_string(number) + " " +
                  visible(description) + " step " + std::to_string(step_));
        result_ = " CON ERRORI";
        return Resume::EndOfCycle;
    }
    if (!c_.session.connectFailed) {
        errorSeen_ = true;
        errorLine(trapText(number, description));
        result_ = " CON ERRORI";
        return Resume::EndOfCycle;
    }
    // The connection failed earlier in this cycle: leave, but never with the session still
    // marked as connected, or no tick would ever start a cycle again.
    if (session_) session_->close();
    c_.session.connected = false;
    notifyChanged();
    return Resume::Leave;
}

}  // namespace vs
