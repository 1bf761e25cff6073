#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "activitylog/activity_log.h"
#include "common/new_file.h"
#include "common/runtime_error.h"
#include "common/source_file.h"
#include "common/text.h"
#include "remote/ftp/ftp_control_factory.h"
#include "remote/ftp_session.h"
#include "remote/sftp/sftp_component_factory.h"
#include "remote/sftp_session.h"
#include "settings/settings.h"
#include "support/fake_clock.h"
#include "support/servers.h"

namespace vs::test {

using Kind = TestServer::Kind;
using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

// The error `call` throws; number 0 when it throws none.
inline RuntimeError thrown(const std::function<void()>& call) {
    try {
        call();
    } catch (const RuntimeError& e) {
        return e;
    }
    return RuntimeError(0, "nessun errore");
}

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
        sftp->setPort(server.port());
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
    std::unique_ptr<SftpComponent> sftp;
    std::unique_ptr<FtpControl> ftp;
    std::unique_ptr<RemoteSession> session;  // last: gone before what it uses
};

}  // namespace vs::test

// A server that does not start (sshd missing too) fails the test.
#define START(rig) ASSERT_TRUE((rig).server.ok()) << (rig).server.output()
#define OPEN(rig) \
    START(rig);   \
    ASSERT_TRUE((rig).connect()) << (rig).logText()
