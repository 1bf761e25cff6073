// The real program binary, run headless in a temporary program folder.
#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "support/program_run.h"

namespace vs {
namespace {

using namespace std::chrono_literals;
using test::ServerProcess;
using test::TempDir;

bool startIn(ServerProcess& p, const std::filesystem::path& home, std::vector<std::string> args) {
    args.insert(args.begin(), test::programBinary());
    args.push_back("--headless");
    return p.start(args, {"VALTRASSOSFTP_HOME=" + home.string(), "LC_ALL=C"});
}

bool waitForOutput(ServerProcess& p, const std::string& text) {
    for (int i = 0; i < 200; ++i) {
        if (p.output().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

// The exit code says whether the one cycle was clean; every line printed is in the day's file.
TEST(Headless, AspExitCodeAndLog) {
    TempDir idle, failing;
    test::writeSettings(failing.path(), {"127.0.0.1:" + std::to_string(test::unusedPort()), "Ftp"},
                        {{"/in", failing.path().string()}});
    for (auto [home, exitCode] : {std::pair{&idle, 0}, std::pair{&failing, 1}}) {
        const test::ProgramRun run = test::runProgram(home->path(), {"mod:asp"}, 60);
        EXPECT_EQ(run.exitCode, exitCode) << run.output;
        EXPECT_NE(run.output.find("Modalita ASP\n"), std::string::npos);
        std::string log = test::dayLogs(home->path());
        std::erase(log, '\r');
        EXPECT_EQ(log, run.output);
    }
}

// Killed in the middle of its timer-driven cycles, the program leaves every line it printed in
// the day's file (stopped in order, see the end-to-end SIGTERM test).
TEST(Headless, TheLogSurvivesSigkill) {
    TempDir home;
    ServerProcess p;
    test::writeFile(home / "valtrassosftp.ini", "[PARAMETRI]\r\ndeltatime=1\r\n");
    ASSERT_TRUE(startIn(p, home.path(), {"mod:auto"}));
    ASSERT_TRUE(waitForOutput(p, " Ciclo 2\n"));
    p.kill();
    EXPECT_NE(test::dayLogs(home.path()).find(" Ciclo 2\r\n"), std::string::npos);
}

TEST(Headless, OneInstancePerFolderHoweverSpelledUnlessPlusY) {
    TempDir home, links;
    std::filesystem::create_directory_symlink(home.path(), links / "link");
    ServerProcess first;
    ASSERT_TRUE(startIn(first, home.path(), {}));
    ASSERT_TRUE(waitForOutput(first, "Creato directory"));
    std::this_thread::sleep_for(300ms);

    for (const std::filesystem::path& spelling :
         {home.path(), std::filesystem::path(home.path().string() + "/"), home / ".",
          links / "link"}) {
        ServerProcess second;
        ASSERT_TRUE(startIn(second, spelling, {"mod:auto"}));
        EXPECT_EQ(second.wait(10s), 0) << spelling;
        EXPECT_EQ(second.output(), "") << spelling;  // refused before anything is logged
    }
    const test::ProgramRun allowed = test::runProgram(links / "link", {"plus:y", "mod:asp"}, 20);
    EXPECT_EQ(allowed.exitCode, 0);
    EXPECT_NE(allowed.output.find("Modalita ASP"), std::string::npos);
    first.signal(SIGTERM);
    EXPECT_EQ(first.wait(10s), 0);
}

}  // namespace
}  // namespace vs
