#include "shell/program.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

#include "common/new_file.h"
#include "common/runtime_error.h"
#include "cycle/staged_download.h"
#include "shell/command_line.h"
#include "shell/settings_report.h"

namespace vs {

namespace fs = std::filesystem;

Program::Program(const Clock& clock, ProgramConfig config, ShellView& view, IntervalTimer& timer,
                 SftpComponentFactory sftpFactory, FtpControlFactory ftpFactory, YieldFn yield,
                 std::function<void(int)> endProcess)
    : log(clock, config.programFolder, config.weekdays),
      settings(log, clock),
      clock_(clock),
      config_(std::move(config)),
      view_(view),
      timer_(timer),
      sftpFactory_(std::move(sftpFactory)),
      ftpFactory_(std::move(ftpFactory)),
      yield_(std::move(yield)),
      endProcess_(std::move(endProcess)) {}

Program::~Program() = default;

void Program::Form_Load() {
    std::string folder = config_.programFolder.string();
    caption += kCaptionVersion;

    if (folder.empty() || folder.back() != '/') folder += '/';
    tempFolder = folder + "tempozipftp/";
    std::error_code ec;
    if (!fs::is_directory(tempFolder, ec)) {
        if (fs::create_directories(tempFolder, ec) || fs::is_directory(tempFolder))
            log.scrivi_log("Creato directory " + tempFolder.string());
        else
            log.scrivi_log("Impossibile creare la directory " + tempFolder.string() + ": " +
                           ec.message());
    }

    view_.setCaption(caption);
    view_.showWindow();
    view_.addTrayIcon();

    const FormSwitches switches = readFormSwitches(GetCommandLine(config_.argumentText, 10));
    operatorCode = switches.operatorCode;
    mode = switches.mode;
    once = switches.once;

    auto [settingsPath, lookedAt] = settingsLocation(config_);
    settings.setSettingsPath(std::move(settingsPath), std::move(lookedAt));
    settings.leggi_ini();

    if (view_.isMinimized()) view_.hideWindow();

    if (settings.limitebanda > 0) {
        bandwidth = std::make_unique<BandwidthLimit>(settings.limitebanda * 1024);
        log.scrivi_log("Limite di banda " + std::to_string(settings.limitebanda) + " KiB/s");
    }
    if (settings.serverType == ServerType::Sftp && sftpFactory_)
        Sftp1 = sftpFactory_(bandwidth.get());
    if (ftpFactory_) kftp = ftpFactory_(bandwidth.get());
    openJournal();
    createSessions();
    removeLeftovers();

    if (mode == "auto") {
        Command1.enabled = false;
        log.scrivi_log("Modalita AUTO Timer attivato");
        log.scrivi_log("Operatore " + operatorCode);
        timer_.setEnabled(true);
    }
    if (mode == "asp") {
        Command1.enabled = false;
        log.scrivi_log("Modalita ASP");
        log.scrivi_log("Operatore " + operatorCode);
    }
    // What was understood of the settings, after the start-up lines, and again after every
    // save from the window.
    logSettingsReport();
    settings.setAfterLoad([this] { logSettingsReport(); });
    view_.refresh();
    if (mode == "asp") collegamento();

    caption += " ope: " + operatorCode;
    view_.setCaption(caption);
    view_.refresh();
}

void Program::createSessions() {
    const YieldFn yield = yield_;
    sftpSession = std::make_unique<SftpSession>(
        session, settings.server, log, clock_, yield_,
        [yield](std::chrono::milliseconds wait) {
            // A pause that keeps the window responsive.
            const auto end = std::chrono::steady_clock::now() + wait;
            while (std::chrono::steady_clock::now() < end) {
                if (yield) yield();
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        },
        Sftp1.get(), (config_.programFolder / "known_hosts").string(), settings.keyfile,
        settings.keypassphrase, settings.pausafile);
    ftpSession =
        std::make_unique<FtpSession>(session, settings.server, settings.serverType, log, clock_,
                                     kftp.get(), (config_.programFolder / "known_certs").string());
    CycleContext context{clock_,
                         log,
                         settings,
                         session,
                         cycleState,
                         operatorCode,
                         mode,
                         tempFolder,
                         [this] { return remoteServer(); },
                         yield_,
                         [this](int exitCode) { endAfterCleanCycle(exitCode); },
                         [this] { view_.refresh(); },
                         [this] { return stopRequested_; },
                         [this] { return journal.get(); }};
    cycle = std::make_unique<Cycle>(std::move(context));
}

RemoteServer Program::remoteServer() {
    switch (settings.serverType) {
        case ServerType::Sftp:
            return {sftpSession.get(), kSftpListing};
        case ServerType::Ftp:
        case ServerType::Ftps:
        case ServerType::FtpsImplicito:
            return {ftpSession.get(), kFtpListing};
        case ServerType::Unknown:
            break;
    }
    return {};
}

RemoteSession* Program::remoteSession() {
    return remoteServer().session;
}

void Program::removeLeftovers() {
    // What a killed or crashed run left behind: its staged copies and the temporary files of
    // copies that never reached their names, and of the small files we replace whole (known
    // hosts, certificate pins, metrics, settings). Files of a second instance still at work
    // stay.
    int removed = removeStaleTemporaries(tempFolder, true);
    for (const TransferJob& job : settings.jobTable)
        for (const std::string* folder : {&job.DirLocale, &job.DirLocaleBackup})
            if (!folder->empty()) removed += removeStaleTemporaries(*folder);
    removed += removeStaleTemporaries(config_.programFolder);
    if (const auto folder = settings.settingsPath().parent_path();
        !folder.empty() && folder != config_.programFolder)
        removed += removeStaleTemporaries(folder);
    // Part files of downloads the journal no longer knows (kept across runs in a subfolder of
    // their own, which the clean-up above leaves alone).
    if (journal) {
        try {
            removed += removeOrphanParts(tempFolder, journal->partPaths(Direction::Download));
        } catch (const RuntimeError& e) {
            log.scrivi_log(e.description());
        }
    }
    if (removed > 0)
        log.scrivi_log("Rimossi " + std::to_string(removed) +
                       " file temporanei lasciati da un'esecuzione interrotta");
}

void Program::openJournal() {
    if (journal) return;
    fs::path path = config_.journalPath;
    if (path.empty()) path = config_.programFolder / "journal.db";
    try {
        journal = std::make_unique<Journal>(
            path.string(), clock_, static_cast<long>(::getpid()), [](long pid) {
                return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
            });
        if (journalFailureSaid_)
            log.scrivi_log("Registro dei trasferimenti aperto: " + path.string());
        journalFailureSaid_ = false;
    } catch (const RuntimeError& e) {
        if (!journalFailureSaid_)
            log.scrivi_log("Impossibile aprire il registro dei trasferimenti: " + e.description() +
                           "; nessun file sara' cancellato alla sorgente");
        journalFailureSaid_ = true;
    }
}

void Program::journalUpkeep() {
    openJournal();
    if (!journal) return;
    try {
        const Journal::Purged purged = journal->purgeIfDue(settings.journalDays);
        for (const std::string& part : purged.parts) StagedDownload::removePart(tempFolder, part);
        if (purged.rows > 0 || !purged.parts.empty())
            log.scrivi_log(timeOfDay(clock_) + " Registro dei trasferimenti: rimosse " +
                           std::to_string(purged.rows) + " righe piu' vecchie di " +
                           std::to_string(settings.journalDays) + " giorni e " +
                           std::to_string(purged.parts.size()) + " download interrotti");
    } catch (const RuntimeError& e) {
        log.scrivi_log(timeOfDay(clock_) + " " + e.description());
    }
}

void Program::logSettingsReport() {
    for (const std::string& line : settingsReport(settings)) log.scrivi_log(line);
}

void Program::collegamento() {
    if (!settings.usable()) {
        // Nothing set up: every cycle says so, and counts as failing, never as clean.
        CycleReport report;
        report.cycle = cycleState.cycleCounter;
        report.outcome = lastOutcome = CycleOutcome::ConfigInvalid;
        report.started = report.ended = clock_.now();
        report.lastErrorLine = timeOfDay(clock_) + " " + unusableCycleLine(settings);
        log.scrivi_log(report.lastErrorLine);
        log.sync();
        view_.refresh();
        if (afterCycle_) afterCycle_(report);
        return;
    }
    journalUpkeep();
    cycleRunning_ = true;
    view_.refresh();
    if (cycleEntry_)
        lastOutcome = cycleEntry_();
    else if (cycle)
        lastOutcome = cycle->collegamento();
    cycleRunning_ = false;
    if (lastOutcome == CycleOutcome::Clean || lastOutcome == CycleOutcome::NothingToDo)
        lastCleanCycle = clock_.now();
    log.sync();
    view_.refresh();
    if (afterCycle_ && cycle && !cycleEntry_) afterCycle_(cycle->lastReport());
    if (stopRequested_) finishShutdown();
}

void Program::endAfterCleanCycle(int exitCode) {
    if (afterCycle_ && cycle) afterCycle_(cycle->lastReport());
    log.sync();
    endProcess_(exitCode);
}

void Program::shutdown(int exitCode) {
    exitCode_ = exitCode;
    if (cycleRunning_) {
        // Called from the cycle's own waits: the running transfer is aborted and cleaned up
        // like a failed one, the cycle ends in order, and the shutdown follows.
        stopRequested_ = true;
        session.abortRequest = true;
        if (RemoteSession* remote = remoteSession()) remote->abort();
        return;
    }
    finishShutdown();
}

void Program::finishShutdown() {
    log.scrivi_log(timeOfDay(clock_) + " Chiusura Volontaria");
    log.sync();
    view_.removeTrayIcon();
    endProcess_(exitCode_);
}

int aspExitCode(CycleOutcome outcome) {
    switch (outcome) {
        case CycleOutcome::NothingToDo:
        case CycleOutcome::Clean:
            return 0;
        case CycleOutcome::ConfigInvalid:
            return kExitConfigInvalid;
        default:
            return 1;
    }
}

}  // namespace vs
