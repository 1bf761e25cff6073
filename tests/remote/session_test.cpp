// The rules both sessions keep, tested once over every server they hold for.
#include <gtest/gtest.h>
#include <utime.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>

#include "activitylog/activity_log.h"
#include "common/base64.h"
#include "common/new_file.h"
#include "common/runtime_error.h"
#include "common/source_file.h"
#include "common/text.h"
#include "remote/ftp/ftp_control_factory.h"
#include "remote/ftp_session.h"
#include "remote/sftp/fingerprint.h"
#include "remote/sftp/sftp_component_factory.h"
#include "remote/sftp_session.h"
#include "settings/settings.h"
#include "support/fake_clock.h"
#include "support/servers.h"

namespace vs::test {
namespace {

using Kind = TestServer::Kind;
using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

// A session as the cycle holds one (SftpSession or FtpSession over the real component) against
// a real test server, with its log, a counting yield and a folder for the local side.
struct SessionRig {
    // Starts the server; fault switches are for the Python servers and never reach sshd.
    explicit SessionRig(Kind kind, const std::vector<std::string>& switches = {})
        : kind(kind), server(kind, kind == Kind::OpenSsh ? std::vector<std::string>{} : switches) {
        fields = {server.host(), server.login(), kind == Kind::OpenSsh ? "" : server.password(), "",
                  server.serverType()};
        if (kind == Kind::OpenSsh) keyFile = (server.dir() / "user_key").string();
    }

    // From now on the server is reached through a link that delays each way by half of
    // `rttMs`: a long path. Whether the link runs.
    bool farAway(int rttMs) {
        link = std::make_unique<ServerProcess>();
        if (link->start({VS_DELAY_LINK_BINARY, "--target", std::to_string(server.port()),
                         "--rtt-ms", std::to_string(rttMs)}))
            linkPort = link->waitForPort();
        fields.txtHost = "127.0.0.1:" + std::to_string(linkPort);
        return linkPort != 0;
    }

    void build() {
        if (session) return;
        const YieldFn yield = [this] { ++yields; };
        if (kind == Kind::Ftp) {
            ftp = makeCurlFtpControl(yield, limits, bandwidth.get());
            session = std::make_unique<FtpSession>(state, fields, serverType, log, clock, ftp.get(),
                                                   (dir / "known_certs").string());
        } else {
            sftp = makeLibssh2SftpComponent(yield, bandwidth.get());
            session =
                std::make_unique<SftpSession>(state, fields, log, clock, yield, nullptr, sftp.get(),
                                              knownHosts, keyFile, keyPassphrase, fetchPause);
        }
    }
    // Whether it connected; the session's lines say why not.
    bool connect() {
        build();
        return !thrown([&] { session->connect(); }).number();
    }
    // The SFTP session always gives its component 20 s; a silent server is waited for less.
    bool connectWithin(int seconds) {
        build();
        sftp->setUserName(fields.txtLogin);
        sftp->setPassword(fields.txtPwd);
        sftp->setHostName("127.0.0.1");
        sftp->setPort(link ? linkPort : server.port());
        sftp->setTimeout(seconds);
        sftp->setKnownHostsFile(knownHosts);
        return !thrown([&] { sftp->connect(); }).number();
    }

    std::string at(const std::string& name) const { return server.remote("") + name; }
    std::filesystem::path served(const std::string& name) const { return server.root() / name; }
    // What the session fetched, committed as a local file (the commit's fsync is not timed).
    std::string fetch(const std::string& remote) {
        NewFile file(dir.path());
        {
            const Timed timed(took);
            session->fetch(remote, session->stat(remote).size, file);  // as the cycle does
        }
        file.commit("got");
        return readFile(dir / "got");
    }
    // What the server says it holds afterwards.
    RemoteStat send(const std::string& content, const std::string& remote) {
        writeFile(dir / "out", content);
        SourceFile file((dir / "out").string());
        const Timed timed(took);
        return session->send(file, remote);
    }
    struct Timed {
        Steady::duration& took;
        Steady::time_point began = Steady::now();
        ~Timed() { took = Steady::now() - began; }
    };
    std::string logText() const {
        std::string text;
        for (const std::string& line : log.List1()) text += line + "\n";
        return text;
    }

