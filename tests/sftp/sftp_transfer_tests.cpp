// Downloads and uploads: content, the progress rules (at most one event every 250 ms, a
// closing event with Position == Total), yield during long transfers, abort from inside a
// Progress event, dropped and silent servers, growing files, re-entrant calls, local errors.
#include <gtest/gtest.h>

#include <chrono>

#include "common/runtime_error.h"
#include "sftp_test_support.h"

namespace vs::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kLarge = 20 * 1024 * 1024;

class SftpTransfer : public ::testing::Test {
  protected:
    void startAndConnect(const std::vector<std::string>& extra = {}, int timeoutSeconds = 20) {
        ASSERT_TRUE(server.start(extra));
        c.configure(server.port(), server.knownHosts(), "tester", "secret", timeoutSeconds);
        ASSERT_TRUE(c.connect());
    }

    // Intermediate events below Total and at least 250 ms apart, then one closing event.
    static void expectProgressRules(const std::vector<EventRecorder::Step>& steps,
                                    std::int64_t size) {
        ASSERT_FALSE(steps.empty()) << "no Progress event at all";
        EXPECT_EQ(steps.back().position, size);
        EXPECT_EQ(steps.back().total, size);
        for (std::size_t i = 0; i + 1 < steps.size(); ++i) {
            EXPECT_LT(steps[i].position, steps[i].total) << "event " << i;
            EXPECT_GT(steps[i].position, 0) << "event " << i;
            if (i > 0) {
                EXPECT_GE(steps[i].position, steps[i - 1].position);
                // The clock read on both sides of a delivery differs by a little.
                EXPECT_GE(steps[i].at - steps[i - 1].at, 245ms)
                    << "events " << i - 1 << " and " << i;
            }
        }
    }

    static void expectError(const std::function<void()>& call, int number,
                            const std::string& part) {
        try {
            call();
            ADD_FAILURE() << "no error, expected one with \"" << part << "\"";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), number) << e.description();
            EXPECT_NE(e.description().find(part), std::string::npos) << e.description();
        }
    }

    TestSftpServer server;
    ComponentUnderTest c;
};

TEST_F(SftpTransfer, EmptyAndSmallFilesBothWays) {
    startAndConnect();
    writeFile(server.root() / "empty.txt", "");
    writeFile(server.root() / "small.txt", "hello");
    for (const auto& [name, content] :
         {std::pair{"empty.txt", ""}, std::pair{"small.txt", "hello"}}) {
        SCOPED_TRACE(name);
        const std::string size = std::to_string(std::string(content).size());
        c.events.progress.clear();
        c.component->fetch(server.local(name).string(), std::string("/") + name);
        EXPECT_EQ(readFile(server.local(name)), content);
        EXPECT_FALSE(std::filesystem::exists(server.local(std::string(name) + ".part")));
        ASSERT_EQ(c.events.progress.size(), 1u);
        EXPECT_EQ(c.events.progress[0].position, c.events.progress[0].total);
        EXPECT_EQ(std::to_string(c.events.progress[0].total), size);

        c.events.progress.clear();
        c.component->send(server.local(name).string(), std::string("/up_") + name);
        EXPECT_EQ(readFile(server.root() / (std::string("up_") + name)), content);
        ASSERT_EQ(c.events.progress.size(), 1u);
        EXPECT_EQ(std::to_string(c.events.progress[0].position), size);
        EXPECT_EQ(c.events.progress[0].position, c.events.progress[0].total);
    }
    // An upload replaces what was there.
    writeFile(server.root() / "up_small.txt", "much longer old content");
    c.component->send(server.local("small.txt").string(), "/up_small.txt");
    EXPECT_EQ(readFile(server.root() / "up_small.txt"), "hello");
    EXPECT_EQ(c.component->stateCode(), 2);
    EXPECT_TRUE(c.events.allOnCallerThread());
}

TEST_F(SftpTransfer, LargeFilesKeepTheProgressRulesAndYield) {
    // 12 MB/s makes each direction last well over a second.
    startAndConnect({"--max-rate", "12000000"});
    const std::string data = patternBytes(kLarge, 1);
    writeFile(server.root() / "big.bin", data);

    c.yields = 0;
    auto start = Clock::now();
    c.component->fetch(server.local("big.bin").string(), "/big.bin");
    auto elapsed = Clock::now() - start;
    EXPECT_TRUE(readFile(server.local("big.bin")) == data) << "downloaded content differs";
    expectProgressRules(c.events.progress, kLarge);
    EXPECT_GE(c.events.progress.size(), 3u);
    // About every 50 ms; generous for a loaded machine.
    EXPECT_GE(c.yields, static_cast<int>(elapsed / 100ms)) << c.yields << " yields";
    EXPECT_EQ(c.component->stateCode(), 2);

    c.events.progress.clear();
    c.yields = 0;
    std::filesystem::remove(server.root() / "big.bin");
    start = Clock::now();
    c.component->send(server.local("big.bin").string(), "/big_up.bin");
    elapsed = Clock::now() - start;
    EXPECT_TRUE(readFile(server.root() / "big_up.bin") == data) << "uploaded content differs";
    expectProgressRules(c.events.progress, kLarge);
    EXPECT_GE(c.events.progress.size(), 3u);
    EXPECT_GE(c.yields, static_cast<int>(elapsed / 100ms)) << c.yields << " yields";
    EXPECT_TRUE(c.events.allOnCallerThread());
}

