#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "remote/sftp/libssh2_sftp_component.h"
#include "support/server_process.h"
#include "support/temp_dir.h"

namespace vs::test {

// Records every event of the component, with the thread and time it arrived on.
class EventRecorder : public SftpEvents {
  public:
    struct Connection {
        int code;
        std::string text;
    };
    struct Attribute {
        std::int64_t size;
        std::uint32_t uid, gid, permissions;
        TimePoint accessTime, modificationTime;
    };
    struct Step {
        std::int64_t position, total;
        std::chrono::steady_clock::time_point at;
    };

    void Connected(int code, const std::string& text) override;
    void ListItems(const std::string& fileInfo) override;
    void Attributes(std::int64_t size, std::uint32_t uid, std::uint32_t gid,
                    std::uint32_t permissions, TimePoint accessTime,
                    TimePoint modificationTime) override;
    void Progress(std::int64_t position, std::int64_t total) override;

    void clear();
    // True when every event so far arrived on the thread that created the recorder.
    bool allOnCallerThread() const { return foreignEvents == 0; }

    std::vector<Connection> connections;
    std::vector<std::string> listings;
    std::vector<Attribute> attributes;
    std::vector<Step> progress;
    std::function<void(std::int64_t, std::int64_t)> onProgress;
    int foreignEvents = 0;

  private:
    void noteThread();
    std::thread::id owner_ = std::this_thread::get_id();
};

// The asyncssh test server over a fresh folder: root/ is served, the host key and the
// client's known_hosts live next to it.
class TestSftpServer {
  public:
    TestSftpServer();
    // Starts with the extra switches; the same port again when `port` is given.
    bool start(const std::vector<std::string>& extra = {}, int port = 0);
    void stop() { process_.reset(); }

    int port() const { return port_; }
    std::filesystem::path root() const { return dir_ / "root"; }
    std::filesystem::path hostKey() const { return dir_ / "host_key"; }
    std::filesystem::path knownHosts() const { return dir_ / "known_hosts"; }
    std::filesystem::path local(const std::string& name) const { return dir_ / "local" / name; }
    const std::filesystem::path& dir() const { return dir_.path(); }

  private:
    TempDir dir_;
    // A fresh object for every start: ServerProcess keeps what the previous process printed,
    // and its old "PORT" line would be taken for the new one's.
    std::unique_ptr<ServerProcess> process_;
    int port_ = 0;
};

// OpenSSH's sshd on a free 127.0.0.1 port with a configuration of its own: its host key and
// the authorized keys in a temporary folder, public-key login only, internal-sftp.
class OpenSshServer {
  public:
    // Empty text when it listens; otherwise why it cannot run here.
    std::string start();
    int port() const { return port_; }
    const std::filesystem::path& dir() const { return dir_.path(); }
    // Makes a key pair without passphrase and authorizes its public half; returns the
    // private key file.
    std::filesystem::path addUserKey(const std::string& name, const std::string& type);
    static std::string userName();

  private:
    TempDir dir_;
    ServerProcess process_;
    int port_ = 0;
};

// A component wired to a recorder, a log and a counting yield.
struct ComponentUnderTest {
    ComponentUnderTest();
    // Writes the settings in the order the session does, for 127.0.0.1.
    void configure(int port, const std::filesystem::path& knownHosts,
                   const std::string& user = "tester", const std::string& password = "secret",
                   int timeoutSeconds = 20);
    // Connects and expects success.
    ::testing::AssertionResult connect();

    EventRecorder events;
    std::vector<std::string> log;
    int yields = 0;
    std::function<void()> onYield;
    std::unique_ptr<SftpComponent> component;
};

// Open file descriptors of this process.
int openDescriptors();
// A 127.0.0.1 port nobody listens on (bound and released again).
int unusedPort();
// Deterministic pseudo-random content.
std::string patternBytes(std::size_t size, unsigned seed);
// "SHA256:..." of a public key file, as ssh-keygen -l prints it; empty if that fails.
std::string sshKeygenFingerprint(const std::filesystem::path& publicKey);
// Runs a shell command; true when it exits with 0.
bool runCommand(const std::string& command);

}  // namespace vs::test
