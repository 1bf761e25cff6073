// Moves one file through the SFTP component and prints how long it took, for run_bench.sh.
//   sftp_bench --port P --user U --key FILE --known-hosts FILE get LOCAL REMOTE
//   sftp_bench --port P --user U --key FILE --known-hosts FILE [--repeat N] put LOCAL REMOTE
// Prints "<get|put> <bytes> <seconds with connect and disconnect> <seconds of the transfer>".
// --repeat N uploads the file N times over the one connection and prints each upload's seconds
// on standard error (OpenSSH's server is slow on the first large upload of a connection only).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/new_file.h"
#include "common/runtime_error.h"
#include "common/source_file.h"
#include "remote/sftp/sftp_component_factory.h"

namespace {

using Clock = std::chrono::steady_clock;

class Events : public vs::SftpEvents {
  public:
    void ListItems(const vs::RemoteListing&) override {}
    void Attributes(std::int64_t size, std::uint32_t, std::uint32_t, std::uint32_t, vs::TimePoint,
                    vs::TimePoint) override {
        size_ = size;
    }
    void Progress(std::int64_t position, std::int64_t total) override {
        if (position == total) bytes_ = total;
    }
    std::int64_t bytes_ = -1;
    std::int64_t size_ = -1;
};

int usage() {
    std::fprintf(stderr,
                 "usage: sftp_bench --port P --user U --key FILE --known-hosts FILE "
                 "get|put LOCAL REMOTE\n");
    return 2;
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    std::string host = "127.0.0.1", user, key, knownHosts, op, local, remote;
    int port = 22;
    int repeat = 1;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--port")
            port = std::atoi(next().c_str());
        else if (a == "--user")
            user = next();
        else if (a == "--key")
            key = next();
        else if (a == "--known-hosts")
            knownHosts = next();
        else if (a == "--host")
            host = next();
        else if (a == "--repeat")
            repeat = std::max(1, std::atoi(next().c_str()));
        else if (op.empty())
            op = a;
        else if (local.empty())
            local = a;
        else if (remote.empty())
            remote = a;
        else
            return usage();
    }
    if ((op != "get" && op != "put") || local.empty() || remote.empty()) return usage();

    Events events;
    auto sftp = vs::makeLibssh2SftpComponent([] {});
    sftp->setEvents(&events);
    sftp->setLogger([](const std::string&) {});
    sftp->setUserName(user);
    sftp->setPort(port);
    sftp->setPassword("");
    sftp->setHostName(host);
    sftp->setReservedOption(0);
    sftp->setBlocking(true);
    sftp->setTimeout(20);
    sftp->setPrivateKeyFile(key, "");
    sftp->setKnownHostsFile(knownHosts);

    const auto start = Clock::now();
    try {
        sftp->connect();
    } catch (const vs::RuntimeError& e) {
        std::fprintf(stderr, "connect failed: %s\n", e.description().c_str());
        return 1;
    }
    Clock::duration transfer{};
    try {
        const auto t0 = Clock::now();
        if (op == "get") {
            vs::NewFile into(std::filesystem::path(local).parent_path());
            // As the program does: the file is described first, and fetched by that size.
            sftp->getAttributes(remote);
            sftp->fetch(into, remote,
                        events.size_ >= 0 ? std::optional(events.size_) : std::nullopt);
            into.commit(std::filesystem::path(local).filename());
        } else {
            for (int i = 0; i < repeat; ++i) {
                const auto t = Clock::now();
                vs::SourceFile from(local);
                sftp->send(from, remote);
                if (repeat > 1)
                    std::fprintf(stderr, "upload %d: %.3f s\n", i + 1, seconds(Clock::now() - t));
            }
        }
        transfer = Clock::now() - t0;
    } catch (const vs::RuntimeError& e) {
        std::fprintf(stderr, "%s failed: %s\n", op.c_str(), e.description().c_str());
        return 1;
    }
    sftp->disconnect();
    const auto total = Clock::now() - start;
    std::printf("%s %lld %.3f %.3f\n", op.c_str(), static_cast<long long>(events.bytes_),
                seconds(total), seconds(transfer));
    return 0;
}
