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

// Reached (nothing said), or refused with a line that names what is missing.
TEST(SshServers, EveryKindOfServerAndKeyIsReachedOrARefusalNamesWhatIsMissing) {
    struct Row {
        const char* name;
        SshdKeys keys;
        std::vector<std::string> config = {};
        std::optional<std::string> settings = {};  // the key lines, when not the server's own
        std::string says = {};
        bool onlySecondHostKeyKnown = false;
    };
    // A server offering only `offers` for `what`, and the start of the list we offer instead.
    const auto lacking = [](std::vector<std::string> config, const char* what, const char* offers,
                            const char* ours, SshdKeys keys = {}) {
        return Row{.name = what,
                   .keys = std::move(keys),
                   .config = std::move(config),
                   .says = std::string("Negoziazione SSH con 127.0.0.1:{port} non riuscita: "
                                       "nessun algoritmo di ") +
                           what + " in comune con il server. Il server offre: " + offers +
                           "; questo programma supporta: " + ours};
    };
    const Row rows[] = {
        {"RSA host key, RSA user key in PEM", {{"rsa"}, "rsa-pem", ""}, {}},
        {"RSA host key, RSA user key in OpenSSH format", {{"rsa"}, "rsa", ""}, {}},
        {"hardened, protected ed25519 user key",
         {{"ed25519"}, "ed25519", "open sesame"},
         kHardened},
        {"hardened to chacha20 and an RSA host key",
         {{"rsa"}, "ed25519", ""},
         {"Ciphers chacha20-poly1305@openssh.com", "HostKeyAlgorithms rsa-sha2-512"}},
        {.name = "ed25519 and RSA host keys, only the RSA one known",
         .keys = {{"ed25519", "rsa"}, "ed25519", ""},
         .onlySecondHostKeyKnown = true},
        {.name = "passphrase missing",
         .keys = {{"ed25519"}, "ed25519", "open sesame"},
         .settings = "keyfile={key}\r\n",
         .says = "la chiave privata {key} è protetta da una passphrase, che manca nei parametri "
                 "(keypassphrase)"},
        {.name = "passphrase wrong",
         .keys = {{"ed25519"}, "rsa-pem", "open sesame"},
         .settings = "keyfile={key}\r\nkeypassphrase=not it\r\n",
         .says = "la passphrase dei parametri (keypassphrase) non apre la chiave privata {key}"},
        lacking({"KexAlgorithms sntrup761x25519-sha512@openssh.com"}, "scambio di chiavi (kex)",
                "sntrup761x25519-sha512@openssh.com", "curve25519-sha256,"),
        lacking({"HostKeyAlgorithms ssh-dss"}, "tipo di chiave host (host key)", "ssh-dss",
                "ssh-ed25519,", {{"dsa"}, "ed25519", ""}),
        lacking({"Ciphers 3des-cbc"}, "cifratura (cipher)", "3des-cbc", "aes128-ctr,"),
        lacking({"Ciphers aes128-ctr", "MACs umac-128-etm@openssh.com"},
                "controllo di integrità (MAC)", "umac-128-etm@openssh.com",
                "hmac-sha2-256-etm@openssh.com,"),
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TestServer server(TestServer::Kind::OpenSsh, row.config, row.keys);
        ASSERT_TRUE(server.ok()) << server.output();
        const auto filled = [&](const std::string& text) {
            return replaceAll(replaceAll(text, "{key}", (server.dir() / "user_key").string()),
                              "{port}", std::to_string(server.port()));
        };
        const std::string recorded = row.onlySecondHostKeyKnown ? server.knownHostsLine(1) : "";
        const Outcome run = downloadFrom(
            server, recorded, row.settings ? std::optional(filled(*row.settings)) : std::nullopt);
        EXPECT_EQ(run.exitCode, row.says.empty() ? 0 : 1) << run.log;
        EXPECT_TRUE(contains(run.log, filled(row.says))) << run.log;
        // One line says it all, and the passphrase never reaches the log.
        EXPECT_FALSE(contains(run.log, "not it")) << run.log;
        if (row.says.empty()) {
            // What was recorded: the one key on first sight, nothing more when a key was known.
            const std::string known = recorded.empty() ? server.knownHostsLine(0) : recorded;
            EXPECT_TRUE(endsWith(run.log, "known_hosts: " + known)) << run.log;
        }
    }
}

}  // namespace
}  // namespace vs::test
