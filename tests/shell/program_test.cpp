// Start-up and the schedule of the program, with a recording window, timer and clock.
#include "shell/program.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "shell/command_line.h"
#include "shell/command_line_check.h"
#include "shell/run_control.h"
#include "support/fake_clock.h"
#include "support/fake_shell.h"
#include "support/servers.h"
#include "support/temp_dir.h"

namespace vs {
namespace {

using namespace std::chrono_literals;
using test::writeFile;

struct Rig {
    test::TempDir dir;
    test::FakeClock clock;
    test::FakeView view;
    test::FakeTimer timer;
    int sftpCreated = 0, cycles = 0, ended = -1, yields = 0;
    std::function<void()> duringCycle;
    std::vector<CycleOutcome> reported;  // what the service side was told
    std::unique_ptr<Program> program;
    std::unique_ptr<RunControl> control;

    // Settings with one job a cycle can run.
    Rig() {
        std::filesystem::create_directory(dir / "out");
        writeFile(dir / "valtrassosftp.ini",
                  "[PARAMETRI]\nhost=h\ndeltatime=15\nDirRemota_0=/in\nDirLocale_0=" +
                      (dir / "out").string() +
                      "\nTipoFile_0=TUTTI\nCancelloFile_0=NO\nTipoOperazione_0=Upload\n");
    }