TEST_F(SftpTransfer, AbortFromInsideProgressEndsTheTransferAndKeepsTheSession) {
    // 8 MB/s: the whole file would take 2.6 s; an abort waits only for the read requests
    // already on their way.
    startAndConnect({"--max-rate", "8000000"});
    writeFile(server.root() / "big.bin", patternBytes(kLarge, 2));
    int aborts = 0;
    c.events.onProgress = [&](std::int64_t position, std::int64_t total) {
        if (position < total && aborts++ == 0) c.component->abort();
    };
    auto start = Clock::now();
    expectError([&] { c.component->fetch(server.local("big.bin").string(), "/big.bin"); },
                kErrGeneric, "aborted");
    EXPECT_LT(Clock::now() - start, 1500ms);
    EXPECT_FALSE(std::filesystem::exists(server.local("big.bin")));
    EXPECT_FALSE(std::filesystem::exists(server.local("big.bin.part")));
    EXPECT_EQ(c.component->stateCode(), 2);

    writeFile(server.local("up.bin"), patternBytes(kLarge, 3));
    aborts = 0;
    expectError([&] { c.component->send(server.local("up.bin").string(), "/up.bin"); }, kErrGeneric,
                "aborted");
    EXPECT_FALSE(std::filesystem::exists(server.root() / "up.bin")) << "partial upload left behind";

    // The same session carries on; an abort outside a transfer changes nothing.
    c.events.onProgress = nullptr;
    c.component->abort();
    c.component->fetch(server.local("big.bin").string(), "/big.bin");
    EXPECT_EQ(std::filesystem::file_size(server.local("big.bin")), kLarge);
}

TEST_F(SftpTransfer, DroppedConnectionLeavesNoFileThatLooksComplete) {
    startAndConnect({"--drop-after-bytes", "1048576"});
    writeFile(server.root() / "big.bin", patternBytes(5 * 1024 * 1024, 4));
    expectError([&] { c.component->fetch(server.local("big.bin").string(), "/big.bin"); },
                kErrConnection, "/big.bin");
    EXPECT_FALSE(std::filesystem::exists(server.local("big.bin")));
    EXPECT_FALSE(std::filesystem::exists(server.local("big.bin.part")));
    EXPECT_EQ(c.component->stateCode(), 4);
    expectError([&] { c.component->listFolder("/"); }, kErrConnection, "not connected");

    c.component->disconnect();
    ASSERT_TRUE(c.connect());
    writeFile(server.local("up.bin"), patternBytes(5 * 1024 * 1024, 5));
    expectError([&] { c.component->send(server.local("up.bin").string(), "/up.bin"); },
                kErrConnection, "/up.bin");
    EXPECT_EQ(c.component->stateCode(), 4);
    EXPECT_EQ(std::filesystem::file_size(server.local("up.bin")), 5u * 1024 * 1024);
}

TEST_F(SftpTransfer, SilentServerTimesOutInsteadOfHanging) {
    startAndConnect({"--stall-after-bytes", "1048576"}, 2);
    writeFile(server.root() / "big.bin", patternBytes(5 * 1024 * 1024, 6));
    writeFile(server.root() / "small.bin", "small");
    c.yields = 0;
    auto start = Clock::now();
    expectError([&] { c.component->fetch(server.local("big.bin").string(), "/big.bin"); },
                kErrConnection, "2 seconds");
    auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 1500ms);
    EXPECT_LT(elapsed, 10s);
    EXPECT_GE(c.yields, 15) << "the caller was not kept alive while waiting";
    EXPECT_FALSE(std::filesystem::exists(server.local("big.bin")));
    EXPECT_FALSE(std::filesystem::exists(server.local("big.bin.part")));
    EXPECT_EQ(c.component->stateCode(), 4);

    start = Clock::now();
    c.component->disconnect();
    EXPECT_LT(Clock::now() - start, 1s);

    // A new connection works, and so does an upload until the server falls silent again.
    ASSERT_TRUE(c.connect());
    c.component->fetch(server.local("small.bin").string(), "/small.bin");
    EXPECT_EQ(readFile(server.local("small.bin")), "small");
    writeFile(server.local("up.bin"), patternBytes(5 * 1024 * 1024, 7));
    start = Clock::now();
    expectError([&] { c.component->send(server.local("up.bin").string(), "/up.bin"); },
                kErrConnection, "2 seconds");
    EXPECT_LT(Clock::now() - start, 10s);
    c.component->disconnect();
}

