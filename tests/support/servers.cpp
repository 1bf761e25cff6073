#include "support/servers.h"

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

#include "common/sha256.h"

namespace vs::test {

namespace fs = std::filesystem;

namespace {

sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    return a;
}

bool listening(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(port);
    const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return up;
}

}  // namespace

std::vector<std::string> throttled(TestServer::Kind kind, int rate) {
    return {kind == TestServer::Kind::Ftp ? "--rate" : "--max-rate", std::to_string(rate)};
}

std::string kindParamName(const ::testing::TestParamInfo<TestServer::Kind>& info) {
    static const char* const names[] = {"Sftp", "Ftp", "OpenSsh", "Vsftpd", "VsftpdImplicit"};
    return names[static_cast<int>(info.param)];
}

TestServer::TestServer(Kind kind, std::vector<std::string> extra, SshdKeys keys)
    : kind_(kind), root_(dir_ / "root"), extra_(std::move(extra)), keys_(std::move(keys)) {
    fs::create_directories(root_);
    restart(extra_);
}

std::string TestServer::output() {
    return startProblem_ + (process_ ? process_->output() : std::string());
}

fs::path TestServer::hostKey(std::size_t n) const {
    return dir() / (n == 0 ? std::string("host_key") : "host_key_" + std::to_string(n + 1));
}

std::string TestServer::knownHostsLine(std::size_t n) const {
    const std::string key = readFile(hostKey(n).string() + ".pub");
    return "[127.0.0.1]:" + std::to_string(port_) + " " +
           key.substr(0, key.find_first_of(" \n", key.find(' ') + 1)) + "\n";
}

bool TestServer::restart(std::vector<std::string> extra) {
    extra_ = std::move(extra);
    // A fresh process object each time: an old "PORT" line must not pass for the new one's.
    process_.reset();
    if (kind_ == Kind::Sftp)
        return startPython("sftp_server.py", {"--host-key", hostKey(0).string()});
    if (kind_ == Kind::Ftp) return startPython("ftp_server.py", {});
    startProblem_ = kind_ == Kind::OpenSsh ? startSshd() : startVsftpd();
    return startProblem_.empty();
}

// With Debian's python3, the one that has asyncssh and pyftpdlib.
bool TestServer::startPython(const std::string& script, std::vector<std::string> args) {
    args.insert(args.begin(), {"/usr/bin/python3", VS_TEST_SERVERS_DIR "/" + script, "--root",
                               root_.string(), "--user", "tester", "--password", password(),
                               "--port", std::to_string(port_), "--max-seconds", "600"});
    args.insert(args.end(), extra_.begin(), extra_.end());
    process_ = std::make_unique<ServerProcess>();
    port_ = process_->start(args) ? process_->waitForPort() : 0;
    return port_ > 0;
}

std::string TestServer::startSshd() {
    const std::string sshd = "/usr/sbin/sshd";
    if (::access(sshd.c_str(), X_OK) != 0) return sshd + " is not installed";
    // Debian's sshd insists on its privilege separation folder, made by its service at boot.
    struct stat st {};
    if (::stat("/run/sshd", &st) != 0 && (::getuid() != 0 || ::mkdir("/run/sshd", 0755) != 0))
        return "/run/sshd is missing and cannot be made";
    const fs::path key = dir() / "user_key";
    std::string hostKeyLines;
    for (std::size_t n = 0; n < keys_.hostKeys.size(); ++n) {
        const fs::path hostKey = this->hostKey(n);
        if (!fs::exists(hostKey) && !runCommand("ssh-keygen -q -t " + keys_.hostKeys[n] +
                                                " -N '' -f '" + hostKey.string() + "'"))
            return "ssh-keygen failed";
        hostKeyLines += "HostKey " + hostKey.string() + "\n";
    }
    const bool pem = keys_.userKey == "rsa-pem";
    if (!fs::exists(key) &&
        !runCommand("ssh-keygen -q -t " + (pem ? "rsa -m PEM" : keys_.userKey) + " -N '" +
                    keys_.passphrase + "' -C test -f '" + key.string() + "'"))
        return "ssh-keygen failed";
    writeFile(dir() / "authorized_keys", readFile(key.string() + ".pub"));
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (port_ == 0 || attempt > 0) port_ = unusedPort();
        std::string config = "ListenAddress 127.0.0.1\nPort " + std::to_string(port_) + "\n" +
                             hostKeyLines + "AuthorizedKeysFile " +
                             (dir() / "authorized_keys").string() + "\nPidFile " +
                             (dir() / "sshd.pid").string() +
                             "\nUsePAM no\nStrictModes no\nPubkeyAuthentication yes\n"
                             "PasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                             "PermitRootLogin prohibit-password\nLogLevel ERROR\n"
                             "Subsystem sftp internal-sftp\n";
        for (const std::string& line : extra_) config += line + "\n";
        writeFile(dir() / "sshd_config", config);
        process_ = std::make_unique<ServerProcess>();
        if (!process_->start({sshd, "-D", "-e", "-f", (dir() / "sshd_config").string()}))
            return "sshd cannot be started";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline && process_->running()) {
            if (listening(port_)) return {};
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    port_ = 0;
    return "sshd did not start listening";
}

