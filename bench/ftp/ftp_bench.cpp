// One transfer through the FTP control, for run_bench.sh: connect, log in, fetch or send one
// file, close. The script times the whole process from outside, exactly as it times the curl
// command-line tool, so both sides pay for start-up, connection and login alike.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/new_file.h"
#include "common/runtime_error.h"
#include "common/source_file.h"
#include "remote/ftp/ftp_control_factory.h"

int main(int argc, char** argv) {
    if (argc != 7 && argc != 9) {
        std::fprintf(stderr,
                     "usage: %s download|upload <port> <user> <password> <remote> <local> "
                     "[explicit|implicit <known_certs>]\n",
                     argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    const int port = std::atoi(argv[2]);
    int yields = 0;
    auto control = vs::makeCurlFtpControl([&yields] { ++yields; });
    if (argc == 9) {
        using Tls = vs::FtpControl::Security::Tls;
        control->setSecurity(
            {std::string(argv[7]) == "implicit" ? Tls::Implicit : Tls::Explicit, argv[8]});
    }
    std::uint8_t last = 0;
    control->setProgressHandler([&last](std::uint8_t& p) { last = p; });
    control->setLogger([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    control->prepare(32000);
    control->reset();
    try {
        control->connectAndLogin("127.0.0.1", argv[3], argv[4], port);
    } catch (const vs::RuntimeError& e) {
        std::fprintf(stderr, "login: %s\n", e.description().c_str());
        return 1;
    }
    auto start = std::chrono::steady_clock::now();
    bool ok = false;
    try {
        const std::filesystem::path local(argv[6]);
        if (mode == "download") {
            control->setTransferMode(true);
            vs::NewFile into(local.parent_path());
            control->fetch(argv[5], into, std::nullopt);
            into.commit(local.filename());
            ok = true;
        } else {
            vs::SourceFile from(local);
            control->send(from, argv[5]);
            ok = last == 100;
        }
    } catch (const vs::RuntimeError& e) {
        std::fprintf(stderr, "%s failed: %s\n", mode.c_str(), e.description().c_str());
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    control->abort();
    control->close();
    std::printf("%s %s %.3f s, %d yields\n", mode.c_str(), ok ? "ok" : "FAILED", seconds, yields);
    return ok ? 0 : 1;
}