TEST_F(SftpTransfer, AbortWhileTheServerIsSilentCutsTheConnectionInSeconds) {
    // The server falls silent with read requests still open, so closing the file after the
    // abort gets no answer either: the component must cut the connection, not wait 20 s.
    startAndConnect({"--stall-after-bytes", "2097152"});
    writeFile(server.root() / "big.bin", patternBytes(8 * 1024 * 1024, 10));
    c.events.onProgress = [&](std::int64_t position, std::int64_t total) {
        if (position < total) c.component->abort();
    };
    const auto start = Clock::now();
    expectError([&] { c.component->fetch(server.local("big.bin").string(), "/big.bin"); },
                kErrConnection, "aborted");
    EXPECT_LT(Clock::now() - start, 10s);
    EXPECT_FALSE(std::filesystem::exists(server.local("big.bin")));
    EXPECT_FALSE(std::filesystem::exists(server.local("big.bin.part")));
    EXPECT_EQ(c.component->stateCode(), 4);
    c.component->disconnect();
    ASSERT_TRUE(c.connect());
}

TEST_F(SftpTransfer, FileGrowingAfterStatIsFetchedWhole) {
    startAndConnect({"--grow-file", "grow.bin", "--grow-bytes", "100000"});
    writeFile(server.root() / "grow.bin", patternBytes(1024 * 1024, 8));
    c.component->getAttributes("/grow.bin");
    ASSERT_EQ(c.events.attributes.size(), 1u);
    EXPECT_EQ(c.events.attributes[0].size, 1024 * 1024);
    c.component->fetch(server.local("grow.bin").string(), "/grow.bin");
    const std::string onServer = readFile(server.root() / "grow.bin");
    ASSERT_EQ(onServer.size(), 1024u * 1024 + 100000);
    EXPECT_TRUE(readFile(server.local("grow.bin")) == onServer);
    ASSERT_FALSE(c.events.progress.empty());
    EXPECT_EQ(c.events.progress.back().position, static_cast<std::int64_t>(onServer.size()));
    EXPECT_EQ(c.events.progress.back().total, static_cast<std::int64_t>(onServer.size()));
}

TEST_F(SftpTransfer, CallsFromInsideEventsAreRefusedOrDeferred) {
    startAndConnect({"--max-rate", "12000000"});
    writeFile(server.root() / "big.bin", patternBytes(kLarge / 2, 9));
    std::vector<std::string> refusals;
    auto tryCall = [&](const std::function<void()>& call) {
        try {
            call();
        } catch (const RuntimeError& e) {
            refusals.push_back(e.description());
        }
    };
    c.events.onProgress = [&](std::int64_t position, std::int64_t total) {
        if (position < total && refusals.empty()) tryCall([&] { c.component->listFolder("/"); });
    };
    c.onYield = [&] {
        if (refusals.size() == 1) tryCall([&] { c.component->connect(); });
    };
    c.component->fetch(server.local("big.bin").string(), "/big.bin");
    EXPECT_EQ(std::filesystem::file_size(server.local("big.bin")), kLarge / 2);
    ASSERT_EQ(refusals.size(), 2u);
    for (const std::string& text : refusals)
        EXPECT_NE(text.find("still running"), std::string::npos) << text;
    EXPECT_TRUE(c.events.listings.empty());

    // Disconnecting from inside ends the transfer and closes the session once it returned.
    std::filesystem::remove(server.local("big.bin"));
    c.events.onProgress = [&](std::int64_t position, std::int64_t total) {
        if (position < total) c.component->disconnect();
    };
    c.onYield = nullptr;
    expectError([&] { c.component->fetch(server.local("big.bin").string(), "/big.bin"); },
                kErrGeneric, "aborted");
    EXPECT_EQ(c.component->stateCode(), 0);
    EXPECT_FALSE(std::filesystem::exists(server.local("big.bin")));
}

TEST_F(SftpTransfer, LocalFileErrorsKeepTheirOwnNumbers) {
    startAndConnect();
    writeFile(server.root() / "a.txt", "abc");
    expectError(
        [&] { c.component->fetch((server.dir() / "no_such_folder" / "a.txt").string(), "/a.txt"); },
        kErrFileNotFound, "no_such_folder");
    expectError([&] { c.component->send((server.dir() / "missing.txt").string(), "/b.txt"); },
                kErrFileNotFound, "missing.txt");
    EXPECT_FALSE(std::filesystem::exists(server.root() / "b.txt"));
    EXPECT_EQ(c.component->stateCode(), 2);
}

}  // namespace
}  // namespace vs::test
