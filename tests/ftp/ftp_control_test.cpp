// The FTP control against a real FTP server (pyftpdlib, tests/servers/ftp_server.py) on
// 127.0.0.1, with its fault switches: refused login, dropped and stalled transfers, Windows
// listings, no MLSD, refused DELE.
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/runtime_error.h"
#include "remote/ftp/curl_ftp_control.h"
#include "support/server_process.h"
#include "support/temp_dir.h"

namespace vs {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using test::readFile;
using test::writeFile;

constexpr size_t kBig = 20u * 1024 * 1024;

std::string content(size_t size, unsigned seed = 7) {
    std::string s(size, '\0');
    unsigned x = seed;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

int openFds() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d)) ++n;
        ::closedir(d);
    }
    return n;
}

int count(const std::string& text, const std::string& word) {
    int n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
    return n;
}

class FtpControlTest : public ::testing::Test {
  protected:
    void startServer(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{
            "--root",  root.path().string(), "--user", "valtrasso", "--password",
            kPassword, "--max-seconds",      "300"};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_TRUE(server.start(test::pythonServer("ftp_server.py", args)));
        port = server.waitForPort();
        ASSERT_GT(port, 0) << server.output();
    }

    std::unique_ptr<CurlFtpControl> makeControl() {
        auto c = std::make_unique<CurlFtpControl>([this] {
            auto now = Clock::now();
            if (lastYield != Clock::time_point{})
                maxYieldGap = std::max(maxYieldGap, now - lastYield);
            lastYield = now;
            ++yields;
            if (onYield) onYield();
        });
        c->setProgressHandler([this](std::uint8_t& p) {
            progress.push_back(p);
            if (onProgress) onProgress(p);
        });
        c->setLogger([this](const std::string& line) { logs.push_back(line); });
        c->prepare(32000);
        c->reset();
        return c;
    }

    void connect(std::vector<std::string> extra = {}) {
        startServer(std::move(extra));
        control = makeControl();
        ASSERT_TRUE(control->connectAndLogin("127.0.0.1", "valtrasso", kPassword, port))
            << control->errorText();
    }

    // The server prints its events as they happen; give it a moment to get there.
    int serverEvents(const std::string& word, int expected) {
        auto deadline = Clock::now() + std::chrono::seconds(5);
        while (count(server.output(), word) < expected && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return count(server.output(), word);
    }

    // Gaps between the caller's events are measured within one operation only.
    void startOperation() { lastYield = {}; }

    std::string allLogs() const {
        std::string all;
        for (const auto& l : logs) all += l + "\n";
        return all;
    }

    // A successful transfer reports only changes, rising, and ends with exactly one 100.
    void expectCompleteProgress() {
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.back(), 100);
        for (size_t i = 1; i < progress.size(); ++i) EXPECT_LT(progress[i - 1], progress[i]);
    }
    bool progressReached100() const {
        for (int p : progress)
            if (p == 100) return true;
        return false;
    }

    static constexpr const char* kPassword = "pw-9f3Kq";
    test::TempDir root;   // served by the server
    test::TempDir local;  // the program's side
    test::ServerProcess server;
    int port = 0;
    std::vector<int> progress;
    std::vector<std::string> logs;
    int yields = 0;
    Clock::time_point lastYield{};
    Clock::duration maxYieldGap{};
    std::function<void()> onYield;
    std::function<void(int)> onProgress;
    std::unique_ptr<CurlFtpControl> control;  // last: gone before what its callbacks touch
};

