// The rules both sessions keep, tested once over every server they hold for.
#include <utime.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "remote/sftp/fingerprint.h"
#include "session_rig.h"

namespace vs::test {
namespace {

namespace fs = std::filesystem;

struct Row {
    const char* name;
    Kind kind;
    std::vector<std::string> switches;
    const char* says = nullptr;  // once in the log; without it, no entry is left out
};

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

class Listing : public ::testing::TestWithParam<Row> {};
class Sessions : public ::testing::TestWithParam<Kind> {};
class Faults : public ::testing::TestWithParam<Kind> {};

// The fault switch that slows a Python server's file data to `rate` bytes a second.
std::vector<std::string> throttled(Kind kind, int rate) {
    return {kind == Kind::Ftp ? "--rate" : "--max-rate", std::to_string(rate)};
}

TEST_P(Listing, HoldsEveryUsableNameAndCountsTheRestInOneLine) {
    SessionRig rig(GetParam().kind, GetParam().switches);
    for (int i = 0; i < 501; ++i) writeFile(rig.served("f" + std::to_string(i)), "");
    writeFile(rig.served("small.txt"), "12345");
    fs::create_directory(rig.served("sub"));
    OPEN(rig);
    std::map<std::string, std::string> seen;  // name: type letter and size
    for (const std::string& part : rig.session->list(rig.at("")).parts) {
        for (std::size_t at = 0, end; at < part.size(); at = end + 2) {
            end = std::min(part.find("\r\n", at), part.size());
            std::istringstream line(part.substr(at, end - at));
            std::string f[8], name;
            for (std::string& field : f) line >> field;
            std::getline(line.ignore(1), name);
            ASSERT_TRUE(seen.emplace(name, f[0].substr(0, 1) + " " + f[4]).second) << name;
        }
    }
    EXPECT_EQ(seen.size(), 503u);
    EXPECT_EQ(seen["small.txt"], "- 5");
    EXPECT_EQ(seen["sub"].substr(0, 1), "d");
    const char* says = GetParam().says;
    EXPECT_EQ(occurrences(rig.logText(), says ? says : "dall'elenco"), says ? 1 : 0)
        << rig.logText();
}

constexpr const char* kSeven = " 7 voci della cartella remota / escluse dall'elenco";
INSTANTIATE_TEST_SUITE_P(
    Servers, Listing,
    ::testing::Values(
        Row{"Sftp", Kind::Sftp, {"--inject-bad-names"}, kSeven}, Row{"FtpMlsd", Kind::Ftp, {}},
        Row{"FtpUnix", Kind::Ftp, {"--no-mlsd"}},
        Row{"FtpMlsdRefused", Kind::Ftp, {"--refuse-mlsd"}, "MLSD non accettato"},
        Row{"FtpPasvToAnotherHostNotFollowed", Kind::Ftp, {"--pasv-address", "127.0.0.2"}},
        Row{"OpenSsh", Kind::OpenSsh, {}}),
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
            EXPECT_TRUE(data == (op == "Upload" ? (rig.send(data, rig.at("up.bin")), data)
                                                : rig.fetch(rig.at("down.bin"))));
            EXPECT_EQ(rig.state.transferPercentage, 100);
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
                         [](const auto& info) { return std::string(kindName(info.param)); });

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
                op == "Upload" ? rig.send(data, rig.at("up.bin"))
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

// A transfer held back by the bandwidth limit keeps to it both ways, with its progress lines
// and yields as ever, still ends at once when the operator stops it, and a silent server is
// given up on in the same time as without the limit.
TEST_P(Faults, ABandwidthLimitHoldsBothWaysAndLetsAbortsAndStallLimitsThrough) {
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
    rig.yields = 0;
    rig.onYield = [&] { rig.state.abortRequest = rig.state.abortRequest || rig.yields == 10; };
    const RuntimeError e = thrown([&] { rig.fetch(rig.at("down.bin")); });
    EXPECT_EQ(e.number(), kErrAborted) << e.description();
    EXPECT_LT(rig.took, 2s);  // stopped after half a second
    // Nothing of the stopped transfer reaches the next one.
    rig.onYield = nullptr;
    rig.state.abortRequest = false;
    writeFile(rig.served("small.txt"), "small");
    EXPECT_EQ(rig.fetch(rig.at("small.txt")), "small");

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

INSTANTIATE_TEST_SUITE_P(Servers, Faults, ::testing::Values(Kind::Sftp, Kind::Ftp),
                         [](const auto& info) { return std::string(kindName(info.param)); });

// Opening a session: logins accepted and refused, host keys recorded, known, changed or not
// recordable, and a server whose login methods try to write the log for us.
// The known_hosts line of the test server's current host key.
std::string knownHostsLine(SessionRig& rig) {
    const std::string pub = readFile(rig.server.dir() / "host_key.pub");
    return "[127.0.0.1]:" + std::to_string(rig.server.port()) + " " +
           pub.substr(0, pub.find_first_of(" \n", pub.find(' ') + 1));
}

// "SHA256:..." of that key (the digest itself is checked against published vectors).
std::string fingerprint(SessionRig& rig) {
    const std::string line = knownHostsLine(rig);
    return sftp::fingerprintOfKey(*sftp::base64Decode(line.substr(line.rfind(' ') + 1)));
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
    };
    for (const auto& [kind, how, says] : cases) {
        SCOPED_TRACE(how);
        std::vector<std::string> switches;
        if (startsWith(how, "--")) switches.push_back(how.substr(0, how.find(' ')));
        SessionRig rig(kind, switches);
        if (!rig.server.skipReason().empty()) continue;
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
    }
}

TEST(HostKey, FirstSightIsRecordedThenKnownAndAnyOtherKeyRefused) {
    SessionRig rig(Kind::Sftp);
    OPEN(rig);
    const fs::path key = rig.server.dir() / "host_key";
    const std::string line = knownHostsLine(rig) + "\n";
    const std::string first = fingerprint(rig);
    EXPECT_EQ(readFile(rig.knownHosts), line);
    EXPECT_EQ(fs::status(rig.knownHosts).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(
        contains(rig.logText(), " registrata in " + rig.knownHosts + ": ssh-ed25519 " + first))
        << rig.logText();
    rig.session->close();
    ASSERT_TRUE(rig.connect());
    EXPECT_EQ(occurrences(rig.logText(), "prima volta"), 1);

    // The same address with another key of the same type, then with one of another type.
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
}

TEST(HostKey, AKeyThatCannotBeRecordedIsRefusedUntilAddedByHand) {
    SessionRig rig(Kind::Sftp);
    // A folder that is not there: not even root can record the key.
    rig.knownHosts = (rig.dir / "missing" / "known_hosts").string();
    START(rig);
    EXPECT_FALSE(rig.connect());
    const std::string line = knownHostsLine(rig);
    EXPECT_TRUE(contains(rig.logText(), "non registrabile in " + rig.knownHosts)) << rig.logText();
    EXPECT_TRUE(contains(rig.logText(), "a mano questa riga: " + line + "\n")) << rig.logText();

    // Added by hand to a file that may not be written: known, so accepted.
    fs::create_directory(rig.dir / "missing");
    writeFile(rig.knownHosts, line + "\n");
    fs::permissions(rig.knownHosts, fs::perms::owner_read);
    EXPECT_TRUE(rig.connect()) << rig.logText();
}

TEST(HostileServer, LoginMethodsForgeNoLogLineAndStayShort) {
    SessionRig rig(Kind::Sftp, {"--forged-methods"});
    START(rig);
    EXPECT_FALSE(rig.connect());
    ASSERT_TRUE(rig.log.scrivi_file_log());
    const std::string bytes = readFile(rig.log.todaysFile());
    EXPECT_TRUE(contains(bytes, "password\\x0d\\x0a23:59:59 Download corretto FAKE.txt,xxx"))
        << bytes.substr(0, 2000);
    EXPECT_TRUE(contains(bytes, "xxx...[troncato])"));
    for (std::size_t at = 0, end; at < bytes.size(); at = end + 1) {
        end = std::min(bytes.find('\n', at), bytes.size());
        EXPECT_FALSE(startsWith(bytes.substr(at, end - at), "23:59:59")) << "a forged line";
        EXPECT_LT(end - at, 1500u) << "the capped piece and our own words only";
    }
}

}  // namespace

}  // namespace vs::test