std::string TestServer::startVsftpd() {
    if (::access("/usr/sbin/vsftpd", X_OK) != 0) return "/usr/sbin/vsftpd is not installed";
    const std::string cert = (dir() / "cert.pem").string(), key = (dir() / "key.pem").string();
    runCommand(
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "
        "/CN=127.0.0.1 -keyout " +
        key + " -out " + cert + " 2>/dev/null");
    if (port_ == 0) port_ = unusedPort();
    // TLS required for the login and every data connection, each resuming the control's TLS
    // session; anonymous login as the user running the test (no account or PAM needed).
    writeFile(dir() / "vsftpd.conf",
              "listen=YES\nlisten_address=127.0.0.1\nlisten_port=" + std::to_string(port_) +
                  "\nrun_as_launching_user=YES\nanon_root=" + root_.string() +
                  "\nwrite_enable=YES\nanon_upload_enable=YES\nanon_other_write_enable=YES\n"
                  "anon_world_readable_only=NO\nssl_enable=YES\nimplicit_ssl=" +
                  (kind_ == Kind::VsftpdImplicit ? "YES" : "NO") +
                  "\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\nforce_anon_data_ssl=YES\n"
                  "require_ssl_reuse=YES\nrsa_cert_file=" +
                  cert + "\nrsa_private_key_file=" + key +
                  "\nseccomp_sandbox=NO\nssl_ciphers=HIGH\n");
    process_ = std::make_unique<ServerProcess>();
    if (!process_->start({"/usr/sbin/vsftpd", (dir() / "vsftpd.conf").string()}))
        return "vsftpd cannot be started";
    for (int i = 0; i < 200 && process_->running() && !listening(port_); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!listening(port_)) port_ = 0;  // installed but not listening: fails through ok()
    return {};
}

std::string TestServer::serverType() const {
    static const char* const types[] = {"Sftp", "Ftp", "Sftp", "Ftps", "FtpsImplicito"};
    return types[static_cast<int>(kind_)];
}

std::string TestServer::login() const {
    if (vsftpd()) return "anonymous";
    const passwd* pw = ::getpwuid(::getuid());
    return kind_ != Kind::OpenSsh ? "tester" : pw ? pw->pw_name : "root";
}

std::string TestServer::settingsExtra() const {
    if (kind_ != Kind::OpenSsh) return "";
    return "keyfile=" + (dir() / "user_key").string() + "\r\n" +
           (keys_.passphrase.empty() ? "" : "keypassphrase=" + keys_.passphrase + "\r\n");
}

std::string TestServer::remote(const std::string& folder) const {
    // sshd and vsftpd (not in a chroot, as no root is needed) serve the whole file system; the
    // python servers serve root as "/".
    return kind_ == Kind::OpenSsh || vsftpd() ? (root_ / folder).string() : "/" + folder;
}

fs::path TestServer::local(const std::string& folder) const {
    fs::create_directories(root_ / folder);
    return root_ / folder;
}

int unusedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    socklen_t length = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(fd);
    return ntohs(a.sin_port);
}

int occurrences(const std::string& text, const std::string& part) {
    int n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string sha256Of(const std::string& data) {
    Sha256 hash;
    hash.update(data.data(), data.size());
    return hash.hex();
}

RuntimeError thrown(const std::function<void()>& call) {
    try {
        call();
    } catch (const RuntimeError& e) {
        return e;
    }
    return RuntimeError(0, "nessun errore");
}

std::string patternBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; i += 4) {
        std::uint32_t v = random();
        for (std::size_t j = 0; j < 4 && i + j < size; ++j)
            data[i + j] = static_cast<char>(v >> (8 * j));
    }
    return data;
}

