// Connecting: host keys on first sight and when changed, logins refused or offered only as
// keyboard-interactive, unreachable ports, and many connect/disconnect cycles.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>

#include "common/runtime_error.h"
#include "sftp_test_support.h"

namespace vs::test {
namespace {

using namespace std::chrono_literals;

int lineCount(const std::string& text) {
    int lines = 0;
    for (char c : text) lines += c == '\n';
    return lines;
}

TEST(SftpConnect, FirstSightRecordsTheHostKeyAndLogsItsFingerprint) {
    TestSftpServer server;
    ASSERT_TRUE(server.start());
    ComponentUnderTest c;
    c.configure(server.port(), server.knownHosts());
    ASSERT_TRUE(c.connect());
    EXPECT_EQ(c.events.connections[0].text, "");
    EXPECT_TRUE(c.events.allOnCallerThread());

    const std::string recorded = readFile(server.knownHosts());
    const std::string name = "[127.0.0.1]:" + std::to_string(server.port());
    EXPECT_EQ(recorded.rfind(name + " ssh-ed25519 AAAA", 0), 0u) << recorded;
    EXPECT_EQ(lineCount(recorded), 1);
    struct stat st {};
    ASSERT_EQ(::stat(server.knownHosts().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const std::string fingerprint = sshKeygenFingerprint(server.hostKey().string() + ".pub");
    ASSERT_FALSE(fingerprint.empty());
    ASSERT_EQ(c.log.size(), 1u);
    EXPECT_EQ(c.log[0][0], ' ');
    EXPECT_NE(c.log[0].find(name), std::string::npos) << c.log[0];
    EXPECT_NE(c.log[0].find(fingerprint), std::string::npos) << c.log[0] << " / " << fingerprint;

    // Known now: the next connection neither records nor logs anything.
    c.component->disconnect();
    EXPECT_EQ(c.component->stateCode(), 0);
    ASSERT_TRUE(c.connect());
    EXPECT_EQ(readFile(server.knownHosts()), recorded);
    EXPECT_EQ(c.log.size(), 1u);
}

TEST(SftpConnect, ChangedHostKeyIsRefusedNamingBothFingerprints) {
    TestSftpServer server;
    ASSERT_TRUE(server.start());
    const int port = server.port();
    ComponentUnderTest c;
    c.configure(port, server.knownHosts());
    ASSERT_TRUE(c.connect());
    c.component->disconnect();
    const std::string recorded = readFile(server.knownHosts());
    const std::string oldPrint = sshKeygenFingerprint(server.hostKey().string() + ".pub");

    // Same address, another ed25519 key.
    server.stop();
    std::filesystem::rename(server.hostKey(), server.dir() / "old_key");
    std::filesystem::rename(server.hostKey().string() + ".pub", server.dir() / "old_key.pub");
    ASSERT_TRUE(server.start({}, port));
    const std::string newPrint = sshKeygenFingerprint(server.hostKey().string() + ".pub");
    ASSERT_NE(oldPrint, newPrint);

    c.events.clear();
    c.component->connect();
    ASSERT_EQ(c.events.connections.size(), 1u);
    const auto& refused = c.events.connections[0];
    EXPECT_NE(refused.code, 0);
    EXPECT_NE(refused.text.find("[127.0.0.1]:" + std::to_string(port)), std::string::npos)
        << refused.text;
    EXPECT_NE(refused.text.find(oldPrint), std::string::npos) << refused.text;
    EXPECT_NE(refused.text.find(newPrint), std::string::npos) << refused.text;
    EXPECT_EQ(c.component->stateCode(), 4);
    EXPECT_EQ(readFile(server.knownHosts()), recorded);
    EXPECT_THROW(c.component->listFolder("/"), RuntimeError);

    // A key of another type is no way around the check (libssh2 alone would call the host
    // unknown and let it be recorded).
    server.stop();
    std::filesystem::remove(server.hostKey());
    std::filesystem::remove(server.hostKey().string() + ".pub");
    ASSERT_TRUE(
        runCommand("ssh-keygen -q -t ecdsa -b 256 -N '' -f '" + server.hostKey().string() + "'"));
    ASSERT_TRUE(server.start({}, port));
    c.events.clear();
    c.component->connect();
    ASSERT_EQ(c.events.connections.size(), 1u);
    EXPECT_NE(c.events.connections[0].code, 0);
    EXPECT_NE(c.events.connections[0].text.find(oldPrint), std::string::npos)
        << c.events.connections[0].text;
    EXPECT_EQ(readFile(server.knownHosts()), recorded);
}

TEST(SftpConnect, RefusedLoginIsReportedByTheEventNotThrown) {
    TestSftpServer server;
    ASSERT_TRUE(server.start({"--refuse-login"}));
    ComponentUnderTest c;
    c.configure(server.port(), server.knownHosts());
    EXPECT_NO_THROW(c.component->connect());
    ASSERT_EQ(c.events.connections.size(), 1u);
    EXPECT_NE(c.events.connections[0].code, 0);
    const std::string& text = c.events.connections[0].text;
    EXPECT_NE(text.find("tester"), std::string::npos) << text;
    EXPECT_NE(text.find("127.0.0.1:" + std::to_string(server.port())), std::string::npos) << text;
    EXPECT_NE(text.find("password refused"), std::string::npos) << text;
    EXPECT_EQ(c.component->stateCode(), 4);
    try {
        c.component->fetch(server.local("x").string(), "/x");
        ADD_FAILURE() << "fetch without a session did not throw";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), kErrConnection);
        EXPECT_NE(e.description().find("not connected"), std::string::npos) << e.description();
    }
}

TEST(SftpConnect, KeyboardInteractiveOnlyServerGetsThePassword) {
    TestSftpServer server;
    ASSERT_TRUE(server.start({"--kbdint-only"}));
    writeFile(server.root() / "a.txt", "abc");
    ComponentUnderTest c;
    c.configure(server.port(), server.knownHosts());
    ASSERT_TRUE(c.connect());
    c.component->listFolder("/");
    ASSERT_FALSE(c.events.listings.empty());
    EXPECT_NE(c.events.listings[0].find(" a.txt\r\n"), std::string::npos);

    // And a wrong password is refused there too, by the event.
    c.component->disconnect();
    c.configure(server.port(), server.knownHosts(), "tester", "wrong");
    c.events.clear();
    c.component->connect();
    ASSERT_EQ(c.events.connections.size(), 1u);
    EXPECT_NE(c.events.connections[0].code, 0);
    EXPECT_NE(c.events.connections[0].text.find("keyboard-interactive"), std::string::npos)
        << c.events.connections[0].text;
}

TEST(SftpConnect, UnreachablePortIsReportedQuicklyWithoutThrowing) {
    TempDir dir;
    ComponentUnderTest c;
    const int port = unusedPort();
    c.configure(port, dir / "known_hosts");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NO_THROW(c.component->connect());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    ASSERT_EQ(c.events.connections.size(), 1u);
    EXPECT_NE(c.events.connections[0].code, 0);
    EXPECT_NE(c.events.connections[0].text.find("127.0.0.1:" + std::to_string(port)),
              std::string::npos)
        << c.events.connections[0].text;
    EXPECT_NE(c.events.connections[0].text.find("refused"), std::string::npos);
    EXPECT_EQ(c.component->stateCode(), 4);
    EXPECT_FALSE(std::filesystem::exists(dir / "known_hosts"));
    EXPECT_NO_THROW(c.component->disconnect());
    EXPECT_EQ(c.component->stateCode(), 0);

    // No host at all is a refused connection as well, not an exception.
    c.component->setHostName("");
    c.events.clear();
    EXPECT_NO_THROW(c.component->connect());
    ASSERT_EQ(c.events.connections.size(), 1u);
    EXPECT_NE(c.events.connections[0].code, 0);
}

TEST(SftpConnect, ManyCyclesLeakNoDescriptors) {
    TestSftpServer server;
    ASSERT_TRUE(server.start());
    writeFile(server.root() / "f.txt", "12345");
    ComponentUnderTest c;
    c.configure(server.port(), server.knownHosts());
    // The first cycle sets up what stays for the process (libssh2's and OpenSSL's state).
    ASSERT_TRUE(c.connect());
    c.component->disconnect();
    const int before = openDescriptors();
    for (int cycle = 0; cycle < 50; ++cycle) {
        ASSERT_TRUE(c.connect()) << "cycle " << cycle;
        c.component->getAttributes("/f.txt");
        c.component->disconnect();
        ASSERT_EQ(c.component->stateCode(), 0);
        // Disconnecting twice is harmless.
        c.component->disconnect();
    }
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(c.events.attributes.size(), 50u);
    EXPECT_EQ(c.log.size(), 1u);  // the host key was learnt once
}

}  // namespace
}  // namespace vs::test
