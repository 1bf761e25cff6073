#include "shell/program.h"

#include <system_error>

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

void Program::collegamento() {
    lastOutcome = cycleEntry_ ? cycleEntry_() : CycleOutcome::NothingToDo;
    view_.refresh();
}

void Program::endAfterCleanCycle() {
    log.scrivi_file_log();
    endProcess_(0);
}

void Program::shutdown() {
    log.scrivi_log(timeOfDay(clock_) + " Chiusura Volontaria");
    log.scrivi_file_log();
    view_.removeTrayIcon();
    endProcess_(0);
}

}  // namespace vs