TEST_F(FtpControlTest, LoginAcceptedOrRefusedWithTheServersReply) {
    startServer();
    auto c = makeControl();
    EXPECT_FALSE(c->connectAndLogin("127.0.0.1", "valtrasso", "wrong", port));
    EXPECT_EQ(c->errorText().substr(0, 4), "530 ") << c->errorText();
    EXPECT_TRUE(c->connectAndLogin("127.0.0.1", "valtrasso", kPassword, port)) << c->errorText();
    EXPECT_EQ(c->currentFolder(), "/");
    c->close();

    test::ServerProcess refusing;
    ASSERT_TRUE(refusing.start(
        test::pythonServer("ftp_server.py", {"--root", root.path().string(), "--refuse-login"})));
    int refusingPort = refusing.waitForPort();
    EXPECT_FALSE(c->connectAndLogin("127.0.0.1", "valtrasso", kPassword, refusingPort));
    EXPECT_EQ(c->errorText(), "530 Login incorrect.");

    // Nobody listening, and texts that are no host at all: false with a reason, at once.
    refusing.kill();
    auto before = Clock::now();
    EXPECT_FALSE(c->connectAndLogin("127.0.0.1", "valtrasso", kPassword, refusingPort));
    EXPECT_FALSE(c->errorText().empty());
    EXPECT_FALSE(c->connectAndLogin("host/../x", "valtrasso", kPassword, port));
    EXPECT_FALSE(c->connectAndLogin("127.0.0.1", "valtrasso", kPassword, 70000));
    EXPECT_FALSE(c->connectAndLogin("127.0.0.1", "valtrasso\r\nDELE x", kPassword, port));
    EXPECT_LT(Clock::now() - before, std::chrono::seconds(5));

    // A peer that takes the connection and never greets: the connect limit ends the wait.
    int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(silent, 4), 0);
    ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    auto limits = c->limits();
    limits.connectTimeout = std::chrono::milliseconds(1000);
    c->setLimits(limits);
    before = Clock::now();
    EXPECT_FALSE(c->connectAndLogin("127.0.0.1", "valtrasso", kPassword, ntohs(addr.sin_port)));
    EXPECT_LT(Clock::now() - before, std::chrono::seconds(5));
    EXPECT_FALSE(c->errorText().empty());
    ::close(silent);
    EXPECT_EQ(allLogs().find(kPassword), std::string::npos);
}

TEST_F(FtpControlTest, OneControlConnectionForTheWholeSessionAndQuitAtClose) {
    writeFile(root / "in/a file.txt", "hello");
    connect();
    std::string listing;
    std::int64_t size = 0;
    EXPECT_FALSE(control->changeDirectory("/missing"));
    EXPECT_EQ(control->errorText().substr(0, 4), "550 ") << control->errorText();
    EXPECT_TRUE(control->changeDirectory("/in/"));
    EXPECT_EQ(control->currentFolder(), "/in");
    EXPECT_TRUE(control->listDirectory(listing, 0, 0));
    EXPECT_TRUE(control->querySize(size, "a file.txt"));
    EXPECT_FALSE(control->querySize(size, "nothing.txt"));
    EXPECT_TRUE(control->fetch("/in/a file.txt", (local / "a file.txt").string()));
    control->send((local / "a file.txt").string(), "copy.txt");
    EXPECT_TRUE(control->remove("/in/copy.txt"));
    EXPECT_EQ(count(server.output(), "LOGIN"), 1) << server.output();
    control->close();
    EXPECT_EQ(serverEvents("QUIT", 1), 1) << server.output();
    EXPECT_FALSE(control->listDirectory(listing, 0, 0));
    EXPECT_NO_THROW(control->close());
}

class FtpListingModes : public FtpControlTest,
                        public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(FtpListingModes, ListingHasTheLayoutTheReaderParses) {
    writeFile(root / "in/report.pdf", content(1234));
    writeFile(root / "in/name with  blanks #%.txt", "x");
    writeFile(root / "in/empty.txt", "");
    fs::create_directories(root / "in/sub folder");
    connect(GetParam());
    EXPECT_EQ(control->offersMlsd(), GetParam().empty());
    ASSERT_TRUE(control->changeDirectory("/in"));
    std::string listing;
    ASSERT_TRUE(control->listDirectory(listing, 0, 0)) << control->errorText();

    std::map<std::string, std::vector<std::string>> byName;
    size_t pos = 0;
    while (pos <= listing.size()) {
        size_t end = listing.find("\r\n", pos);
        std::string line = listing.substr(pos, end - pos);
        std::vector<std::string> f;
        size_t p = 0;
        for (int i = 0; i < 8; ++i) {
            size_t blank = line.find(' ', p);
            ASSERT_NE(blank, std::string::npos) << line;
            f.push_back(line.substr(p, blank - p));
            p = blank + 1;
        }
        ASSERT_EQ(f[7].size(), 5u) << line;
        ASSERT_EQ(f[7][2], ':') << line;
        byName[line.substr(p)] = f;
        if (end == std::string::npos) break;
        pos = end + 2;
    }
    ASSERT_EQ(byName.size(), 4u) << listing;
    EXPECT_EQ(byName["report.pdf"][0][0], '-');
    EXPECT_EQ(byName["report.pdf"][4], "1234");
    EXPECT_EQ(byName["empty.txt"][4], "0");
    EXPECT_EQ(byName["name with  blanks #%.txt"][4], "1");
    EXPECT_EQ(byName["sub folder"][0][0], 'd');
    EXPECT_EQ(allLogs().find("non comprese"), std::string::npos) << allLogs();
}

