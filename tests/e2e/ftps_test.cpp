// The real program, headless, over FTPS against vsftpd with TLS and session reuse required on
// every data connection: uploads followed by downloads in one session, run after run; then a
// changed certificate stops the run before any login.
#include <gtest/gtest.h>

#include "support/program_run.h"

namespace vs::test {
namespace {

namespace fs = std::filesystem;

class Ftps : public ::testing::TestWithParam<const char*> {};

TEST_P(Ftps, UploadsThenDownloadsRunAfterRunAndAChangedCertificateIsRefused) {
    TestServer server(TestServer::Kind::Vsftpd, {GetParam()});
    if (!server.skipReason().empty()) GTEST_SKIP() << server.skipReason();
    ASSERT_TRUE(server.ok());
    TempDir dir;
    const fs::path home = dir / "home", up = dir / "up", in = dir / "in";
    fs::create_directories(up);
    fs::create_directories(in);
    server.local("in");
    writeSettings(home, loginTo(server),
                  {{server.remote("in"), up.string(), "TUTTI", "SI", "Upload"},
                   {server.remote("out"), in.string(), "TUTTI", "SI"}});
    const std::string known = "Certificato nuovo per 127.0.0.1:" + std::to_string(server.port());
    for (int run = 0; run < 3; ++run) {
        for (int f = 0; f < 3; ++f) {
            const std::string name = std::to_string(run) + std::to_string(f);
            writeFile(up / ("u" + name), patternBytes(100 + 70000 * f, run * 3 + f));
            writeFile(server.local("out") / ("d" + name), patternBytes(200 * f, f));
        }
        const ProgramRun r = runProgram(home, {"mod:asp"});
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.output.find(known) != std::string::npos, run == 0) << r.output;
        for (int f = 0; f < 3; ++f) {
            const std::string name = std::to_string(run) + std::to_string(f);
            EXPECT_TRUE(readFile(server.root() / "in" / ("u" + name)) ==
                        patternBytes(100 + 70000 * f, run * 3 + f));
            EXPECT_TRUE(readFile(in / ("d" + name)) == patternBytes(200 * f, f));
        }
    }
    writeFile(home / "known_certs",
              "127.0.0.1:" + std::to_string(server.port()) + " sha256//changed=\n");
    writeFile(up / "late", "L");
    const ProgramRun r = runProgram(home, {"mod:asp"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find(" Not Connected ! Certificato di 127.0.0.1:"), std::string::npos)
        << r.output;
    EXPECT_FALSE(fs::exists(server.root() / "in" / "late"));
}

INSTANTIATE_TEST_SUITE_P(Vsftpd, Ftps, ::testing::Values("explicit", "implicit"));

}  // namespace
}  // namespace vs::test
