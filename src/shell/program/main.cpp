// Entry point: command line, single instance, window or headless run, start-up; or the check.
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "activitylog/weekday_names.h"
#include "common/text.h"
#include "journal/history.h"
#include "remote/sftp/library_version.h"
#include "service/journal_stream.h"
#include "shell/command_line.h"
#include "shell/command_line_check.h"
#include "shell/program.h"
#include "shell/program/components.h"
#include "shell/program/headless_view.h"
#include "shell/program/help_text.h"
#include "shell/program/qt_interval_timer.h"
#include "shell/program/single_instance.h"
#include "shell/program/unattended.h"
#include "shell/program_folder.h"
#include "shell/run_control.h"

#if VALTRASSO_GUI
#include <QApplication>

#include "shell/window/form1.h"
#endif

namespace {

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int sig) {
    char c = static_cast<char>(sig);
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &c, 1);
}

#if VALTRASSO_GUI
bool displayAvailable() {
    for (const char* var : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (const char* v = std::getenv(var); v && *v) return true;
    return false;
}
#endif

[[noreturn]] void endProcess(int code) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(code);
}

// One line on a standard stream, with its journal priority when the stream is the journal.
void writeLine(std::FILE* stream, bool journal, const std::string& line, int priority = 0) {
    const std::string prefix = !journal   ? std::string()
                               : priority ? "<" + std::to_string(priority) + ">"
                                          : vs::journalPrefix(line, true);
    // Once a stream failed (closed, its reader gone) the lines go to the log file alone.
    if (std::ferror(stream)) return;
    const std::string out = prefix + line + "\n";
    std::fwrite(out.data(), 1, out.size(), stream);
    std::fflush(stream);
}

}  // namespace