INSTANTIATE_TEST_SUITE_P(
    Servers, FtpListingModes,
    ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"--no-mlsd"},
                      std::vector<std::string>{"--no-mlsd", "--dos-listing"}),
    [](const auto& info) {
        return std::string(info.index == 0 ? "Mlsd" : info.index == 1 ? "UnixList" : "DosList");
    });

TEST_F(FtpControlTest, TransfersOfEverySizeEndWithOneHundred) {
    writeFile(root / "sparse.iso", "");
    fs::resize_file(root / "sparse.iso", 5ll * 1024 * 1024 * 1024);
    connect();
    std::int64_t size = 0;
    ASSERT_TRUE(control->querySize(size, "/sparse.iso", false));
    EXPECT_EQ(size, 5ll * 1024 * 1024 * 1024);

    for (size_t n : {size_t(0), size_t(1000), kBig}) {
        SCOPED_TRACE(testing::Message() << n << " bytes");
        const std::string data = content(n, static_cast<unsigned>(n));
        const std::string name = "file-" + std::to_string(n) + ".bin";
        writeFile(local / ("up-" + name), data);
        progress.clear();
        startOperation();
        control->send((local / ("up-" + name)).string(), "/" + name);
        expectCompleteProgress();
        ASSERT_EQ(readFile(root / name), data);

        progress.clear();
        startOperation();
        ASSERT_TRUE(control->fetch("/" + name, (local / name).string())) << control->errorText();
        expectCompleteProgress();
        EXPECT_EQ(readFile(local / name), data);
        EXPECT_FALSE(fs::exists(local / (name + ".part")));
    }
}

TEST_F(FtpControlTest, SlowTransfersKeepTheCallerResponsive) {
    const std::string data = content(2500000);
    writeFile(root / "slow.bin", data);
    writeFile(local / "slow.bin", data);
    connect({"--rate", "1000000"});

    startOperation();
    ASSERT_TRUE(control->fetch("/slow.bin", (local / "fetched.bin").string()));
    expectCompleteProgress();
    EXPECT_GE(progress.size(), 3u);  // bursts of the throttled server, then 100
    EXPECT_GT(yields, 15);
    EXPECT_LT(maxYieldGap, std::chrono::milliseconds(200));

    progress.clear();
    yields = 0;
    maxYieldGap = {};
    startOperation();
    control->send((local / "slow.bin").string(), "/sent.bin");
    expectCompleteProgress();
    EXPECT_EQ(readFile(root / "sent.bin"), data);
    EXPECT_GT(yields, 0);
    // Most of this upload sits in socket buffers while libcurl waits for the server's final
    // reply, and during that wait libcurl calls back only about once a second.
    EXPECT_LT(maxYieldGap, std::chrono::milliseconds(1500));
}

