// The real program binary, run headless in a temporary program folder.
#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "support/server_process.h"
#include "support/temp_dir.h"

namespace vs {
namespace {

using namespace std::chrono_literals;
using test::ServerProcess;
using test::TempDir;

std::string dayLog(const TempDir& home) {
    for (auto& e : std::filesystem::directory_iterator(home / "log"))
        return test::readFile(e.path());
    return {};
}

bool startProgram(ServerProcess& p, const TempDir& home, std::vector<std::string> args) {
    args.insert(args.begin(), test::programBinary());
    return p.start(args, {"VALTRASSOSFTP_HOME=" + home.path().string(), "LC_ALL=C"});
}

// Waits until the program printed the text (it is up and past start-up).
bool waitForOutput(ServerProcess& p, const std::string& text) {
    for (int i = 0; i < 200; ++i) {
        if (p.output().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

TEST(Headless, HelpListsSwitchesFilesAndEnvironment) {
    ServerProcess p;
    ASSERT_TRUE(p.start({test::programBinary(), "--help"}));
    EXPECT_EQ(p.wait(10s), 0);
    for (const char* s : {"plus:", "ope:", "mod:", "once:", "--headless", "VALTRASSOSFTP_HOME",
                          "valtrassosftp.ini", "tempozipftp", "known_hosts"})
        EXPECT_NE(p.output().find(s), std::string::npos) << s;
}

TEST(Headless, AspWithNothingToDoEndsWithZeroAndWritesItsLog) {
    TempDir home;
    ServerProcess p;
    ASSERT_TRUE(startProgram(p, home, {"mod:asp", "--headless"}));
    EXPECT_EQ(p.wait(20s), 0);
    const std::string out = p.output();
    // Exactly the two lines of a cycle with nothing to do follow the start-up lines.
    const std::string expected = "Creato directory " + home.path().string() +
                                 "/tempozipftp/\nModalita ASP\nOperatore TUTTI\n";
    ASSERT_EQ(out.rfind(expected, 0), 0u) << out;
    const std::string rest = out.substr(expected.size());
    ASSERT_EQ(rest.size(), 66u) << rest;
    EXPECT_EQ(rest.substr(8, 8), " Ciclo 1");
    EXPECT_EQ(rest.substr(25), " Non mi collego non c'e' niente da fare \n");
    EXPECT_TRUE(std::filesystem::is_directory(home / "tempozipftp"));
    const std::string file = dayLog(home);
    EXPECT_NE(file.find("Modalita ASP\r\nOperatore TUTTI\r\n"), std::string::npos);
}

TEST(Headless, AutoModeRunsACycleEverySecond) {
    TempDir home;
    test::writeFile(home / "valtrassosftp.ini", "[PARAMETRI]\r\ndeltatime=1\r\n");
    ServerProcess p;
    ASSERT_TRUE(startProgram(p, home, {"mod:auto", "--headless"}));
    EXPECT_TRUE(waitForOutput(p, " Ciclo 3\n"));
    EXPECT_NE(p.output().find("Modalita AUTO Timer attivato\n"), std::string::npos);
    EXPECT_NE(p.output().find(" Ciclo 2\n"), std::string::npos);
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(10s), 0);
}

TEST(Headless, AspWithAFailedConnectionEndsWithOne) {
    TempDir home;
    // Port 1 on the loopback address: nothing listens there.
    test::writeFile(home / "valtrassosftp.ini",
                    "[PARAMETRI]\nhost=127.0.0.1:1\ntiposerver=Ftp\nDirRemota_0=/in\n"
                    "DirLocale_0=" +
                        home.path().string() +
                        "\nTipoFile_0=TUTTI\n"
                        "CancelloFile_0=NO\nTipoOperazione_0=Download\n");
    ServerProcess p;
    ASSERT_TRUE(startProgram(p, home, {"mod:asp", "--headless"}));
    EXPECT_EQ(p.wait(60s), 1) << p.output();
    EXPECT_NE(dayLog(home).find("Connecting Ftp"), std::string::npos);
}

TEST(Headless, SigtermRunsTheOrderlyShutdown) {
    TempDir home;
    ServerProcess p;
    ASSERT_TRUE(startProgram(p, home, {"--headless", "ope:x1"}));
    ASSERT_TRUE(waitForOutput(p, "Creato directory"));
    std::this_thread::sleep_for(200ms);
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(10s), 0);
    const std::string file = dayLog(home);
    ASSERT_GE(file.size(), 22u);
    EXPECT_TRUE(file.ends_with(" Chiusura Volontaria\r\n")) << file;
}

TEST(Headless, SecondInstanceEndsQuietlyUnlessPlusY) {
    TempDir home, other;
    ServerProcess first;
    ASSERT_TRUE(startProgram(first, home, {"--headless"}));
    ASSERT_TRUE(waitForOutput(first, "Creato directory"));
    std::this_thread::sleep_for(300ms);

    ServerProcess second;
    ASSERT_TRUE(startProgram(second, home, {"--headless", "mod:auto"}));
    EXPECT_EQ(second.wait(10s), 0);
    EXPECT_EQ(second.output(), "");  // refused before anything is logged

    ServerProcess allowed;
    ASSERT_TRUE(startProgram(allowed, home, {"--headless", "plus:y"}));
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(allowed.running());

    ServerProcess elsewhere;  // another program folder: another installation
    ASSERT_TRUE(startProgram(elsewhere, other, {"--headless"}));
    EXPECT_TRUE(waitForOutput(elsewhere, "Creato directory"));
    EXPECT_TRUE(elsewhere.running());

    for (ServerProcess* p : {&first, &allowed, &elsewhere}) {
        p->signal(SIGTERM);
        EXPECT_EQ(p->wait(10s), 0);
    }
}

}  // namespace
}  // namespace vs
