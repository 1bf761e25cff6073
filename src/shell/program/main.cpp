// Entry point: single instance, window or headless run, start-up.
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
#include "shell/command_line.h"
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

void onTerminationSignal(int) {
    char c = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &c, 1);
}

bool hasToken(int argc, char** argv, const char* token) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], token) == 0) return true;
    return false;
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

}  // namespace

int main(int argc, char** argv) {
    if (hasToken(argc, argv, "--help")) {
        std::fputs(vs::kHelpText, stdout);
        return 0;
    }
    if (hasToken(argc, argv, "--history")) {
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
    if (hasToken(argc, argv, "--version")) {
        std::printf("valtrassosftp %s\n", VALTRASSO_VERSION);
        return 0;
    }
#if VALTRASSO_GUI
    const bool headless = hasToken(argc, argv, "--headless") || !displayAvailable();
#else
    const bool headless = true;  // built without the window
#endif
    const std::string text = vs::argumentText(argc, argv);

    // Main: the plus: switch decides whether this instance may run beside another.
    const std::string plus = vs::readPlusSetting(vs::GetCommandLine(text, 10));

    std::unique_ptr<QCoreApplication> app;
#if VALTRASSO_GUI
    if (!headless) app = std::make_unique<QApplication>(argc, argv);
#endif
    if (!app) app = std::make_unique<QCoreApplication>(argc, argv);

    const std::filesystem::path folder = vs::programFolder();
    vs::SingleInstance instance(folder);
    const bool allowed = vs::toLower(plus) == "y";
    const bool running = instance.findRunning(!allowed);
    if (running && !allowed) return 0;  // the running instance comes forward; nothing written

    vs::SystemClock clock;
    const char* settingsEnv = std::getenv("VALTRASSOSFTP_SETTINGS");
    vs::ProgramConfig config{folder,
                             vs::kFixedSettingsPath,
                             text,
                             vs::localeWeekdayNames(),
                             settingsEnv ? settingsEnv : "",
                             vs::journalPath(folder, std::getenv("VALTRASSOSFTP_JOURNAL"))};
    const vs::YieldFn yield = [] { QCoreApplication::processEvents(); };

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

    // Headless, the program may run as a service: readiness, status, watchdog, metrics, alerts.
    std::unique_ptr<vs::Unattended> unattended;
    if (headless) {
        unattended = std::make_unique<vs::Unattended>(program, folder, clock, yield);
        program.setAfterCycle(
            [&unattended](const vs::CycleReport& r) { unattended->afterCycle(r); });
    }

    // SIGTERM and SIGINT run the orderly shutdown on the program's own thread.
    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        signalNotifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, [&] {
            char c;
            [[maybe_unused]] ssize_t n = ::read(signalPipe[0], &c, 1);
            if (unattended) unattended->stopping();
            program.shutdown();
        });
        struct sigaction sa {};
        sa.sa_handler = onTerminationSignal;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
    }

    if (headless)
        program.log.setEcho([](const std::string& line) {
            std::fwrite(line.data(), 1, line.size(), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
        });

    program.Form_Load();
    if (unattended) unattended->started();

    if (headless && program.mode == "asp") {
        // One cycle and done: its log is on the disk whatever happened.
        program.log.sync();
        const bool clean = program.lastOutcome == vs::CycleOutcome::NothingToDo ||
                           program.lastOutcome == vs::CycleOutcome::Clean;
        endProcess(clean ? 0 : 1);
    }
    return app->exec();
}