TEST_F(FtpControlTest, AwkwardNamesTravelIntactAndLineBreaksNeverReachTheServer) {
    const std::string odd = "a b#%?;type=a.txt";
    writeFile(root / "dir #%?" / odd, "odd");
    connect();
    ASSERT_TRUE(control->changeDirectory("dir #%?")) << control->errorText();
    std::int64_t size = 0;
    EXPECT_TRUE(control->querySize(size, odd));
    EXPECT_EQ(size, 3);
    ASSERT_TRUE(control->fetch(odd, (local / "got").string())) << control->errorText();
    EXPECT_EQ(readFile(local / "got"), "odd");
    control->send((local / "got").string(), "copy " + odd);
    EXPECT_EQ(readFile(root / "dir #%?" / ("copy " + odd)), "odd");
    EXPECT_TRUE(control->remove("copy " + odd));
    EXPECT_FALSE(fs::exists(root / "dir #%?" / ("copy " + odd)));

    // "x\r\nDELE a b..." would delete a file if it ever reached the server as a command.
    const std::string smuggled = "x\r\nDELE /dir #%?/" + odd;
    progress.clear();
    EXPECT_FALSE(control->fetch(smuggled, (local / "never").string()));
    EXPECT_FALSE(control->querySize(size, smuggled));
    EXPECT_FALSE(control->remove(smuggled));
    EXPECT_FALSE(control->changeDirectory(smuggled));
    EXPECT_FALSE(control->errorText().empty());
    EXPECT_NO_THROW(control->send((local / "got").string(), smuggled));
    EXPECT_FALSE(progressReached100());
    EXPECT_TRUE(fs::exists(root / "dir #%?" / odd));
    EXPECT_FALSE(fs::exists(local / "never"));
    EXPECT_EQ(control->currentFolder(), "/dir #%?");
}

TEST_F(FtpControlTest, DroppedConnectionLeavesNothingHalfDone) {
    writeFile(root / "big.bin", content(kBig));
    writeFile(local / "big.bin", content(kBig, 3));
    connect({"--drop-after-bytes", "1000000"});

    EXPECT_FALSE(control->fetch("/big.bin", (local / "fetched.bin").string()));
    EXPECT_FALSE(control->errorText().empty());
    EXPECT_FALSE(fs::exists(local / "fetched.bin"));
    EXPECT_FALSE(fs::exists(local / "fetched.bin.part"));
    EXPECT_FALSE(progressReached100());

    try {
        control->send((local / "big.bin").string(), "/sent.bin");
        ADD_FAILURE() << "a broken upload must raise an error";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), kErrConnection);
        EXPECT_NE(e.description().find("/sent.bin"), std::string::npos) << e.description();
    }
    EXPECT_FALSE(progressReached100());
    EXPECT_FALSE(fs::exists(root / "sent.bin"));  // the partial upload was taken away again

    // The session goes on after the failures.
    std::string listing;
    EXPECT_TRUE(control->listDirectory(listing, 0, 0)) << control->errorText();
}

TEST_F(FtpControlTest, StalledTransfersEndOnTheLowSpeedLimit) {
    writeFile(root / "big.bin", content(kBig));
    writeFile(local / "big.bin", content(kBig, 3));
    connect({"--stall-after-bytes", "1000000"});
    auto limits = control->limits();
    limits.lowSpeedTime = std::chrono::seconds(1);
    limits.replyTimeout = std::chrono::seconds(2);
    control->setLimits(limits);

    auto before = Clock::now();
    startOperation();
    EXPECT_FALSE(control->fetch("/big.bin", (local / "fetched.bin").string()));
    EXPECT_LT(Clock::now() - before, std::chrono::seconds(20));
    EXPECT_FALSE(fs::exists(local / "fetched.bin"));
    EXPECT_FALSE(fs::exists(local / "fetched.bin.part"));

    before = Clock::now();
    startOperation();
    try {
        control->send((local / "big.bin").string(), "/sent.bin");
        ADD_FAILURE() << "a stalled upload must raise an error";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), kErrConnection);
    }
    EXPECT_LT(Clock::now() - before, std::chrono::seconds(40));
    EXPECT_FALSE(progressReached100());
    EXPECT_LT(maxYieldGap, std::chrono::milliseconds(500));

    // A file small enough to vanish into the socket buffers: all of it is sent, and then the
    // server never confirms. The wait for that reply ends too, and the caller's events still
    // run during it (libcurl wakes us about once a second there).
    writeFile(local / "small.bin", content(1200000));
    before = Clock::now();
    startOperation();
    EXPECT_THROW(control->send((local / "small.bin").string(), "/small.bin"), RuntimeError);
    EXPECT_LT(Clock::now() - before, std::chrono::seconds(20));
    EXPECT_LT(maxYieldGap, std::chrono::milliseconds(1500));
    EXPECT_FALSE(progressReached100());
}

