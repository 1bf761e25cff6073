// The real program against OpenSSH servers set up as partners' servers are: RSA keys only,
// hardened to current guides, several host keys, protected user keys, and servers restricted
// to algorithms the program lacks or refuses.
#include <gtest/gtest.h>

#include "common/text.h"
#include "support/servers.h"

namespace vs::test {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kHardened = {
    "KexAlgorithms curve25519-sha256",
    "Ciphers chacha20-poly1305@openssh.com,aes256-gcm@openssh.com,aes128-gcm@openssh.com",
    "MACs hmac-sha2-512-etm@openssh.com,hmac-sha2-256-etm@openssh.com",
    "HostKeyAlgorithms ssh-ed25519,rsa-sha2-512,rsa-sha2-256"};

struct Outcome {
    int exitCode;
    std::string log;
};

// One download cycle of the program against the server; `knownHosts` is the known_hosts file
// it starts with, `settings` replaces the key lines of the settings file when set.
Outcome downloadFrom(TestServer& server, const std::string& knownHosts = "",
                     const std::optional<std::string>& settings = std::nullopt) {
    TempDir dir;
    writeFile(server.local("out") / "report.txt", "report");
    writeFile(server.local("out") / "scarica_ok", "");
    fs::create_directories(dir / "in");
    Login login = loginTo(server);
    if (settings) login.extra = *settings;
    writeSettings(dir / "home", login, {{server.remote("out"), (dir / "in").string()}});
    if (!knownHosts.empty()) writeFile(dir / "home" / "known_hosts", knownHosts);
    const ProgramRun run = runProgram(dir / "home", {"mod:asp"});
    const bool fetched = fs::exists(dir / "in" / "report.txt");
    EXPECT_EQ(fetched, run.exitCode == 0) << run.output;
    std::string log = dayLogs(dir / "home");
    if (fs::exists(dir / "home" / "known_hosts"))
        log += "known_hosts: " + readFile(dir / "home" / "known_hosts");
    return {run.exitCode, log};
}

// "type base64" of a public key file.
std::string keyOf(const fs::path& pub) {
    const std::string text = readFile(pub);
    return text.substr(0, text.find(' ', text.find(' ') + 1));
}

// Reached (nothing said), or refused with a line that names what is missing.
TEST(SshServers, EveryKindOfServerAndKeyIsReachedOrARefusalNamesWhatIsMissing) {
    struct Row {
        const char* name;
        SshdKeys keys;
        std::vector<std::string> config;
        std::optional<std::string> settings = {};  // the key lines, when not the server's own
        std::vector<std::string> says = {};
        bool onlySecondHostKeyKnown = false;
    };
    const std::string negotiation = "Negoziazione SSH con 127.0.0.1:{port} non riuscita: ";
    const Row rows[] = {
        {"RSA host key, RSA user key in PEM", {{"rsa"}, "rsa-pem", ""}, {}},
        {"RSA host key, RSA user key in OpenSSH format", {{"rsa"}, "rsa", ""}, {}},
        {"hardened, protected ed25519 user key",
         {{"ed25519"}, "ed25519", "open sesame"},
         kHardened},
        {"hardened to chacha20 and an RSA host key",
         {{"rsa"}, "ed25519", ""},
         {"Ciphers chacha20-poly1305@openssh.com", "HostKeyAlgorithms rsa-sha2-512"}},
        {"ed25519 and RSA host keys, only the RSA one known",
         {{"ed25519", "rsa"}, "ed25519", ""},
         {},
         std::nullopt,
         {},
         true},
        {"passphrase missing",
         {{"ed25519"}, "ed25519", "open sesame"},
         {},
         "keyfile={key}\r\n",
         {"la chiave privata {key} è protetta da una passphrase, che manca nei parametri "
          "(keypassphrase)"}},
        {"passphrase wrong",
         {{"ed25519"}, "rsa-pem", "open sesame"},
         {},
         "keyfile={key}\r\nkeypassphrase=not it\r\n",
         {"la passphrase dei parametri (keypassphrase) non apre la chiave privata {key}"}},
        {"key exchange",
         {},
         {"KexAlgorithms sntrup761x25519-sha512@openssh.com"},
         std::nullopt,
         {negotiation + "nessun algoritmo di scambio di chiavi (kex) in comune con il server. Il "
                        "server offre: sntrup761x25519-sha512@openssh.com; questo programma "
                        "supporta: curve25519-sha256,",
          "Chiedere all'amministratore del server di abilitarne uno"}},
        {"host key",
         {{"dsa"}, "ed25519", ""},
         {"HostKeyAlgorithms ssh-dss"},
         std::nullopt,
         {negotiation +
          "nessun algoritmo di tipo di chiave host (host key) in comune con il "
          "server. Il server offre: ssh-dss; questo programma supporta: ssh-ed25519,"}},
        {"cipher",
         {},
         {"Ciphers 3des-cbc"},
         std::nullopt,
         {negotiation + "nessun algoritmo di cifratura (cipher) in comune con il server. Il server "
                        "offre: 3des-cbc; questo programma supporta: aes128-ctr,"}},
        {"MAC",
         {},
         {"Ciphers aes128-ctr", "MACs umac-128-etm@openssh.com"},
         std::nullopt,
         {negotiation + "nessun algoritmo di controllo di integrità (MAC) in comune con il "
                        "server. Il server offre: umac-128-etm@openssh.com; questo programma "
                        "supporta: hmac-sha2-256-etm@openssh.com,"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TestServer server(TestServer::Kind::OpenSsh, row.config, row.keys);
        ASSERT_TRUE(server.ok()) << server.output();
        const auto filled = [&](std::string text) {
            for (const auto& [field, value] : {std::pair<std::string, std::string>{
                                                   "{key}", (server.dir() / "user_key").string()},
                                               {"{port}", std::to_string(server.port())}})
                for (auto at = text.find(field); at != std::string::npos; at = text.find(field))
                    text.replace(at, field.size(), value);
            return text;
        };
        const std::string name = "[127.0.0.1]:" + std::to_string(server.port()) + " ";
        const std::string recorded =
            row.onlySecondHostKeyKnown ? name + keyOf(server.hostKey(1)) + "\n" : std::string();
        const Outcome run = downloadFrom(
            server, recorded, row.settings ? std::optional(filled(*row.settings)) : std::nullopt);
        EXPECT_EQ(run.exitCode, row.says.empty() ? 0 : 1) << run.log;
        for (const std::string& part : row.says)
            EXPECT_TRUE(contains(run.log, filled(part))) << run.log;
        // One line says it all, and the passphrase never reaches the log.
        EXPECT_FALSE(contains(run.log, "not it")) << run.log;
        if (row.says.empty()) {
            // What was recorded: the one key on first sight, nothing more when a key was known.
            const std::string known =
                recorded.empty() ? name + keyOf(server.hostKey(0)) + "\n" : recorded;
            EXPECT_TRUE(endsWith(run.log, "known_hosts: " + known)) << run.log;
            EXPECT_TRUE(contains(run.log, " Libreria SSH: libssh2 1.1")) << run.log;
        }
    }
}

}  // namespace
}  // namespace vs::test
