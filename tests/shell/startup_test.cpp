#include <gtest/gtest.h>

#include "shell/fake_shell.h"
#include "shell/program.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace vs {
namespace {

using test::TempDir;
using test::writeFile;

struct StartupFixture : ::testing::Test {
    TempDir dir;
    test::FakeClock clock;
    test::FakeView view;
    test::FakeTimer timer;
    int sftpCreated = 0;
    int ended = -1;
    int cycles = 0;

    std::unique_ptr<Program> make(const std::string& args, std::filesystem::path fixed = {}) {
        ProgramConfig config{dir.path(), fixed, args, englishWeekdayNames()};
        auto p = std::make_unique<Program>(
            clock, config, view, timer,
            [this]() -> std::unique_ptr<SftpComponent> {
                ++sftpCreated;
                return nullptr;
            },
            nullptr, [] {}, [this](int code) { ended = code; });
        p->setCycleEntry([this] {
            ++cycles;
            return CycleOutcome::NothingToDo;
        });
        return p;
    }
};

TEST_F(StartupFixture, ManualModeWithoutArguments) {
    auto p = make("");
    p->Form_Load();
    ASSERT_EQ(p->log.size(), 1u);
    EXPECT_EQ(p->log.List1()[0], "Creato directory " + dir.path().string() + "/tempozipftp/");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "tempozipftp"));
    EXPECT_EQ(view.caption, "ValtrassoSftp - Vers. 4.0 - 16/10/09 ope: TUTTI");
    EXPECT_EQ(view.events, (std::vector<std::string>{"show", "tray+"}));
    EXPECT_TRUE(p->Command1.enabled);
    EXPECT_EQ(p->Command1.caption, "Avvia il download");
    EXPECT_FALSE(timer.on);
    EXPECT_EQ(cycles, 0);
    EXPECT_EQ(sftpCreated, 1);  // an empty server type loads as "Sftp"
    EXPECT_EQ(p->settings.settingsPath(), dir / "valtrassosftp.ini");

    // A second start finds the staging folder and says nothing about it.
    auto again = make("");
    again->Form_Load();
    EXPECT_EQ(again->log.size(), 0u);
}

TEST_F(StartupFixture, AutoModeEnablesTheTimerAndDisablesTheButton) {
    auto p = make("ope:op1 mod:AUTO");
    p->Form_Load();
    const auto& l = p->log.List1();
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[1], "Modalita AUTO Timer attivato");
    EXPECT_EQ(l[2], "Operatore OP1");
    EXPECT_TRUE(timer.on);
    EXPECT_EQ(timer.period, 1000);
    EXPECT_FALSE(p->Command1.enabled);
    EXPECT_EQ(view.caption, "ValtrassoSftp - Vers. 4.0 - 16/10/09 ope: OP1");
}

TEST_F(StartupFixture, AspModeRunsOneCycleInsideStartUp) {
    auto p = make("mod:asp");
    p->Form_Load();
    EXPECT_EQ(cycles, 1);
    EXPECT_FALSE(p->Command1.enabled);
    EXPECT_FALSE(timer.on);
    EXPECT_EQ(p->log.List1()[1], "Modalita ASP");
    EXPECT_EQ(p->lastOutcome, CycleOutcome::NothingToDo);
}

TEST_F(StartupFixture, FixedSettingsPathWinsAndFtpCreatesNoSessionObject) {
    writeFile(dir / "etc.ini", "[PARAMETRI]\ntiposerver=Ftp\nhost=fixed\n");
    writeFile(dir / "valtrassosftp.ini", "[PARAMETRI]\nhost=local\n");
    auto p = make("", dir / "etc.ini");
    p->Form_Load();
    EXPECT_EQ(p->settings.server.txtHost, "fixed");
    EXPECT_EQ(p->settings.serverType, "Ftp");
    EXPECT_EQ(sftpCreated, 0);

    auto q = make("", dir / "missing.ini");
    q->Form_Load();
    EXPECT_EQ(q->settings.server.txtHost, "local");
}

TEST_F(StartupFixture, MinimisedWindowIsHiddenAfterLoadingSettings) {
    view.minimized = true;
    auto p = make("");
    p->Form_Load();
    EXPECT_EQ(view.events, (std::vector<std::string>{"show", "tray+", "hide"}));
}

TEST_F(StartupFixture, ShutdownWritesTheClosingLineLastAndEnds) {
    auto p = make("");
    p->Form_Load();
    p->log.scrivi_log("a");
    p->shutdown();
    EXPECT_EQ(ended, 0);
    EXPECT_EQ(p->log.size(), 0u);
    const std::string file = test::readFile(p->log.todaysFile());
    EXPECT_TRUE(file.ends_with("a\r\n12:00:05 Chiusura Volontaria\r\n"));
    EXPECT_EQ(view.events.back(), "tray-");
}

}  // namespace
}  // namespace vs
