// Opening a session: logins accepted and refused, host keys recorded, known, changed or not
// recordable, and a server whose login methods try to write the log for us.
#include "remote/sftp/fingerprint.h"
#include "session_rig.h"

namespace vs::test {
namespace {

namespace fs = std::filesystem;

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