TEST_F(FtpControlTest, AbortFromTheProgressHandlerEndsTheTransfer) {
    writeFile(root / "big.bin", content(kBig));
    writeFile(local / "big.bin", content(kBig, 3));
    connect({"--rate", "4000000"});
    onProgress = [this](int) { control->abort(); };

    EXPECT_FALSE(control->fetch("/big.bin", (local / "fetched.bin").string()));
    EXPECT_EQ(progress.size(), 1u);
    EXPECT_FALSE(fs::exists(local / "fetched.bin"));
    EXPECT_FALSE(fs::exists(local / "fetched.bin.part"));

    progress.clear();
    EXPECT_NO_THROW(control->send((local / "big.bin").string(), "/sent.bin"));
    EXPECT_EQ(progress.size(), 1u);
    EXPECT_FALSE(fs::exists(root / "sent.bin"));

    // An abort outside a transfer (the first closing call) must not spoil the next one.
    onProgress = nullptr;
    control->abort();
    progress.clear();
    writeFile(root / "small.bin", "small");
    EXPECT_TRUE(control->fetch("/small.bin", (local / "small.bin").string()))
        << control->errorText();
    expectCompleteProgress();
}

TEST_F(FtpControlTest, CloseDuringATransferEndsItAndTheSession) {
    writeFile(root / "big.bin", content(kBig));
    connect({"--rate", "4000000"});
    onYield = [this] { control->close(); };
    auto before = Clock::now();
    EXPECT_FALSE(control->fetch("/big.bin", (local / "fetched.bin").string()));
    EXPECT_LT(Clock::now() - before, std::chrono::seconds(2));
    onYield = nullptr;
    std::string listing;
    EXPECT_FALSE(control->listDirectory(listing, 0, 0));
    EXPECT_FALSE(fs::exists(local / "fetched.bin.part"));
    EXPECT_TRUE(control->connectAndLogin("127.0.0.1", "valtrasso", kPassword, port));
    EXPECT_TRUE(control->listDirectory(listing, 0, 0));
}

TEST_F(FtpControlTest, RefusalsAndLocalFailuresAreReported) {
    writeFile(root / "keep.txt", "keep");
    connect({"--refuse-dele"});
    EXPECT_FALSE(control->remove("/keep.txt"));
    EXPECT_EQ(control->errorText(), "550 Permission denied by the test server.");
    EXPECT_NE(allLogs().find("550 Permission denied"), std::string::npos) << allLogs();
    EXPECT_TRUE(fs::exists(root / "keep.txt"));

    EXPECT_FALSE(control->fetch("/keep.txt", (local / "no/such/folder/keep.txt").string()));
    EXPECT_NE(control->errorText().find("no/such/folder"), std::string::npos);
    EXPECT_FALSE(control->fetch("/missing.txt", (local / "missing.txt").string()));
    EXPECT_EQ(control->errorText().substr(0, 4), "550 ");
    EXPECT_FALSE(fs::exists(local / "missing.txt.part"));

    try {
        control->send((local / "not-there.txt").string(), "/x.txt");
        ADD_FAILURE() << "an unreadable local file must raise an error";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), kErrFileNotFound);
    }

    auto idle = makeControl();  // never connected
    std::string listing;
    EXPECT_FALSE(idle->changeDirectory("/"));
    EXPECT_FALSE(idle->listDirectory(listing, 0, 0));
    EXPECT_THROW(idle->send((local / "x").string(), "/x"), RuntimeError);
    EXPECT_NO_THROW(idle->close());
}

TEST_F(FtpControlTest, ReconnectingManyTimesLeaksNothing) {
    startServer();
    auto c = makeControl();
    std::string listing;
    int fdsAfterFirst = 0;
    for (int i = 0; i < 40; ++i) {
        c->reset();
        ASSERT_TRUE(c->connectAndLogin("127.0.0.1", "valtrasso", kPassword, port))
            << c->errorText();
        ASSERT_TRUE(c->listDirectory(listing, 0, 0));
        c->abort();
        c->close();
        if (i == 0) fdsAfterFirst = openFds();
    }
    EXPECT_EQ(openFds(), fdsAfterFirst);
    EXPECT_EQ(serverEvents("LOGIN", 40), 40);
    EXPECT_EQ(serverEvents("QUIT", 40), 40);
}

}  // namespace
}  // namespace vs