    Kind kind;
    TempDir dir;
    FakeClock clock;
    ActivityLog log{clock, dir.path(), englishWeekdayNames()};
    SessionState state;
    ServerFields fields;
    ServerType serverType = ServerType::Ftp;
    TestServer server;
    FtpLimits limits;
    std::string knownHosts = (dir / "known_hosts").string();
    std::string keyFile, keyPassphrase;
    std::chrono::milliseconds fetchPause{0};
    int yields = 0;
    Steady::duration took{};  // by the session's last transfer call, however it ended
    std::unique_ptr<BandwidthLimit> bandwidth;  // set before build() to limit the transfers
    std::unique_ptr<ServerProcess> link;
    int linkPort = 0;
    std::unique_ptr<SftpComponent> sftp;
    std::unique_ptr<FtpControl> ftp;
    std::unique_ptr<RemoteSession> session;  // last: gone before what it uses
};

// A server that does not start (sshd missing too) fails the test.
#define START(rig) ASSERT_TRUE((rig).server.ok()) << (rig).server.output()
#define OPEN(rig) \
    START(rig);   \
    ASSERT_TRUE((rig).connect()) << (rig).logText()

namespace fs = std::filesystem;

struct Row {
    const char* name;
    Kind kind;
    std::vector<std::string> switches;
    const char* says = nullptr;  // once in the log
    int hostile = 0;             // names that could leave a folder, still listed exactly
};

// ctest names each case with this: the row's name, not its bytes (pointers, new every build).
void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

class Listing : public ::testing::TestWithParam<Row> {};
class Sessions : public ::testing::TestWithParam<Kind> {};
class Faults : public ::testing::TestWithParam<Kind> {};

// What a name may do to a folder is the cycle's question: the session lists every entry exactly.
TEST_P(Listing, HoldsEveryEntryByItsExactName) {
    SessionRig rig(GetParam().kind, GetParam().switches);
    for (int i = 0; i < 501; ++i) writeFile(rig.served("f" + std::to_string(i)), "");
    writeFile(rig.served(" a small  file "), "12345");
    fs::create_directory(rig.served("sub"));
    OPEN(rig);
    const RemoteListing listing = rig.session->list(rig.at(""));
    std::map<std::string, std::string> seen;  // name: kind and size
    for (const RemoteEntry& e : listing.entries) {
        const std::string size = e.size ? std::to_string(*e.size) : "?";
        ASSERT_TRUE(seen.emplace(e.name, "-dl?"[static_cast<int>(e.kind)] + (" " + size)).second)
            << e.name;
        EXPECT_TRUE(e.modified) << e.name;
    }
    EXPECT_EQ(seen.size(), 503u + GetParam().hostile);
    EXPECT_EQ(seen[" a small  file "], "- 5");
    EXPECT_EQ(seen["sub"].substr(0, 1), "d");
    EXPECT_EQ(seen.count(std::string("nul\0name", 8)), GetParam().hostile ? 1u : 0u);
    EXPECT_EQ(listing.unreadable, 0);
    const char* says = GetParam().says;
    EXPECT_EQ(occurrences(rig.logText(), says ? says : "dall'elenco"), says ? 1 : 0)
        << rig.logText();
}

INSTANTIATE_TEST_SUITE_P(
    Servers, Listing,
    ::testing::Values(
        Row{"Sftp", Kind::Sftp, {"--inject-bad-names"}, nullptr, 7}, Row{"FtpMlsd", Kind::Ftp, {}},
        Row{"FtpUnix", Kind::Ftp, {"--no-mlsd"}},
        Row{"FtpMlsdRefused", Kind::Ftp, {"--refuse-mlsd"}, "MLSD non accettato"},
        Row{"FtpPasvToAnotherHostNotFollowed", Kind::Ftp, {"--pasv-address", "127.0.0.2"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(Sessions, TransfersOfEverySizeBothWaysKeepTheProgressRules) {
    const bool ftp = GetParam() == Kind::Ftp;
    SessionRig rig(GetParam(), throttled(GetParam(), ftp ? 2000000 : 4000000));
    OPEN(rig);
    for (const std::size_t size : {std::size_t{0}, std::size_t{5}, std::size_t{4} << 20}) {
        const std::string data = patternBytes(size, static_cast<unsigned>(size));
        writeFile(rig.served("down.bin"), data);
        writeFile(rig.served("up.bin"), "an older and longer version");
        for (const std::string op : {"Download", "Upload"}) {
            SCOPED_TRACE(op + " of " + std::to_string(size) + " bytes");
            rig.state.currentOperation = op;
            rig.state.transferPercentage = rig.yields = 0;
            const std::size_t from = rig.log.size();
            const std::uint64_t activity = rig.state.transferActivity;
            EXPECT_TRUE(data == (op == "Upload" ? (rig.send(data, rig.at("up.bin")), data)
                                                : rig.fetch(rig.at("down.bin"))));
            EXPECT_EQ(rig.state.transferPercentage, 100);
            // The service's watchdog hears that bytes moved, whatever the percentage did.
            EXPECT_TRUE(size == 0 || rig.state.transferActivity > activity);
            // libcurl awaits an FTP upload's last reply in one call that wakes us once a second.
            EXPECT_GE(rig.yields, rig.took / (ftp && op == "Upload" ? 1500ms : 100ms));
            // Progress: 20 % steps, 100 at the end (FTP); bytes, each 250 ms at most (SFTP).
            std::vector<long long> steps;
            for (std::size_t i = from; i < rig.log.size(); ++i) {
                std::string digits, line = rig.log.List1()[i].substr(8);
                std::copy_if(line.begin(), line.end(), std::back_inserter(digits), ::isdigit);
                if (startsWith(line, " Scaricato") || startsWith(line, " Inviato") ||
                    endsWith(line, " %"))
                    steps.push_back(std::stoll(digits));
            }
            EXPECT_TRUE(std::adjacent_find(steps.begin(), steps.end(), std::greater_equal<>()) ==
                        steps.end());
            EXPECT_TRUE(ftp ? !steps.empty() && steps.back() == 100
                            : std::ssize(steps) <= rig.took / 250ms + 1 &&
                                  (steps.empty() || steps.back() < std::ssize(data)));
        }
        EXPECT_TRUE(readFile(rig.served("up.bin")) == data);
    }
}

TEST_P(Sessions, RefusedRequestsSayWhatAndKeepTheSession) {
    SessionRig rig(GetParam());
    writeFile(rig.served("file.txt"), "x");
    OPEN(rig);
    RemoteSession& s = *rig.session;
    const std::pair<std::string, std::function<void()>> calls[] = {
        {"missing.txt", [&] { s.stat(rig.at("missing.txt")); }},
        {"missing/", [&] { s.list(rig.at("missing/")); }},
        {"missing.txt", [&] { s.remove(rig.at("missing.txt")); }},
        {"missing.txt", [&] { s.rename(rig.at("missing.txt"), rig.at("new.txt")); }},
        {"missing.txt", [&] { rig.fetch(rig.at("missing.txt")); }},
        {"file.txt/in", [&] { rig.send("data", rig.at("file.txt/in")); }},
    };
    for (const auto& [path, call] : calls) {
        const RuntimeError e = thrown(call);
        EXPECT_EQ(e.number(), kErrRemote) << e.description();
        // An FTP server says why in its own words; the SFTP texts name the path.
        EXPECT_TRUE(contains(e.description(), GetParam() == Kind::Ftp ? "550 " : rig.at(path)))
            << e.description();
    }
    EXPECT_EQ(rig.fetch(rig.at("file.txt")), "x");
    // Asked together, a refusal stays its own file's.
    const std::vector<StatOutcome> both = s.statAll({rig.at("missing.txt"), rig.at("file.txt")});
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[0].refusal ? both[0].refusal->number() : 0, kErrRemote);
    EXPECT_EQ(both[1].stat.size, 1);
    // A refused upload never started: there is nothing of it to remove.
    EXPECT_FALSE(contains(rig.logText(), "incompleto")) << rig.logText();
}

TEST_P(Sessions, AwkwardNamesTravelIntactAndLineBreaksNeverReachTheServer) {
    SessionRig rig(GetParam());
    const std::string odd = "a b#%?;type=a.txt";
    writeFile(rig.served(odd), "odd");
    writeFile(rig.served("target.txt"), "old");
    const utimbuf times{1700000000, 1700000000};
    ASSERT_EQ(::utime(rig.served(odd).c_str(), &times), 0);
    OPEN(rig);
    RemoteSession& s = *rig.session;
    const RemoteStat st = s.stat(rig.at(odd));
    EXPECT_EQ(st.size, 3);
    EXPECT_EQ(st.modified, std::chrono::system_clock::from_time_t(1700000000));
    const auto then = std::chrono::system_clock::from_time_t(1600000000);
    EXPECT_TRUE(s.setModified(rig.at(odd), then));  // as mantienidata=SI keeps an upload's time
    EXPECT_EQ(fs::file_time_type::clock::to_sys(fs::last_write_time(rig.served(odd))), then);
    EXPECT_EQ(rig.fetch(rig.at(odd)), "odd");
    rig.send("new", rig.at("copy " + odd));
    s.rename(rig.at("copy " + odd), rig.at("target.txt"));
    EXPECT_EQ(readFile(rig.served("target.txt")), "new");
    EXPECT_FALSE(fs::exists(rig.served("copy " + odd)));

    // Sent to an FTP server as it is, this would be a second command deleting the file.
    const std::string smuggled = rig.at("x\r\nDELE " + rig.at(odd));
    EXPECT_NE(thrown([&] { s.remove(smuggled); }).number(), 0);
    EXPECT_NE(thrown([&] { rig.send("x", smuggled); }).number(), 0);
    EXPECT_EQ(readFile(rig.served(odd)), "odd");
    s.remove(rig.at(odd));
    EXPECT_FALSE(fs::exists(rig.served(odd)));
}

INSTANTIATE_TEST_SUITE_P(Servers, Sessions, ::testing::Values(Kind::Sftp, Kind::Ftp, Kind::OpenSsh),
                         kindParamName);

TEST_P(Faults, AbortedLostOrSilentTransfersLeaveNothingThatLooksComplete) {
    const bool ftp = GetParam() == Kind::Ftp;
    // More than socket buffers hold, so that an upload stalls before its last reply is awaited.
    const std::string data = patternBytes(16 << 20, 4);
    const std::pair<std::vector<std::string>, int> faults[] = {
        {throttled(GetParam(), 8000000), kErrAborted},  // and the operator stops it
        {{"--drop-after-bytes", "1000000"}, kErrConnection},
        {{"--stall-after-bytes", "1000000"}, kErrConnection}};
    for (const auto& [switches, number] : faults) {
        SessionRig rig(GetParam(), switches);
        rig.limits.lowSpeedTime = 2s;
        writeFile(rig.served("big.bin"), data);
        START(rig);
        const auto connect = [&] { return ftp ? rig.connect() : rig.connectWithin(2); };
        ASSERT_TRUE(connect()) << rig.logText();
        for (const std::string op : {"Download", "Upload"}) {
            SCOPED_TRACE(switches[0] + " " + op);
            rig.state.transferPercentage = rig.yields = 0;
            rig.state.abortRequest = number == kErrAborted;  // "Termina Trasferimento"
            const RuntimeError e = thrown([&] {
                op == "Upload" ? (void)rig.send(data, rig.at("up.bin"))
                               : (void)rig.fetch(rig.at("big.bin"));
            });
            EXPECT_EQ(e.number(), number) << e.description();
            EXPECT_LT(rig.took, 15s);
            EXPECT_GE(rig.yields, number == kErrAborted ? 0 : rig.took / 250ms);  // not held up
            EXPECT_NE(rig.state.transferPercentage, 100);
            if (number != kErrConnection) continue;
            rig.session->close();
            ASSERT_TRUE(connect()) << rig.logText();
        }
        // What reached the server goes again, over the FTP control connection or the SFTP
        // session still there after an abort; a lost SFTP connection can only say it may stay.
        const bool removable = ftp || number == kErrAborted;
        EXPECT_NE(fs::exists(rig.served("up.bin")), removable);
        EXPECT_TRUE(contains(rig.logText(), (removable ? " Rimosso dal server il" : " Il") +
                                                std::string(" file incompleto ") +
                                                rig.at("up.bin")))
            << rig.logText();
        rig.state.abortRequest = false;
        writeFile(rig.served("big.bin"), "small");
        EXPECT_EQ(rig.fetch(rig.at("big.bin")), "small");
    }
}

// A server may answer a read with fewer bytes than asked for (here every 20th, amid reads already
// on the way): the rest is asked for again and the download goes on, whole, its size known or not.
TEST(ShortReads, ADownloadGoesOnAndArrivesWhole) {
    SessionRig rig(Kind::Sftp, {"--short-reads", "20"});
    const std::string data = patternBytes(4 << 20, 20);
    writeFile(rig.served("big.bin"), data);
    OPEN(rig);
    EXPECT_TRUE(rig.fetch(rig.at("big.bin")) == data);
    NewFile file(rig.dir.path());
    EXPECT_EQ(rig.session->fetch(rig.at("big.bin"), std::nullopt, file).received, std::ssize(data));
    file.commit("unsized");
    EXPECT_TRUE(readFile(rig.dir / "unsized") == data);
}

TEST_P(Faults, ManySessionsLeakNothingAndEachLogsInOnceAndSaysGoodbye) {
    SessionRig rig(GetParam());
    writeFile(rig.served("f.txt"), "12345");
    OPEN(rig);
    rig.session->close();
    const int descriptors = openDescriptors();
    for (int i = 0; i < 30; ++i) {
        ASSERT_TRUE(rig.connect()) << i << rig.logText();
        rig.session->list(rig.at(""));
        EXPECT_EQ(rig.fetch(rig.at("f.txt")), "12345");
        rig.session->close();
    }
    EXPECT_EQ(openDescriptors(), descriptors);
    if (GetParam() == Kind::Ftp) {
        // The server prints these before it answers.
        EXPECT_EQ(occurrences(rig.server.output(), "LOGIN"), 31);
        EXPECT_EQ(occurrences(rig.server.output(), "QUIT"), 31);
    }
}

// Servers that acknowledge bytes they did not keep, lack SIZE and MDTM, or stream past a file's
// end: a session reports what the server holds after an upload, and cuts off a download that
// runs far past the size it was told.
TEST(LyingServers, WhatTheServerHoldsIsMeasuredAndNoDownloadRunsOn) {
    // Large enough for the upload that writes its own requests.
    const std::string data = patternBytes(9 << 20, 3);
    // The server, what it says it holds of the upload, whether the 10-byte file comes whole.
    const std::tuple<Kind, std::vector<std::string>, std::optional<std::int64_t>, bool> cases[] = {
        {Kind::Sftp, {"--keep-bytes", "100000"}, 100000, true},
        {Kind::Ftp, {"--keep-bytes", "100000"}, 100000, true},
        {Kind::Ftp, {"--no-size", "--no-mdtm"}, std::nullopt, true},
        {Kind::Ftp, {"--no-size", "--endless-files"}, std::nullopt, false}};
    for (const auto& [kind, switches, held, whole] : cases) {
        SCOPED_TRACE(switches[0] + " " + switches[1]);
        SessionRig rig(kind, switches);
        writeFile(rig.served("ten.txt"), "0123456789");
        OPEN(rig);
        EXPECT_EQ(rig.send(data, rig.at("up.bin")).size, held);
        NewFile staged(rig.dir.path());
        const auto began = Steady::now();
        const RuntimeError e = thrown([&] { rig.session->fetch(rig.at("ten.txt"), 10, staged); });
        EXPECT_EQ(e.number(), whole ? 0 : kErrRemote) << e.description();
        EXPECT_LT(Steady::now() - began, 10s);
        // Whole, exactly; the endless file cut off within a MiB past its size.
        EXPECT_TRUE(whole ? staged.size() == 10 : staged.size() <= 10 + (1 << 20)) << staged.size();
        EXPECT_EQ(rig.session->stat(rig.at("ten.txt")).size.has_value(), held.has_value());
    }
}

// A transfer held back by the bandwidth limit keeps to it both ways, with its progress lines
// and yields as ever, and a silent server is given up on in the same time as without the limit.
TEST_P(Faults, ABandwidthLimitHoldsBothWaysAndLetsStallLimitsThrough) {
    SessionRig rig(GetParam());
    rig.bandwidth = std::make_unique<BandwidthLimit>(256 * 1024);
    // 2.2 s beyond the bucket's credit: long enough for FTP's steps of 20 %, each reported.
    const std::string data = patternBytes(576 << 10, 6);
    writeFile(rig.served("down.bin"), data);
    OPEN(rig);
    for (const std::string op : {"Download", "Upload"}) {
        SCOPED_TRACE(op);
        rig.state.currentOperation = op;
        rig.yields = 0;
        const std::size_t from = rig.log.size();
        EXPECT_TRUE(data == (op == "Upload" ? (rig.send(data, rig.at("up.bin")),
                                               readFile(rig.served("up.bin")))
                                            : rig.fetch(rig.at("down.bin"))));
        EXPECT_GT(rig.took, 2000ms);  // unlimited, it takes a few milliseconds
        EXPECT_LT(rig.took, 6s);
        EXPECT_GE(rig.yields, rig.took / 100ms);
        EXPECT_GE(rig.log.size() - from, 3u) << rig.logText();  // progress lines
    }
    // A server that stops sending is given up on as without a limit: its silence counts
    // (2 s here; libcurl judges the speed of the last few seconds), the limit's waits do not.
    SessionRig stalled(GetParam(), {"--stall-after-bytes", "100000"});
    stalled.bandwidth = std::make_unique<BandwidthLimit>(128 * 1024);
    stalled.limits.lowSpeedTime = 2s;
    writeFile(stalled.served("down.bin"), data);
    START(stalled);
    ASSERT_TRUE(GetParam() == Kind::Ftp ? stalled.connect() : stalled.connectWithin(2));
    EXPECT_EQ(thrown([&] { stalled.fetch(stalled.at("down.bin")); }).number(), kErrConnection);
    EXPECT_LT(stalled.took, 15s);
}

INSTANTIATE_TEST_SUITE_P(Servers, Faults, ::testing::Values(Kind::Sftp, Kind::Ftp), kindParamName);

// A large upload on a long path goes through up to six channels. Whatever fails on any channel, nothing on the server looks whole:
// what the session can still reach is removed; what it cannot (here the first channel stalls,
// as after a SIGKILL) is short of the full size, never the full size with a gap.
TEST(SecondChannel, AFailureOnAnyChannelLeavesNothingThatLooksWhole) {
    // Fault switches; the error and what it says of the channel; whether the session can still
    // remove the partial file; the file's size in MiB.
    const std::tuple<std::vector<std::string>, int, std::string, bool, int> cases[] = {
        // Early enough that the first channel still has a part of its own.
        {{"--stall-after-bytes", "1000000", "--stall-channel", "1"}, kErrConnection, "", false, 24},
        {{"--second-channel", "fail"}, kErrRemote, "", true, 24},
        {{"--second-channel", "close"}, kErrRemote, "il server ha chiuso il secondo canale", true,
         24},
        // Silent while the first channel still moves, slowly.
        {{"--stall-after-bytes", "1000000", "--stall-channel", "2", "--max-rate", "4000000"},
         kErrRemote, "il secondo canale SFTP non risponde", true, 24},
        // Large enough that the sixth channel joins however slow this machine is.
        {{"--stall-after-bytes", "1000000", "--stall-channel", "6"}, kErrRemote,
         "il sesto canale SFTP non risponde", true, 48},
    };
    for (const auto& [faults, number, says, removable, mib] : cases) {
        SCOPED_TRACE(faults[0] + " " + faults[1] + " " + faults.back());
        SessionRig rig(Kind::Sftp, faults);
        START(rig);
        ASSERT_TRUE(rig.farAway(40));
        ASSERT_TRUE(rig.connectWithin(2)) << rig.logText();
        const std::string data = patternBytes(mib << 20, 9);
        const RuntimeError e = thrown([&] { rig.send(data, rig.at("up.bin")); });
        EXPECT_EQ(e.number(), number) << e.description();
        EXPECT_TRUE(contains(e.description(), says)) << e.description();
        EXPECT_LT(rig.took, 10s);
        if (removable) {
            EXPECT_FALSE(fs::exists(rig.served("up.bin")));
            EXPECT_TRUE(contains(rig.logText(), " Rimosso dal server il file incompleto"))
                << rig.logText();
            writeFile(rig.served("after.txt"), "still here");
            EXPECT_EQ(rig.fetch(rig.at("after.txt")), "still here");
        } else {
            // The second channel wrote the upper part, the first stalled below it.
            const std::uintmax_t left = fs::file_size(rig.served("up.bin"));
            EXPECT_GT(left, 12u << 20);
            EXPECT_LT(left, 24u << 20);
        }
    }
}

// A server whose channel window is smaller than one write request: a large upload goes on a
// request at a time, as the server opens the window, and arrives whole.
TEST(SmallWindow, ALargeUploadGoesOnARequestAtATime) {
    SessionRig rig(Kind::Sftp, {"--window", "16384"});
    OPEN(rig);
    const std::string data = patternBytes((8 << 20) + 1, 4);
    EXPECT_EQ(rig.send(data, rig.at("up.bin")).size, std::ssize(data));
    EXPECT_TRUE(readFile(rig.served("up.bin")) == data);
    EXPECT_LT(rig.took, 20s);
}

// A file that ends early while it is read: it said it had `size` bytes, it has `holds`.
class ShrinkingSource : public ByteSource {
  public:
    ShrinkingSource(std::string data, std::int64_t size) : data_(std::move(data)), size_(size) {}
    std::int64_t size() const override { return size_; }
    std::size_t readAt(std::int64_t offset, char* into, std::size_t room) override {
        if (offset >= std::ssize(data_)) return 0;
        const std::size_t n = std::min(room, data_.size() - static_cast<std::size_t>(offset));
        std::memcpy(into, data_.data() + offset, n);
        return n;
    }

  private:
    std::string data_;
    std::int64_t size_;
};

// Large uploads on a long path go through several channels and leave the session's own channel in step: one after another they arrive whole,
// the server's size reported; whatever stops one leaves nothing behind and the session goes on.
TEST(LongPathUploads, ArriveWholeOneAfterAnotherOrLeaveNothingAndTheSessionGoesOn) {
    SessionRig rig(Kind::Sftp);
    writeFile(rig.served("after.txt"), "still here");
    START(rig);
    ASSERT_TRUE(rig.farAway(40));
    ASSERT_TRUE(rig.connect()) << rig.logText();
    for (const int size : {24 << 20, 9 << 20, (8 << 20) + 1}) {
        SCOPED_TRACE(size);
        const std::string data = patternBytes(size, size % 251);
        EXPECT_EQ(rig.send(data, rig.at("up.bin")).size, size);
        EXPECT_TRUE(readFile(rig.served("up.bin")) == data);
    }
    const std::string data = patternBytes(12 << 20, 5);
    // What stops it; the error and what it says.
    const std::tuple<std::string, int, std::string> cases[] = {
        {"abort", kErrAborted, "Upload di " + rig.at("up.bin") + " interrotto"},
        {"shrinks", kErrGeneric, "il file locale si è accorciato durante l'invio"},
        {"no folder", kErrRemote, "Impossibile creare il file remoto " + rig.at("no/up.bin")}};
    int removals = 0;
    for (const auto& [what, number, says] : cases) {
        SCOPED_TRACE(what);
        fs::remove(rig.served("up.bin"));
        removals += what != "no folder";
        rig.state.abortRequest = what == "abort";
        ShrinkingSource source(data, what == "shrinks" ? 14 << 20 : 12 << 20);
        const RuntimeError e = thrown(
            [&] { rig.session->send(source, rig.at(what == "no folder" ? "no/up.bin" : "up.bin")); });
        rig.state.abortRequest = false;
        EXPECT_EQ(e.number(), number) << e.description();
        EXPECT_TRUE(contains(e.description(), says)) << e.description();
        EXPECT_FALSE(fs::exists(rig.served("up.bin")));
        // A file that never opened is not said to be left behind, nor removed.
        EXPECT_EQ(occurrences(rig.logText(), " file incompleto"), removals) << rig.logText();
        EXPECT_EQ(occurrences(rig.logText(), " Rimosso dal server il file incompleto"), removals);
        EXPECT_EQ(rig.fetch(rig.at("after.txt")), "still here");
    }
}

// Opening a session: logins accepted and refused, host keys recorded, known, changed or not
// recordable, and a server whose login methods try to write the log for us.
// "SHA256:..." of the test server's current host key (the digest itself is checked against a
// published vector below).
std::string fingerprint(SessionRig& rig) {
    const std::string line = rig.server.knownHostsLine();
    const std::size_t key = line.rfind(' ') + 1;
    return sftp::fingerprintOfKey(*base64Decode(line.substr(key, line.size() - 1 - key)));
}

TEST(Fingerprint, IsTheUnpaddedBase64OfTheSha256AsSshKeygenPrintsIt) {
    EXPECT_EQ(sftp::fingerprintOfKey("abc"), "SHA256:ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0");
}

TEST(Login, AcceptedOrRefusedSayingWhyAndAtOnce) {
    // How the login goes (a switch, "wrong" password, nobody on the port, a port that is not a
    // number) and what the log then says; null: logged in.
    const std::tuple<Kind, std::string, const char*> cases[] = {
        {Kind::Sftp, "--refuse-login", "password rifiutata"},
        {Kind::Sftp, "--kbdint-only", nullptr},
        {Kind::Sftp, "--kbdint-only wrong", "password rifiutata (keyboard-interactive)"},
        {Kind::Ftp, "--refuse-login", " Not Connected ! 530 Login incorrect."},
        {Kind::Sftp, "closed", "Connessione rifiutata da"},
        {Kind::Ftp, "closed", " Not Connected ! "},
        {Kind::Ftp, "port abc", " connetti_ftp "},
        // Login methods that would forge a log line and fill it: escaped and cut to size.
        {Kind::Sftp, "--forged-methods",
         "password\\x0d\\x0a23:59:59 Download corretto FAKE.txt,xxx"},
    };
    for (const auto& [kind, how, says] : cases) {
        SCOPED_TRACE(how);
        SessionRig rig(kind, startsWith(how, "--") ? std::vector{how.substr(0, how.find(' '))}
                                                   : std::vector<std::string>{});
        ASSERT_TRUE(rig.server.ok());
        if (endsWith(how, "wrong")) rig.fields.txtPwd = "wrong";
        if (how == "closed") rig.server.stop();
        if (how == "port abc") rig.fields.txtHost = "127.0.0.1:abc";
        const auto began = Steady::now();
        EXPECT_EQ(rig.connect(), says == nullptr) << rig.logText();
        EXPECT_LT(Steady::now() - began, 5s);
        const std::string log = rig.logText();
        if (says) {
            EXPECT_TRUE(contains(log, says)) << log;
            EXPECT_TRUE(kind == Kind::Ftp || contains(log, rig.server.host())) << log;
            // Later requests fail as the session's, and an SFTP one says why.
            const RuntimeError e = thrown([&] { rig.session->list(rig.at("")); });
            EXPECT_EQ(e.number(), kErrConnection);
            EXPECT_TRUE(kind == Kind::Ftp || contains(e.description(), says)) << e.description();
            EXPECT_EQ(rig.session->stateNote(), kind == Kind::Ftp ? "" : " 4");
        }
        EXPECT_TRUE(rig.fields.txtPwd.empty() || !contains(log, rig.fields.txtPwd)) << log;
        EXPECT_FALSE(how == "closed" && fs::exists(rig.knownHosts));
        for (const std::string& line : rig.log.List1()) EXPECT_LT(line.size(), 1500u);
    }
}

TEST(HostKey, RecordedAtFirstSightOrElseAddedByHandThenKnownAndAnyOtherKeyRefused) {
    SessionRig rig(Kind::Sftp);
    // First in a folder that is not there: not even root can record the key.
    rig.knownHosts = (rig.dir / "hosts" / "known_hosts").string();
    START(rig);
    EXPECT_FALSE(rig.connect());
    const std::string line = rig.server.knownHostsLine(), first = fingerprint(rig);
    EXPECT_TRUE(contains(rig.logText(), "non registrabile in " + rig.knownHosts)) << rig.logText();
    EXPECT_TRUE(contains(rig.logText(), "a mano questa riga: " + line)) << rig.logText();
    fs::create_directory(rig.dir / "hosts");
    ASSERT_TRUE(rig.connect()) << rig.logText();
    EXPECT_EQ(readFile(rig.knownHosts), line);
    EXPECT_EQ(fs::status(rig.knownHosts).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(
        contains(rig.logText(), " registrata in " + rig.knownHosts + ": ssh-ed25519 " + first))
        << rig.logText();
    rig.session->close();
    ASSERT_TRUE(rig.connect());
    EXPECT_EQ(occurrences(rig.logText(), "prima volta e registrata"), 1);

    // The same address with another key of the same type, then with one of another type.
    const fs::path key = rig.server.dir() / "host_key";
    for (const std::string type : {"ed25519", "ecdsa"}) {
        rig.session->close();
        rig.server.stop();
        fs::remove(key);
        fs::remove(key.string() + ".pub");
        ASSERT_TRUE(runCommand("ssh-keygen -q -N '' -t " + type + " -f " + key.string()));
        ASSERT_TRUE(rig.server.restart());
        EXPECT_FALSE(rig.connect()) << type;
        const std::string log = rig.logText();
        EXPECT_TRUE(contains(log, "è cambiata")) << log;
        EXPECT_TRUE(contains(log, first)) << log;
        EXPECT_TRUE(contains(log, fingerprint(rig))) << log;
        EXPECT_EQ(readFile(rig.knownHosts), line);
    }
    // Added by hand to a file that may not be written: known, so accepted.
    writeFile(rig.knownHosts, rig.server.knownHostsLine());
    fs::permissions(rig.knownHosts, fs::perms::owner_read);
    EXPECT_TRUE(rig.connect()) << rig.logText();
}

}  // namespace

}  // namespace vs::test
