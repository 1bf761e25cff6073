// The FTP control over TLS against the pyftpdlib server: certificates are judged by the trust
// store or known_certs, and no refusal ever lets USER or PASS out.
#include <gtest/gtest.h>

#include "common/runtime_error.h"
#include "remote/ftp/curl_ftp_control.h"
#include "support/servers.h"

namespace vs::test {
namespace {

namespace fs = std::filesystem;
using Tls = FtpControl::Security::Tls;

// A private CA with a leaf for 127.0.0.1, and a self-signed certificate.
const char* kMakeCertificates = R"(set -e; k="-nodes -newkey ec -pkeyopt ec_paramgen_curve:P-256"
openssl req -x509 $k -subj /CN=ca -keyout ca.key -out ca.pem
openssl req $k -subj /CN=l -addext subjectAltName=IP:127.0.0.1 -keyout leaf.key |
  openssl x509 -req -CA ca.pem -CAkey ca.key -copy_extensions copy -out leaf.pem
openssl req -x509 $k -subj /CN=o -keyout other.key -out other.pem)";

class Ftps : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(runCommand("cd " + dir.path().string() + " && (" + kMakeCertificates +
                               ") 2>/dev/null"));
    }
    std::vector<std::string> serve(const char* tls, const std::string& cert,
                                   const char* extra = "--max-seconds=600") const {
        return {"--tls", tls, "--cert", dir / (cert + ".pem"), dir / (cert + ".key"), extra};
    }
    // The error text when refused.
    std::string connect(const TestServer& server, Tls tls, const std::string& ca = "") {
        control.setSecurity({tls, knownCerts});
        control.setCaFile(ca);
        control.setLogger([this](const std::string& line) { log += line; });
        try {
            control.connectAndLogin("127.0.0.1", "tester", "secret", server.port());
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), kErrConnection);
            return e.description();
        }
        return {};
    }

    TempDir dir;
    fs::path knownCerts = dir / "known_certs";
    CurlFtpControl control{nullptr, {}};
    std::string log;
};

TEST_F(Ftps, RecordsEveryServerAndWhetherTheTrustStoreVouchedForIt) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"explicit", "other", false}, {"implicit", "other", false}, {"implicit", "leaf", true}};
    for (const auto& [tlsName, cert, viaCa] : cases) {
        SCOPED_TRACE(std::string(tlsName) + " " + cert);
        TestServer server(TestServer::Kind::Ftp, serve(tlsName, cert));
        const Tls tls = tlsName[0] == 'e' ? Tls::Explicit : Tls::Implicit;
        const std::string ca = viaCa ? (dir / "ca.pem").string() : "";
        fs::remove(knownCerts);
        ASSERT_EQ(connect(server, tls, ca), "");
        const std::string name = "127.0.0.1:" + std::to_string(server.port()) + " sha256//";
        EXPECT_EQ(readFile(knownCerts).rfind(name, 0), 0u);
        EXPECT_EQ(readFile(knownCerts).find(" # trust store") != std::string::npos, viaCa);
        EXPECT_EQ(log.find(" Certificato nuovo") != std::string::npos, !viaCa) << log;
        log.clear();
        EXPECT_EQ(connect(server, tls, ca), "");  // the recorded pin matches
        EXPECT_EQ(log, "");
        if (!viaCa) continue;
        // A self-signed impostor on the same host and port is no first sight.
        ASSERT_TRUE(server.restart(serve(tlsName, "other")));
        EXPECT_NE(connect(server, tls, ca).find("cambiato"), std::string::npos);
    }
}

TEST_F(Ftps, RefusalsEndTheConnectBeforeAnyLogin) {
    const std::tuple<std::vector<std::string>, Tls, std::string, const char*> cases[] = {
        // known_certs: "@" stands for the server's name; "-": it cannot be written
        {{}, Tls::Explicit, "", "non accetta TLS"},
        {serve("explicit", "leaf", "--refuse-auth"), Tls::Explicit, "", "non accetta TLS"},
        {serve("implicit", "other"), Tls::Implicit, "@ sha256//B=", "cambiato"},
        {serve("explicit", "leaf"), Tls::Explicit, "-", "non registrato"},
    };
    writeFile(dir / "file", "");  // no folder under it, even for root
    for (auto [args, tls, known, said] : cases) {
        SCOPED_TRACE(said);
        args.insert(args.end(), {"--record", dir / "record"});
        TestServer server(TestServer::Kind::Ftp, args);
        knownCerts = dir / (known == "-" ? "file/known_certs" : "known_certs");
        if (known[0] == '@') known.replace(0, 1, "127.0.0.1:" + std::to_string(server.port()));
        if (known.size() > 1) writeFile(knownCerts, known);
        EXPECT_NE(connect(server, tls).find(said), std::string::npos);
        const std::string record = readFile(dir / "record");
        EXPECT_TRUE(record.find("USER") == record.find("PASS")) << record;  // neither
        fs::remove(dir / "record");
    }
}

}  // namespace
}  // namespace vs::test
