// The headless program as systemd and a metrics collector see it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "support/servers.h"

namespace vs::test {
namespace {

namespace fs = std::filesystem;

// A datagram socket standing in for systemd's notification socket.
struct NotifySocket {
    explicit NotifySocket(const fs::path& path) {
        sockaddr_un a{AF_UNIX, {}};
        path.string().copy(a.sun_path, sizeof a.sun_path - 1);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    ~NotifySocket() { ::close(fd); }
    // Every message that arrived so far, one per line.
    const std::string& messages() {
        char buf[4096];
        for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
            received += std::string(buf, static_cast<std::size_t>(n)) + "\n";
        return received;
    }
    int count(const std::string& what) { return occurrences(messages(), what); }
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    std::string received;
};

// The watchdog hears from the program while a transfer moves bytes, and no more once it
// stalls: a cycle that turns without getting anywhere lets systemd restart the program.
TEST(Service, ReadyStatusWatchdogOnlyWhileATransferMovesStoppingAtSigterm) {
    TempDir dir;
    TestServer server(TestServer::Kind::Sftp,
                      {"--max-rate", "300000", "--stall-after-bytes", "900000"});
    ASSERT_TRUE(server.ok());
    writeFile(server.local("out") / "big.bin", patternBytes(2 << 20, 5));
    writeFile(server.local("out") / "scarica_ok", "");
    fs::create_directories(dir / "in");
    writeSettings(dir / "home", loginTo(server), {{"/out", (dir / "in").string(), "TUTTI", "SI"}});
    NotifySocket systemd(dir / "notify");
    ServerProcess program;
    ASSERT_TRUE(
        startProgram(program, dir / "home", {"mod:auto"},
                     {"NOTIFY_SOCKET=" + (dir / "notify").string(), "WATCHDOG_USEC=400000"}));
    // Reads what arrives, as systemd does: a full socket would hold the sender.
    const auto wait = [&](int tenths, const std::function<bool()>& done) {
        for (int i = 0; i < tenths && !done(); ++i) {
            systemd.messages();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    };
    wait(100, [&] { return program.output().find(" Scaricato ") != std::string::npos; });
    int before = systemd.count("WATCHDOG=1");
    wait(10, [] { return false; });  // bytes move meanwhile
    EXPECT_GE(systemd.count("WATCHDOG=1") - before, 2);
    const auto staged = [&] {
        std::uintmax_t bytes = 0;
        std::error_code gone;
        // A large download is staged in parziali/, where a later cycle could resume it.
        for (const auto& f : fs::recursive_directory_iterator(dir / "home" / "tempozipftp"))
            if (f.is_regular_file(gone)) bytes += f.file_size(gone);
        return bytes;
    };
    const auto quiet = [&] {  // the transfer stalls: no byte arrived for a second
        const std::uintmax_t was = staged();
        wait(10, [] { return false; });
        return staged() == was;
    };
    for (int i = 0; i < 20 && !quiet(); ++i) {
    }
    before = systemd.count("WATCHDOG=1");
    wait(20, [] { return false; });
    EXPECT_EQ(systemd.count("WATCHDOG=1") - before, 0);
    EXPECT_EQ(systemd.messages().find("READY=1"), 0u);
    program.signal(SIGTERM);
    wait(200, [&] { return !program.running(); });
    EXPECT_EQ(program.wait(std::chrono::seconds(1)), 0) << program.output();
    EXPECT_EQ(systemd.count("STOPPING=1"), 1);
    EXPECT_TRUE(fs::exists(server.root() / "out" / "big.bin"));
}

// One instance per program folder, however its path is spelled, unless plus:Y says otherwise.
TEST(Service, OneInstancePerFolderHoweverSpelledUnlessPlusY) {
    TempDir home, links;
    fs::create_directory_symlink(home.path(), links / "link");
    ServerProcess first;
    ASSERT_TRUE(startProgram(first, home.path(), {"mod:auto"}));
    for (int i = 0; i < 100 && first.output().find("Creato directory") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (const fs::path& spelling :
         {home.path(), fs::path(home.path().string() + "/"), home / ".", links / "link"}) {
        ServerProcess second;
        ASSERT_TRUE(startProgram(second, spelling, {"mod:auto"}));
        EXPECT_EQ(second.wait(std::chrono::seconds(10)), 0) << spelling;
        EXPECT_EQ(second.output(), "") << spelling;  // refused before anything is logged
    }
    // A one-cycle run that cannot run its cycle says so, with an exit code of its own.
    const ProgramRun refused = runProgram(home.path(), {"mod:asp"}, 20);
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_NE(refused.errors.find("un'altra istanza lavora gia' nella cartella"),
              std::string::npos);
    fs::create_directory(links / "empty");
    writeSettings(links / "link", {"127.0.0.1:" + std::to_string(unusedPort())},
                  {{"/in", (links / "empty").string(), "TUTTI", "NO", "Upload"}});
    const ProgramRun allowed = runProgram(links / "link", {"plus:y", "mod:asp"}, 20,
                                          {"VALTRASSOSFTP_METRICS=" + (links / "m.prom").string()});
    EXPECT_EQ(allowed.exitCode, 0);  // nothing to do is clean, and said
    EXPECT_NE(allowed.output.find(" Non mi collego non c'e' niente da fare \n"), std::string::npos);
    EXPECT_NE(readFile(links / "m.prom").find("outcome=\"nothing_to_do\"} 1"), std::string::npos);
    first.signal(SIGTERM);
    EXPECT_EQ(first.wait(std::chrono::seconds(10)), 0);
}

}  // namespace
}  // namespace vs::test
