// FTPS certificates: the pin of a known certificate, the certificate rule on a real known_certs
// file (lookup, first sight recorded, changed pin refused, a server verified through the trust
// store once, unwritable folder), and the FTP control over TLS against the pyftpdlib server:
// certificates judged by the trust store or known_certs, no refusal ever letting USER or PASS out.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/stat.h>

#include "common/runtime_error.h"
#include "remote/ftp/curl_ftp_control.h"
#include "remote/ftp/ftp_reply.h"
#include "remote/ftp/tls_policy.h"
#include "support/servers.h"

namespace vs::test {
namespace {

namespace fs = std::filesystem;
using namespace ftp;
TEST(CertPins, PinIsTheHashOfTheSubjectPublicKeyInfoAsOpensslComputesIt) {
    // An ed25519 self-signed certificate; the expected pin is what `openssl x509 -pubkey |
    // openssl pkey -pubin -outform der | openssl dgst -sha256 -binary | base64` printed.
    const std::string pem =
        "MIIBLjCB4aADAgECAhRawyvN52TmtbKsWvtBEKs3Co757zAFBgMrZXAwDDEKMAgGA1UEAwwBdDAgFw0yNjEyMDcw"
        "MDU0MTlaGA8yMTI2MTExMzAwNTQxOVowDDEKMAgGA1UEAwwBdDAqMAUGAytlcAMhAAyeJTs2og/HQqF/IB8MjP+x"
        "QQlgeJ47ZYu4iiF1jyL1o1MwUTAdBgNVHQ4EFgQUa+Q8Vzm/dWvC2Gi841i6JRzNzLYwHwYDVR0jBBgwFoAUa+Q8"
        "Vzm/dWvC2Gi841i6JRzNzLYwDwYDVR0TAQH/BAUwAwEB/zAFBgMrZXADQQCZfieIi45Syy8GC1MFIK4jRXHRdyqv"
        "IsthjSGCkHYeXBandAESR50r0upqHXN82/prsOQ/giPxUJ7i4/jSnuwK";
    std::string der(pem.size(), '\0');
    der.resize(EVP_DecodeBlock(reinterpret_cast<unsigned char*>(der.data()),
                               reinterpret_cast<const unsigned char*>(pem.data()), pem.size()));
    EXPECT_EQ(pinOfCertificate(der), "sha256//WReC05TIt6mrmBnePoPH7Fue60suDCMYgLBe6d6X+oY=");
    EXPECT_EQ(pinOfCertificate(pem), std::nullopt);
}

TEST(CertPins, RuleOnKnownCerts) {
    struct Case {
        const char* before;  // known_certs before the handshake; nullptr: no file
        const char* pin;
        bool trusted;  // verifies against the trust store for the name
        bool accepted;
        const char* recorded;  // the file after a first sight; nullptr: left as it was
    };
    const Case cases[] = {
        {nullptr, "sha256//A=", false, true, "h.example:21 sha256//A=\n"},
        {nullptr, "sha256//A=", true, true, "h.example:21 sha256//A= # trust store\n"},
        // Verified through the trust store once: one it does not vouch for is an impostor, a
        // renewal it vouches for replaces the marked pin.
        {"h.example:21 sha256//B= # trust store\n", "sha256//A=", false, false, nullptr},
        {"h.example:21 sha256//B= # Trust Store\nh.example:21 sha256//C=\n", "sha256//A=", true,
         true, "h.example:21 sha256//C=\nh.example:21 sha256//A= # trust store\n"},
        {"H.example:21 sha256//B=", "sha256//A=", true, false, nullptr},
        {"# c\nh.example:990 sha256//B=\nh.example:21 sha256//C=\nh.example:21\tsha256//A= # "
         "now\r\n",
         "sha256//A=", false, true, nullptr},
        {"h.example:990 sha256//A=", "sha256//B=", false, true,
         "h.example:990 sha256//A=\nh.example:21 sha256//B=\n"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const auto file = dir / "known_certs";
        if (c.before) writeFile(file, c.before);
        ::chmod(file.c_str(), 0640);
        std::string logged;
        TlsPolicy policy("h.example", 21, KnownCerts(file), [&](auto& l) { logged += l; });
        SCOPED_TRACE(c.before ? c.before : "(none)");
        const RuntimeError e = thrown([&] { policy.decide(c.pin, c.trusted); });
        EXPECT_EQ(e.number(), c.accepted ? 0 : kErrConnection) << e.description();
        EXPECT_EQ(logged.empty(), !c.recorded) << logged;
        const char* expected = c.recorded ? c.recorded : c.before;
        EXPECT_EQ(fs::exists(file) ? readFile(file) : "(none)", expected ? expected : "(none)");
        EXPECT_TRUE(!c.before || fs::status(file).permissions() == fs::perms(0640));
        EXPECT_EQ(
            e.description().find("sha256//B=, il server presenta sha256//A=") != std::string::npos,
            !c.accepted);
    }
}

// A known_certs the operator links to a shared file stays a link, and the shared file learns;
// one that is there but cannot be read checks nothing: every server is refused.
TEST(CertPins, ALinkedFileStaysLinkedAndAnUnreadableOneRefusesEvenATrustedCertificate) {
    TempDir dir;
    writeFile(dir / "shared", "o.example:21 sha256//B=\n");
    fs::create_symlink(dir / "shared", dir / "known_certs");
    TlsPolicy("h.example", 21, KnownCerts(dir / "known_certs"), nullptr)
        .decide("sha256//A=", false);
    EXPECT_TRUE(fs::is_symlink(dir / "known_certs"));
    EXPECT_EQ(readFile(dir / "shared"), "o.example:21 sha256//B=\nh.example:21 sha256//A=\n");
    fs::create_directory(dir / "unreadable");
    TlsPolicy unreadable("h.example", 21, KnownCerts(dir / "unreadable"), nullptr);
    EXPECT_THROW(unreadable.decide("sha256//A=", true), RuntimeError);
}

// What the operator reads after a failure: the server's refusal (not a 503 that only follows
// it), else libcurl's detailed message made visible, else its generic text, never nothing.
TEST(FtpFailure, SaysTheRefusalElseCurlsMessageElseItsGenericText) {
    ReplyLog replies;
    const std::string generic = curl_easy_strerror(CURLE_COULDNT_CONNECT);
    EXPECT_EQ(describeFailure(CURLE_COULDNT_CONNECT, "", replies), generic);
    EXPECT_EQ(describeFailure(CURLE_COULDNT_CONNECT, "no\r\nway", replies), "no\\x0d\\x0away");
    for (const char* line : {"220 hi\r\n", "550 No such\x1b[2J file\r\n", "503 Bad sequence\r\n"})
        replies.addLine(line);
    EXPECT_EQ(describeFailure(CURLE_QUOTE_ERROR, "x", replies), "550 No such\\x1b[2J file");
}

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
    std::vector<std::string> serve(const char* tls, const std::string& cert) const {
        return {"--tls", tls, "--cert", dir / (cert + ".pem"), dir / (cert + ".key")};
    }
    // The error text when refused.
    std::string connect(const TestServer& server, Tls tls, const std::string& ca = "") {
        control.setSecurity({tls, knownCerts});
        control.setCaFile(ca);
        control.setLogger([this](const std::string& line) { log += line; });
        const RuntimeError e = thrown(
            [&] { control.connectAndLogin("127.0.0.1", "tester", "secret", server.port()); });
        EXPECT_TRUE(e.number() == 0 || e.number() == kErrConnection) << e.description();
        return e.number() ? e.description() : "";
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