int openDescriptors() {  // less the listing's own
    return static_cast<int>(std::distance(fs::directory_iterator("/proc/self/fd"), {})) - 1;
}

bool runCommand(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

Login loginTo(const TestServer& server) {
    return {server.host(), server.serverType(), server.login(), server.password(),
            server.settingsExtra()};
}

void writeSettings(const std::filesystem::path& home, const Login& login,
                   const std::vector<JobSpec>& jobs, const std::string& extra) {
    std::string ini = "[PARAMETRI]\r\nhost=" + login.host + "\r\nlogin=" + login.login +
                      "\r\npwd=" + login.password +
                      "\r\ndeltatime=1\r\ntiposerver=" + login.serverType + "\r\n" + login.extra +
                      extra;
    for (size_t n = 0; n < jobs.size(); ++n) {
        const JobSpec& j = jobs[n];
        const std::string k = std::to_string(n);
        ini += "DirRemota_" + k + "=" + j.remote + "\r\nDirLocale_" + k + "=" + j.local +
               "\r\nTipoFile_" + k + "=" + j.type + "\r\nCancelloFile_" + k + "=" + j.del +
               "\r\nTipoOperazione_" + k + "=" + j.operation + "\r\nDirLocaleBackup_" + k + "=" +
               j.backup + "\r\nDirmoltiplicatore_" + k + "=" + j.multiplier + "\r\nDirparametri_" +
               k + "=" + j.params + "\r\n";
    }
    std::filesystem::create_directories(home);
    writeFile(home / "valtrassosftp.ini", ini);
}

namespace {

std::vector<std::string> asServiceUser(std::vector<std::string> argv) {
    argv.insert(argv.begin(),
                {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"});
    return argv;
}

}  // namespace

bool startProgram(ServerProcess& p, const std::filesystem::path& home,
                  std::vector<std::string> args, std::vector<std::string> env,
                  const std::string& errorFile, bool asServiceUser) {
    args.insert(args.begin(), VS_PROGRAM_BINARY);
    args.push_back("--headless");
    env.push_back("VALTRASSOSFTP_HOME=" + home.string());
    env.push_back("LC_ALL=C");
    return p.start(asServiceUser ? test::asServiceUser(args) : args, env, errorFile);
}

ProgramRun runProgram(const std::filesystem::path& home, std::vector<std::string> args,
                      int timeoutSeconds, std::vector<std::string> env, bool asServiceUser) {
    TempDir errors;
    ServerProcess p;
    ProgramRun run;
    if (!startProgram(p, home, args, env, (errors / "stderr").string(), asServiceUser)) return run;
    run.exitCode = p.wait(std::chrono::seconds(timeoutSeconds));
    run.output = p.output();
    run.errors = readFile(errors / "stderr");
    return run;
}

bool canRunAsServiceUser() {
    return ::geteuid() == 0 && ::getpwnam("nobody") && runCommand("command -v setpriv >/dev/null");
}

void handToServiceUser(const std::filesystem::path& folder) {
    const passwd* user = ::getpwnam("nobody");
    std::filesystem::create_directories(folder);
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
        ::lchown(e.path().c_str(), user->pw_uid, user->pw_gid);
    ::lchown(folder.c_str(), user->pw_uid, user->pw_gid);
    for (auto p = folder.parent_path(); p != p.root_path(); p = p.parent_path())
        std::filesystem::permissions(p, std::filesystem::perms::others_exec,
                                     std::filesystem::perm_options::add);
}

std::string dayLogs(const std::filesystem::path& home) {
    std::string all;
    std::error_code ec;
    for (auto& e : std::filesystem::directory_iterator(home / "log", ec)) all += readFile(e.path());
    return all;
}

std::vector<std::string> filesBelow(const std::filesystem::path& root) {
    std::vector<std::string> files;
    std::error_code ec;
    for (auto& e : std::filesystem::recursive_directory_iterator(root, ec))
        if (e.is_regular_file() || e.is_symlink())
            files.push_back(std::filesystem::relative(e.path(), root).string());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace vs::test
