#include "shell/run_control.h"

#include <gtest/gtest.h>

#include "shell/fake_shell.h"
#include "shell/program.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace vs {
namespace {

using namespace std::chrono_literals;

struct RunControlFixture : ::testing::Test {
    test::TempDir dir;
    test::FakeClock clock;
    test::FakeView view;
    test::FakeTimer timer;
    std::unique_ptr<Program> program;
    std::unique_ptr<RunControl> control;
    int cycles = 0;
    std::function<void()> duringCycle;

    void start(const std::string& args, const std::string& cbotime) {
        timer = test::FakeTimer{};
        program = std::make_unique<Program>(
            clock, ProgramConfig{dir.path(), {}, args, englishWeekdayNames()}, view, timer, nullptr,
            nullptr, [] {}, [](int) {});
        program->setCycleEntry([this] {
            ++cycles;
            if (duringCycle) duringCycle();
            return CycleOutcome::Clean;
        });
        program->Form_Load();
        program->settings.server.cbotime = cbotime;
        control = std::make_unique<RunControl>(*program);
        program->log.scrivi_file_log();
    }
    std::string lastLine() const { return program->log.List1().back().substr(8); }
};

TEST_F(RunControlFixture, ManualStartSetsThePeriodAndRunsADueCycleAtOnce) {
    start("", "15");
    control->Command1_Click();
    EXPECT_TRUE(timer.on);
    EXPECT_EQ(timer.period, 15000);
    EXPECT_EQ(program->Command1.caption, "Arresta il download");
    EXPECT_EQ(cycles, 1);
    clock.advance(14s);
    control->Timer1_Timer();
    EXPECT_EQ(cycles, 1);
    clock.advance(1s);
    control->Timer1_Timer();
    EXPECT_EQ(cycles, 2);

    control->Command1_Click();  // stop
    EXPECT_FALSE(timer.on);
    EXPECT_EQ(program->Command1.caption, "Avvia il download");
    clock.advance(3s);
    control->Command1_Click();  // start again within the interval: not due yet
    EXPECT_EQ(cycles, 2);
}

TEST_F(RunControlFixture, TheTwoReadingsOfTheInterval) {
    start("", "90");
    control->Command1_Click();
    EXPECT_EQ(program->settings.server.cbotime, "60");
    EXPECT_EQ(timer.period, 60000);

    EXPECT_EQ(RunControl::tickInterval("120"), 12);  // a tick reads two characters
    EXPECT_EQ(RunControl::tickInterval("5"), 5);
    EXPECT_EQ(RunControl::tickInterval("99"), 60);
    EXPECT_EQ(RunControl::tickInterval(""), 60);
    EXPECT_EQ(RunControl::tickInterval("ab"), 60);
    EXPECT_EQ(RunControl::tickInterval("-5"), 60);

    start("", "abc");
    control->Command1_Click();
    EXPECT_EQ(timer.period, 60000);
    start("", "0");
    control->Command1_Click();
    EXPECT_EQ(timer.period, 0);  // no periodic ticks; the direct tick still ran a cycle
    EXPECT_EQ(cycles, 3);
}

TEST_F(RunControlFixture, WaitsWhileConnectedAndHonoursOnce) {
    start("mod:auto once:y", "10");
    program->session.connected = true;
    control->Timer1_Timer();
    EXPECT_EQ(cycles, 0);
    EXPECT_EQ(lastLine(), " Aspetto a collegarmi perche' ancora collegato");
    program->session.connected = false;
    control->Timer1_Timer();
    EXPECT_EQ(cycles, 1);
    EXPECT_FALSE(timer.on);
    EXPECT_EQ(lastLine(), " Disabilito per parametro Once");
    EXPECT_FALSE(program->Command1.enabled);  // auto mode keeps the button disabled
}

TEST_F(RunControlFixture, NestedTickDuringACycleOnlyWaits) {
    start("mod:auto", "10");
    duringCycle = [&] {
        program->session.connected = true;
        clock.advance(30s);
        control->Timer1_Timer();
        program->session.connected = false;
    };
    control->Timer1_Timer();
    EXPECT_EQ(cycles, 1);
    EXPECT_EQ(lastLine(), " Aspetto a collegarmi perche' ancora collegato");
}

TEST_F(RunControlFixture, ClockSetBackHoldsCyclesUntilItCatchesUp) {
    start("mod:auto", "10");
    control->Timer1_Timer();
    EXPECT_EQ(cycles, 1);
    clock.advance(-3600s);
    control->Timer1_Timer();
    EXPECT_EQ(cycles, 1);
    clock.advance(3610s);
    control->Timer1_Timer();
    EXPECT_EQ(cycles, 2);
}

TEST_F(RunControlFixture, BreakRaisesTheAbortRequest) {
    start("", "15");
    control->mnuBreak_Click();
    EXPECT_TRUE(program->session.abortRequest);
}

}  // namespace
}  // namespace vs
