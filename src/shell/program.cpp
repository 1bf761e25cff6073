#include "shell/program.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "shell/command_line.h"

namespace vs {

namespace fs = std::filesystem;

Program::Program(const Clock& clock, ProgramConfig config, ShellView& view, IntervalTimer& timer,
                 SftpComponentFactory sftpFactory, FtpControlFactory ftpFactory, YieldFn yield,
                 std::function<void(int)> endProcess)
    : log(clock, config.programFolder, config.weekdays),
      settings(log, clock),
      kftp(ftpFactory ? ftpFactory() : nullptr),
      clock_(clock),
      config_(std::move(config)),
      view_(view),
      timer_(timer),
      sftpFactory_(std::move(sftpFactory)),
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

    fs::path settingsPath = config_.fixedSettingsPath;
    if (settingsPath.empty() || !fs::exists(settingsPath, ec))
        settingsPath = fs::path(folder) / "valtrassosftp.ini";
    settings.setSettingsPath(settingsPath);
    settings.leggi_ini();

    if (view_.isMinimized()) view_.hideWindow();

    if (settings.server.cbotiposerver == "Sftp" && sftpFactory_) Sftp1 = sftpFactory_();
    settings.serverType = settings.server.cbotiposerver;
    createSessions();

    if (mode == "auto") {
        Command1.enabled = false;
        log.scrivi_log("Modalita AUTO Timer attivato");
        log.scrivi_log("Operatore " + operatorCode);
        timer_.setEnabled(true);
    }
    view_.refresh();
    if (mode == "asp") {
        Command1.enabled = false;
        log.scrivi_log("Modalita ASP");
        log.scrivi_log("Operatore " + operatorCode);
        view_.refresh();
        collegamento();
    }

    caption += " ope: " + operatorCode;
    view_.setCaption(caption);
    view_.refresh();
}

void Program::createSessions() {
    sftpSession = std::make_unique<SftpSession>(
        session, settings.server, log, clock_, yield_, Sftp1.get(),
        (config_.programFolder / "known_hosts").string(), settings.keyfile);
    ftpSession = std::make_unique<FtpSession>(session, settings.server, log, clock_, kftp.get());
    const YieldFn yield = yield_;
    CycleContext context{clock_,
                         log,
                         settings,
                         session,
                         cycleState,
                         operatorCode,
                         mode,
                         tempFolder,
                         *sftpSession,
                         *ftpSession,
                         yield_,
                         [yield](std::chrono::milliseconds wait) {
                             // A pause that keeps the window responsive.
                             const auto end = std::chrono::steady_clock::now() + wait;
                             while (std::chrono::steady_clock::now() < end) {
                                 if (yield) yield();
                                 std::this_thread::sleep_for(std::chrono::milliseconds(10));
                             }
                         },
                         [this] { endAfterCleanCycle(); },
                         [this] { view_.refresh(); }};
    cycle = std::make_unique<Cycle>(std::move(context));
}

void Program::collegamento() {
    if (cycleEntry_)
        lastOutcome = cycleEntry_();
    else if (cycle)
        lastOutcome = cycle->collegamento();
    view_.refresh();
}

void Program::endAfterCleanCycle() {
    log.scrivi_file_log();
    // A remote folder that could not be entered does not make the cycle fail, but a caller
    // waiting on the exit code must hear of it.
    endProcess_(session.connectFailed ? 1 : 0);
}

void Program::shutdown() {
    log.scrivi_log(timeOfDay(clock_) + " Chiusura Volontaria");
    log.scrivi_file_log();
    view_.removeTrayIcon();
    endProcess_(0);
}

}  // namespace vs
