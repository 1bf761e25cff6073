#include "sftp_test_support.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>

namespace vs::test {

void EventRecorder::noteThread() {
    if (std::this_thread::get_id() != owner_) ++foreignEvents;
}

void EventRecorder::Connected(int code, const std::string& text) {
    noteThread();
    connections.push_back({code, text});
}

void EventRecorder::ListItems(const std::string& fileInfo) {
    noteThread();
    listings.push_back(fileInfo);
}

void EventRecorder::Attributes(std::int64_t size, std::uint32_t uid, std::uint32_t gid,
                               std::uint32_t permissions, TimePoint accessTime,
                               TimePoint modificationTime) {
    noteThread();
    attributes.push_back({size, uid, gid, permissions, accessTime, modificationTime});
}

void EventRecorder::Progress(std::int64_t position, std::int64_t total) {
    noteThread();
    progress.push_back({position, total, std::chrono::steady_clock::now()});
    if (onProgress) onProgress(position, total);
}

void EventRecorder::clear() {
    connections.clear();
    listings.clear();
    attributes.clear();
    progress.clear();
}

TestSftpServer::TestSftpServer() {
    std::filesystem::create_directories(dir_ / "root");
    std::filesystem::create_directories(dir_ / "local");
}

bool TestSftpServer::start(const std::vector<std::string>& extra, int port) {
    std::vector<std::string> args{"--root",        root().string(),
                                  "--host-key",    hostKey().string(),
                                  "--user",        "tester",
                                  "--password",    "secret",
                                  "--port",        std::to_string(port),
                                  "--max-seconds", "300"};
    args.insert(args.end(), extra.begin(), extra.end());
    process_ = std::make_unique<ServerProcess>();
    if (!process_->start(pythonServer("sftp_server.py", args))) return false;
    port_ = process_->waitForPort();
    return port_ > 0;
}

std::string OpenSshServer::userName() {
    const passwd* pw = ::getpwuid(::getuid());
    return pw ? pw->pw_name : "root";
}

std::filesystem::path OpenSshServer::addUserKey(const std::string& name, const std::string& type) {
    const auto key = dir_ / name;
    if (!runCommand("ssh-keygen -q -t " + type + " -N '' -C test -f '" + key.string() + "'"))
        return {};
    std::string authorized = readFile(dir_ / "authorized_keys");
    writeFile(dir_ / "authorized_keys", authorized + readFile(key.string() + ".pub"));
    return key;
}

std::string OpenSshServer::start() {
    const std::string sshd = "/usr/sbin/sshd";
    if (::access(sshd.c_str(), X_OK) != 0) return sshd + " is not installed";
    // Debian's sshd insists on its privilege separation folder, made by its service at boot.
    struct stat st {};
    if (::stat("/run/sshd", &st) != 0) {
        if (::getuid() != 0 || ::mkdir("/run/sshd", 0755) != 0)
            return "/run/sshd is missing and cannot be made";
    }
    if (!runCommand("ssh-keygen -q -t ed25519 -N '' -f '" + (dir_ / "host_key").string() + "'"))
        return "ssh-keygen failed";
    if (!std::filesystem::exists(dir_ / "authorized_keys")) writeFile(dir_ / "authorized_keys", "");
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = unusedPort();
        writeFile(dir_ / "sshd_config",
                  "ListenAddress 127.0.0.1\n"
                  "Port " +
                      std::to_string(port_) +
                      "\n"
                      "HostKey " +
                      (dir_ / "host_key").string() +
                      "\n"
                      "AuthorizedKeysFile " +
                      (dir_ / "authorized_keys").string() +
                      "\n"
                      "PidFile " +
                      (dir_ / "sshd.pid").string() +
                      "\n"
                      "UsePAM no\n"
                      "StrictModes no\n"
                      "PubkeyAuthentication yes\n"
                      "PasswordAuthentication no\n"
                      "KbdInteractiveAuthentication no\n"
                      "PermitRootLogin prohibit-password\n"
                      "LogLevel ERROR\n"
                      "Subsystem sftp internal-sftp\n");
        process_.kill();
        if (!process_.start({sshd, "-D", "-e", "-f", (dir_ / "sshd_config").string()}))
            return "sshd cannot be started";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline && process_.running()) {
            int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(static_cast<std::uint16_t>(port_));
            const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
            ::close(fd);
            if (up) return {};
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    return "sshd did not start listening";
}

ComponentUnderTest::ComponentUnderTest() {
    component = makeLibssh2SftpComponent([this] {
        ++yields;
        if (onYield) onYield();
    });
    component->setEvents(&events);
    component->setLogger([this](const std::string& line) { log.push_back(line); });
}

void ComponentUnderTest::configure(int port, const std::filesystem::path& knownHosts,
                                   const std::string& user, const std::string& password,
                                   int timeoutSeconds) {
    component->setUserName(user);
    component->setPort(port);
    component->setPassword(password);
    component->setHostName("127.0.0.1");
    component->setReservedOption(0);
    component->setBlocking(true);
    component->setTimeout(timeoutSeconds);
    component->setKnownHostsFile(knownHosts.string());
}

::testing::AssertionResult ComponentUnderTest::connect() {
    events.connections.clear();
    component->connect();
    if (events.connections.size() != 1)
        return ::testing::AssertionFailure()
               << events.connections.size() << " Connected events instead of one";
    if (events.connections[0].code != 0)
        return ::testing::AssertionFailure() << "connect refused: " << events.connections[0].text;
    if (component->stateCode() != 2)
        return ::testing::AssertionFailure()
               << "state " << component->stateCode() << " after connect";
    return ::testing::AssertionSuccess();
}

int openDescriptors() {
    int count = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') ++count;
        ::closedir(d);
    }
    return count - 1;  // the listing's own descriptor
}

int unusedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(fd);
    return ntohs(a.sin_port);
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

std::string sshKeygenFingerprint(const std::filesystem::path& publicKey) {
    std::string command = "ssh-keygen -l -E sha256 -f '" + publicKey.string() + "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return {};
    char buffer[512] = {};
    std::string out;
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    ::pclose(pipe);
    std::size_t at = out.find("SHA256:");
    if (at == std::string::npos) return {};
    return out.substr(at, out.find(' ', at) - at);
}

bool runCommand(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

}  // namespace vs::test

// Sanitizer builds: libssh2 1.10 loses one OpenSSL number (BN_new) or so per ECDSA key login,
// about a hundred bytes, which is its bug and not ours. The full stack is needed to tell that
// leak from any other, hence the slow unwinder.
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libssh2_userauth_publickey_fromfile_ex\n";
}
