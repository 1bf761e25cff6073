#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/runtime_error.h"
#include "support/server_process.h"
#include "support/temp_dir.h"

namespace vs::test {

// The keys of an sshd: its host key types, and the user key it accepts (ssh-keygen types;
// "rsa-pem" is RSA in the old PEM format) with the user key's passphrase.
struct SshdKeys {
    std::vector<std::string> hostKeys{"ed25519"};
    std::string userKey = "ed25519";
    std::string passphrase;
};

// A real server on a free 127.0.0.1 port over a fresh folder: the asyncssh SFTP server, the
// pyftpdlib FTP server (both with fault switches, tests/servers), OpenSSH's sshd (the switches
// are lines of its configuration) or vsftpd (FTPS, explicit or implicit, with a self-signed
// certificate).
class TestServer {
  public:
    enum class Kind { Sftp, Ftp, OpenSsh, Vsftpd, VsftpdImplicit };

    // Started with the switches; check ok(). A server that cannot be started (sshd or vsftpd
    // missing) fails the test that needs it, with the reason in output().
    explicit TestServer(Kind kind, std::vector<std::string> extra = {}, SshdKeys keys = {});

    bool ok() const { return port_ > 0; }
    // Starts again on the same port with other switches.
    bool restart(std::vector<std::string> extra = {});
    void stop() { process_.reset(); }
    std::string output();  // what the server printed ("LOGIN ..." lines and the like)

    bool vsftpd() const { return kind_ == Kind::Vsftpd || kind_ == Kind::VsftpdImplicit; }
    int port() const { return port_; }
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
    const std::filesystem::path& root() const { return root_; }  // what it serves
    std::filesystem::path dir() const { return dir_.path(); }    // beside root: keys ...
    // The known_hosts line of its nth host key (host_key.pub, then host_key_2.pub ...).
    std::string knownHostsLine(std::size_t n = 0) const;
    // What a settings file needs to log in here: tiposerver, login, password, and any key.
    std::string serverType() const;
    std::string login() const;
    std::string password() const { return "secret"; }
    std::string settingsExtra() const;
    // A remote path as the program's settings name it ("/in" on every kind).
    std::string remote(const std::string& folder) const;
    std::filesystem::path local(const std::string& remoteFolder) const;  // root + folder

  private:
    bool startPython(const std::string& script, std::vector<std::string> args);
    std::string startSshd();
    std::string startVsftpd();
    std::filesystem::path hostKey(std::size_t n) const;  // private half

    Kind kind_;
    TempDir dir_;
    std::filesystem::path root_;
    std::vector<std::string> extra_;
    SshdKeys keys_;
    std::unique_ptr<ServerProcess> process_;
    int port_ = 0;
    std::string startProblem_;
};

// The switch of a Python server that slows its file data to `rate` bytes a second.
std::vector<std::string> throttled(TestServer::Kind kind, int rate);

// A test over each kind of server it is instantiated with (named by kind), in a fresh folder. A
// server that is missing fails the test: scripts/install-deps installs every one.
class ServerTest : public ::testing::TestWithParam<TestServer::Kind> {
  protected:
    void SetUp() override {
        server = std::make_unique<TestServer>(GetParam());
        ASSERT_TRUE(server->ok()) << server->output();
    }
    TempDir dir;
    std::unique_ptr<TestServer> server;
};
std::string kindParamName(const ::testing::TestParamInfo<TestServer::Kind>& info);

// A 127.0.0.1 port nobody listens on (bound and released again).
int unusedPort();
// How often `part` occurs in `text`; `text` with every `from` replaced by `to`.
int occurrences(const std::string& text, const std::string& part);
std::string replaceAll(std::string text, const std::string& from, const std::string& to);
std::string sha256Of(const std::string& data);  // in hex
// The error `call` throws; number 0 when it throws none.
RuntimeError thrown(const std::function<void()>& call);
// Deterministic pseudo-random content.
std::string patternBytes(std::size_t size, unsigned seed);
int openDescriptors();
bool runCommand(const std::string& command);

struct JobSpec {
    std::string remote, local, type = "TUTTI", del = "NO", operation = "Download", backup = "",
                               multiplier = "1x", params = "";
};

struct Login {
    std::string host, serverType = "Sftp", login = "tester", password = "secret", extra = "";
};
Login loginTo(const TestServer& server);

// Writes the settings file of a program folder (CR LF lines, as the Windows program wrote).
void writeSettings(const std::filesystem::path& home, const Login& login,
                   const std::vector<JobSpec>& jobs, const std::string& extra = "");

struct ProgramRun {
    int exitCode = -1;
    std::string output;  // standard output
    std::string errors;  // standard error
};

// Starts the program headless in the folder with the arguments and the extra environment
// entries, as the service user (see below) if asked; runProgram also waits at most
// timeoutSeconds.
bool startProgram(ServerProcess& p, const std::filesystem::path& home,
                  std::vector<std::string> args, std::vector<std::string> env = {},
                  const std::string& errorFile = "", bool asServiceUser = false);
ProgramRun runProgram(const std::filesystem::path& home, std::vector<std::string> args,
                      int timeoutSeconds = 120, std::vector<std::string> env = {},
                      bool asServiceUser = false);

// The service runs as a user of its own, not the owner of the files it sends. Tests run as
// root and stand in for it with the unprivileged `nobody`, handed the folders it must write in
// (their parents opened for passage).
bool canRunAsServiceUser();
void handToServiceUser(const std::filesystem::path& folder);

// Every day's log file of the folder, together.
std::string dayLogs(const std::filesystem::path& home);

// Regular files below root, relative to it, sorted: what a folder holds after a run.
std::vector<std::string> filesBelow(const std::filesystem::path& root);

}  // namespace vs::test