    // With realCycle the program's own cycle runs; else a counted stand-in.
    Program& start(const std::string& args, std::filesystem::path fixed = {},
                   bool realCycle = false) {
        program = std::make_unique<Program>(
            clock, ProgramConfig{dir.path(), fixed, args, englishWeekdayNames()}, view, timer,
            [this](BandwidthLimit*) -> std::unique_ptr<SftpComponent> {
                ++sftpCreated;
                return nullptr;
            },
            nullptr, [this] { ++yields; }, [this](int code) { ended = code; });
        program->setAfterCycle([this](const CycleReport& r) { reported.push_back(r.outcome); });
        if (!realCycle)
            program->setCycleEntry([this] {
                ++cycles;
                if (duringCycle) duringCycle();
                return CycleOutcome::NothingToDo;
            });
        program->Form_Load();
        control = std::make_unique<RunControl>(*program);
        return *program;
    }
    long logged(const std::string& text) const {
        const auto& l = program->log.List1();
        return std::count_if(l.begin(), l.end(),
                             [&](const std::string& s) { return s.find(text) != s.npos; });
    }
    std::string lastLine() const { return program->log.List1().back().substr(8); }
};

TEST(Startup, TheModeDecidesTimerButtonAndFirstCycle) {
    // Command line; then timer on, button on, cycles, operator, lines after "Creato directory".
    for (const auto& [args, timerOn, buttonEnabled, cycles, operatorCode, after] : {
             std::tuple{"", false, true, 0, "TUTTI", ""},
             {"ope:op1 mod:AUTO", true, false, 0, "OP1",
              "|Modalita AUTO Timer attivato|Operatore OP1"},
             {"mod:asp", false, false, 1, "TUTTI", "|Modalita ASP|Operatore TUTTI"},
         }) {
        SCOPED_TRACE(args);
        Rig r;
        std::string lines;
        for (const std::string& l : r.start(args).log.List1()) lines += "|" + l;
        const std::string dir = r.dir.path().string();
        EXPECT_EQ(lines, "|Creato directory " + dir + "/tempozipftp/" + after +
                             "|File dei parametri: " + dir +
                             "/valtrassosftp.ini|Job 0: Upload da " + dir +
                             "/out a /in, tipo TUTTI, cancella NO, moltiplicatore 1x (ogni "
                             "ciclo), filtri nessuno, backup nessuno");
        EXPECT_EQ(r.timer.on, timerOn);
        EXPECT_EQ(r.timer.period, 1000);
        EXPECT_EQ(r.program->Command1.enabled, buttonEnabled);
        EXPECT_EQ(r.cycles, cycles);
        EXPECT_EQ(r.view.caption,
                  std::string("ValtrassoSftp - Vers. 4.0 - 16/10/09 ope: ") + operatorCode);
        EXPECT_EQ(r.view.events, (std::vector<std::string>{"show", "tray+"}));
        EXPECT_EQ(r.sftpCreated, 1);            // an empty server type loads as "Sftp"
        EXPECT_EQ(r.start("").log.size(), 2u);  // an existing staging folder is not news
    }
}

TEST(Startup, FixedSettingsPathWinsWhenItExists) {
    Rig r;
    r.view.minimized = true;
    writeFile(r.dir / "etc.ini", "[PARAMETRI]\ntiposerver=Ftp\nhost=fixed\n");
    writeFile(r.dir / "valtrassosftp.ini", "[PARAMETRI]\nhost=local\n");
    EXPECT_EQ(r.start("", r.dir / "etc.ini").settings.server.txtHost, "fixed");
    EXPECT_EQ(r.sftpCreated, 0);  // no SFTP object for an FTP server
    // A minimised window goes once the settings are read.
    EXPECT_EQ(r.view.events, (std::vector<std::string>{"show", "tray+", "hide"}));
    EXPECT_EQ(r.start("", r.dir / "missing.ini").settings.server.txtHost, "local");
    std::filesystem::remove(r.dir / "valtrassosftp.ini");
    r.start("", r.dir / "missing.ini");
    EXPECT_EQ(
        r.logged("Parametri: nessun file dei parametri, cercato in " +
                 (r.dir / "missing.ini").string() + ", " + (r.dir / "valtrassosftp.ini").string()),
        1);
}

TEST(Startup, TheBandwidthLimitAndTheFetchPauseComeFromTheSettings) {
    // The text of limitebanda and pausafile, whether there is a limit, whether a fetch pauses.
    for (const auto& [text, limited, pauses] :
         {std::tuple{"", false, true}, {"0", false, false}, {"30", true, true}}) {
        SCOPED_TRACE(text);
        Rig r;
        writeFile(r.dir / "valtrassosftp.ini",
                  std::string("[PARAMETRI]\nlimitebanda=") + text + "\npausafile=" + text + "\n");
        Program& p = r.start("");
        EXPECT_EQ(p.bandwidth ? p.bandwidth->bytesPerSecond() : 0, limited ? 30 * 1024 : 0);
        EXPECT_EQ(r.logged("Limite di banda 30 KiB/s"), limited ? 1 : 0);
        r.yields = 0;
        p.sftpSession->announce(SessionMoment::Fetching, "/in/a", "/tmp/a");
        EXPECT_EQ(r.yields > 0, pauses);  // a pause lets the window's events run
        EXPECT_EQ(r.logged(" Downloading file /tmp/a /in/a"), 1);
    }
}

TEST(Startup, LeftoversOfAnInterruptedRunGo) {
    Rig r;
    writeFile(r.dir / "tempozipftp" / "half.pdf", "x");
    writeFile(r.dir / "in" / ".vs-0999999999-0000abcd.tmp", "x");
    writeFile(r.dir / "in" / "a.pdf.vs-part", "x");         // a user's name, however like ours
    writeFile(r.dir / ".vs-0999999999-0000abcd.tmp", "x");  // known_hosts being replaced
    writeFile(r.dir / "valtrassosftp.ini",
              "[PARAMETRI]\nDirLocale_3=" + r.dir.path().string() + "/in\n");
    r.start("");
    EXPECT_EQ(test::filesBelow(r.dir / "tempozipftp").size(), 0u);
    EXPECT_EQ(test::filesBelow(r.dir / "in"), std::vector<std::string>{"a.pdf.vs-part"});
    EXPECT_EQ(r.logged("Rimossi 3 file temporanei lasciati da un'esecuzione interrotta"), 1);
}

// Settings that give nothing to run: no cycle is tried, and each one that was due fails
// loudly, in mod:asp (exit code 2) as on the timer.
TEST(Startup, UnusableSettingsRunNoCycleAndEveryDueOneFails) {
    for (const char* mode : {"mod:asp", "mod:auto"}) {
        Rig r;
        std::filesystem::remove(r.dir / "valtrassosftp.ini");
        std::filesystem::create_directory(r.dir / "valtrassosftp.ini");
        Program& p = r.start(mode);
        for (int tick = 0; tick < 2 && p.mode == "auto"; ++tick) {
            r.clock.advance(std::chrono::seconds(60));
            r.control->Timer1_Timer();
        }
        EXPECT_EQ(r.cycles, 0);
        EXPECT_EQ(r.reported,
                  std::vector<CycleOutcome>(p.mode == "auto" ? 2 : 1, CycleOutcome::ConfigInvalid));
        EXPECT_EQ(aspExitCode(p.lastOutcome), kExitConfigInvalid);
        EXPECT_EQ(r.logged(" Parametri non utilizzabili: file dei parametri illeggibile; ciclo "
                           "non eseguito"),
                  p.mode == "auto" ? 2 : 1);
    }
}

// Tokens that carry no switch stay ignored, and values that do nothing stay without effect;
// each is said.
TEST(CommandLine, WhatIsIgnoredIsSaid) {
    using Said = std::vector<std::string>;
    for (const auto& [args, said] : {
             std::pair<const char*, Said>{"mod:auto ope:x once:y plus:Y --headless --check", {}},
             {"-h OPE:x --connect",
              {"argomento ignorato: -h", "argomento ignorato: OPE:x", "--connect vale solo con"}},
             {"mod:aps once:yes plus:yes",
              {"mod:aps non e' una modalita", "once:yes non vale nulla",
               "plus:YES non vale nulla"}},
             {"ope:a ope:b ope:c ope:d ope:e ope:f ope:g ope:h ope:i ope:j once:y",
              {"argomento ignorato (oltre il decimo): once:y"}},
         }) {
        const std::vector<std::string> lines = commandLineWarnings(args);
        ASSERT_EQ(lines.size(), said.size()) << args;
        for (std::size_t i = 0; i < said.size(); ++i)
            EXPECT_NE(lines[i].find(said[i]), std::string::npos) << lines[i];
    }
}

TEST(CommandLine, SwitchesAreReadFromFixedPositionsAndTheLastOneWins) {
    // The command line, then what it gives: operator, mode, once, plus.
    for (const auto& [line, operatorCode, mode, once, plus] : {
             std::tuple{"", "TUTTI", "", "", "n"},
             {" ope:ab1\t\tmod:AUTO  once:Y ", "AB1", "auto", "y", "n"},
             {"ope:a x ope:b", "B", "", "", "n"},
             {"xope:abc", ":ABC", "", "", "n"},               // the position is fixed
             {"OPE:x MOD:asp PLUS:y", "TUTTI", "", "", "n"},  // case counts
             {"plus:y ope:", "", "", "", "Y"},
             {"a b c d e f g h i j ope:late", "TUTTI", "", "", "n"},
         }) {
        SCOPED_TRACE(line);
        const auto args = GetCommandLine(line, 10);
        const FormSwitches s = readFormSwitches(args);
        EXPECT_EQ(s.operatorCode, operatorCode);
        EXPECT_EQ(s.mode, mode);
        EXPECT_EQ(s.once, once);
        EXPECT_EQ(readPlusSetting(args), plus);
    }
    // Eleven entries, tokens from the second, no quoting.
    EXPECT_EQ(GetCommandLine(" \"x y\"\t", 10),
              (std::vector<std::string>{"", "\"x", "y\"", "", "", "", "", "", "", "", ""}));
}

TEST(RunControl, ManualStartSetsThePeriodAndRunsDueCycles) {
    Rig r;
    r.start("").settings.server.cbotime = "15";
    r.control->Command1_Click();
    EXPECT_TRUE(r.timer.on);
    EXPECT_EQ(r.timer.period, 15000);
    EXPECT_EQ(r.program->Command1.caption, "Arresta il download");
    EXPECT_EQ(r.cycles, 1);
    const auto tickAfter = [&](std::chrono::seconds s) {
        r.clock.advance(s);
        r.control->Timer1_Timer();
        return r.cycles;
    };
    EXPECT_EQ(tickAfter(14s), 1);
    EXPECT_EQ(tickAfter(1s), 2);

    r.control->Command1_Click();
    EXPECT_FALSE(r.timer.on);
    EXPECT_EQ(r.program->Command1.caption, "Avvia il download");
    r.clock.advance(3s);
    r.control->Command1_Click();  // started again before the interval passed
    EXPECT_EQ(r.cycles, 2);
    EXPECT_EQ(tickAfter(-3600s), 2);  // the clock set back holds the cycles until it catches up
    EXPECT_EQ(tickAfter(3620s), 3);
    r.control->mnuBreak_Click();
    EXPECT_TRUE(r.program->session.abortRequest);
}

TEST(RunControl, TheButtonAndTheTickReadTheIntervalTheirOwnWays) {
    for (auto [text, shown, period] :
         {std::tuple{"90", "60", 60000}, {"abc", "abc", 60000}, {"0", "0", 0}}) {
        Rig r;
        r.start("").settings.server.cbotime = text;
        r.control->Command1_Click();
        EXPECT_EQ(r.program->settings.server.cbotime, shown);
        EXPECT_EQ(r.timer.period, period);
    }
    for (auto [text, seconds] :
         {std::pair{"120", 12}, {"5", 5}, {"0", 0}, {"99", 60}, {"", 60}, {"ab", 60}, {"-5", 60}})
        EXPECT_EQ(RunControl::tickInterval(text), seconds) << text;
}

TEST(RunControl, ATickWaitsWhileConnectedAndOnceStopsTheTimer) {
    Rig r;
    r.start("mod:auto once:y").settings.server.cbotime = "10";
    r.duringCycle = [&] {  // a tick nested in a cycle only waits
        r.program->session.connected = true;
        r.clock.advance(30s);
        r.control->Timer1_Timer();
        EXPECT_EQ(r.lastLine(), " Aspetto a collegarmi perche' ancora collegato");
        r.program->session.connected = false;
    };
    r.control->Timer1_Timer();
    EXPECT_EQ(r.cycles, 1);
    EXPECT_FALSE(r.timer.on);
    EXPECT_EQ(r.lastLine(), " Disabilito per parametro Once");
    EXPECT_FALSE(r.program->Command1.enabled);
}

}  // namespace
}  // namespace vs
