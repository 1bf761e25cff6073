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