int main(int argc, char** argv) {
    // A reader of our output that went away (a closed terminal, "| grep -m1") must not end a
    // transfer half-way: a failed write is only a failed write.
    ::signal(SIGPIPE, SIG_IGN);
    const std::string text = vs::argumentText(argc, argv);
    const auto has = [&text](const char* name) { return vs::hasOwnSwitch(text, name); };
    if (has("--help")) {
        std::fputs(vs::kHelpText, stdout);
        return 0;
    }
    if (has("--history")) {
        // The journal of the program folder (or VALTRASSOSFTP_JOURNAL), as a run would use it;
        // the argument after the switch, if any, is the text to look for.
        std::optional<std::string> text;
        for (int i = 1; i + 1 < argc; ++i)
            if (std::strcmp(argv[i], "--history") == 0 && std::strncmp(argv[i + 1], "--", 2) != 0)
                text = argv[i + 1];
        return vs::printHistory(
            vs::journalPath(vs::programFolder(), std::getenv("VALTRASSOSFTP_JOURNAL")), text,
            stdout, stderr);
    }
    if (has("--version")) {
        std::printf("valtrassosftp %s (%s)\n", VALTRASSO_VERSION,
                    vs::sftp::libraryDescriptionInEnglish().c_str());
        return 0;
    }
    const char* journalStream = std::getenv("JOURNAL_STREAM");
    const bool journalOut = vs::isJournalStream(1, journalStream);
    const bool journalErr = vs::isJournalStream(2, journalStream);
    // Tokens that carry no switch stay ignored, but never in silence.
    for (const std::string& line : vs::commandLineWarnings(text))
        writeLine(stderr, journalErr, line, 4);

    const bool check = has("--check");
#if VALTRASSO_GUI
    const bool headless = check || has("--headless") || !displayAvailable();
#else
    const bool headless = true;  // built without the window
#endif
    const vs::FormSwitches switches = vs::readFormSwitches(vs::GetCommandLine(text, 10));
    if (headless && !check && switches.mode != "auto" && switches.mode != "asp") {
        // Without a window nothing could ever start a cycle: a unit or a cron line with a
        // typo must fail, not wait forever.
        writeLine(stderr, journalErr,
                  "valtrassosftp: senza finestra serve mod:auto o mod:asp (o --check): nessun "
                  "ciclo potrebbe partire",
                  3);
        return vs::kExitConfigInvalid;
    }

    // Main: the plus: switch decides whether this instance may run beside another.
    const std::string plus = vs::readPlusSetting(vs::GetCommandLine(text, 10));

    std::unique_ptr<QCoreApplication> app;
#if VALTRASSO_GUI
    if (!headless) app = std::make_unique<QApplication>(argc, argv);
#endif
    if (!app) app = std::make_unique<QCoreApplication>(argc, argv);

    const std::filesystem::path folder = vs::programFolder();
    vs::SystemClock clock;
    const char* settingsEnv = std::getenv("VALTRASSOSFTP_SETTINGS");
    vs::ProgramConfig config{folder,
                             vs::kFixedSettingsPath,
                             text,
                             vs::localeWeekdayNames(),
                             settingsEnv ? settingsEnv : "",
                             vs::journalPath(folder, std::getenv("VALTRASSOSFTP_JOURNAL"))};
    const vs::YieldFn yield = [] { QCoreApplication::processEvents(); };
    const auto echo = [journalOut](const std::string& line) {
        writeLine(stdout, journalOut, line);
    };

    if (check) {
        // Beside a running instance too: it reads, and changes nothing.
        vs::HeadlessView view;
        vs::QtIntervalTimer timer([] {});
        vs::Program program(clock, config, view, timer, vs::sftpComponentFactory(folder, yield),
                            vs::ftpControlFactory(yield), yield, endProcess);
        program.log.setEcho(echo);
        return program.check(has("--connect"));
    }

    vs::SingleInstance instance(folder);
    const bool allowed = vs::toLower(plus) == "y";
    const bool running = instance.findRunning(!allowed);
    if (running && !allowed) {
        // The running instance comes forward; nothing is logged. A one-cycle run that did
        // not run its cycle has not done its job.
        const bool asp = switches.mode == "asp";
        writeLine(stderr, journalErr,
                  "valtrassosftp: un'altra istanza lavora gia' nella cartella " + folder.string() +
                      (asp ? ": il ciclo di mod:asp non parte (plus:Y per farlo partire "
                             "comunque)"
                           : ": portata in primo piano"),
                  asp ? 3 : 6);
        return asp ? vs::kExitAlreadyRunning : 0;
    }

    std::unique_ptr<vs::ShellView> view;
#if VALTRASSO_GUI
    vs::Form1* form = nullptr;
    if (!headless) {
        auto f = std::make_unique<vs::Form1>();
        form = f.get();
        view = std::move(f);
    }
#endif
    if (!view) view = std::make_unique<vs::HeadlessView>();

    vs::RunControl* runControl = nullptr;
    vs::QtIntervalTimer timer([&runControl] {
        if (runControl) runControl->Timer1_Timer();
    });
    vs::Program program(clock, config, *view, timer, vs::sftpComponentFactory(folder, yield),
                        vs::ftpControlFactory(yield), yield, endProcess);
    vs::RunControl control(program);
    runControl = &control;
#if VALTRASSO_GUI
    if (form) form->attach(&program, &control);
    if (!running)
        instance.listen([form] {
            if (form) form->activate();
        });
#else
    if (!running) instance.listen([] {});
#endif

    // Window or headless, one way of being watched: readiness, status and watchdog under
    // systemd, the metrics file, the alert command.
    vs::Unattended unattended(program, folder, clock, yield, VALTRASSO_VERSION);
    program.setAfterCycle([&unattended](const vs::CycleReport& r) { unattended.afterCycle(r); });

    // SIGTERM, SIGINT and SIGHUP (the session that started us closed) run the orderly
    // shutdown on the program's own thread. A mod:asp run they end has not finished its
    // cycle: its exit code says so.
    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        signalNotifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, [&] {
            char sig = 0;
            [[maybe_unused]] ssize_t n = ::read(signalPipe[0], &sig, 1);
            unattended.stopping();
            program.shutdown(program.mode == "asp" ? 128 + sig : 0);
        });
        struct sigaction sa {};
        sa.sa_handler = onTerminationSignal;
        sigemptyset(&sa.sa_mask);
        for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
    }

    if (headless) program.log.setEcho(echo);

    program.Form_Load();
    unattended.started();

    if (headless && program.mode == "asp") {
        // One cycle and done: its log is on the disk whatever happened.
        program.log.sync();
        endProcess(vs::aspExitCode(program.lastOutcome));
    }
    return app->exec();
}
