// The main cases against OpenSSH's own server, the one most production hosts run: key login
// (ed25519 and ECDSA; RSA refused with the reason), listing, attributes, transfers, removal.
#include <gtest/gtest.h>

#include "common/runtime_error.h"
#include "sftp_test_support.h"

namespace vs::test {
namespace {

class SftpOpenSsh : public ::testing::Test {
  protected:
    void SetUp() override {
        ed25519Key = sshd.addUserKey("id_ed25519", "ed25519");
        ecdsaKey = sshd.addUserKey("id_ecdsa", "ecdsa");
        rsaKey = sshd.addUserKey("id_rsa", "rsa");
        ASSERT_FALSE(ed25519Key.empty() || ecdsaKey.empty() || rsaKey.empty());
        if (std::string why = sshd.start(); !why.empty())
            GTEST_SKIP() << "no OpenSSH server here: " << why;
        std::filesystem::create_directories(sshd.dir() / "remote");
        std::filesystem::create_directories(sshd.dir() / "local");
    }

    void configure(const std::filesystem::path& key) {
        c.configure(sshd.port(), sshd.dir() / "known_hosts", OpenSshServer::userName(), "");
        c.component->setPrivateKeyFile(key.string());
    }

    std::string remote(const std::string& name) const {
        return (sshd.dir() / "remote" / name).string();
    }
    std::filesystem::path local(const std::string& name) const {
        return sshd.dir() / "local" / name;
    }

    OpenSshServer sshd;
    std::filesystem::path ed25519Key, ecdsaKey, rsaKey;
    ComponentUnderTest c;
};

TEST_F(SftpOpenSsh, KeyLoginListAndTransfers) {
    configure(ed25519Key);
    ASSERT_TRUE(c.connect());
    EXPECT_EQ(c.log.size(), 1u);  // host key learnt

    const std::string large = patternBytes(20 * 1024 * 1024, 11);
    writeFile(sshd.dir() / "remote" / "empty.txt", "");
    writeFile(sshd.dir() / "remote" / "small.txt", "hello");
    writeFile(sshd.dir() / "remote" / "large.bin", large);

    c.component->listFolder((sshd.dir() / "remote").string() + "/");
    std::string listing;
    for (const auto& batch : c.events.listings) listing += batch;
    const std::size_t end = listing.find(" small.txt\r\n");
    ASSERT_NE(end, std::string::npos) << listing;
    const std::size_t start = listing.rfind("\r\n", end);
    const std::string line = listing.substr(start == std::string::npos ? 0 : start + 2,
                                            end - (start == std::string::npos ? 0 : start + 2));
    EXPECT_EQ(line.rfind("-rw-", 0), 0u) << line;
    EXPECT_NE(line.find(" 5 "), std::string::npos) << line;

    c.component->getAttributes(remote("large.bin"));
    ASSERT_EQ(c.events.attributes.size(), 1u);
    EXPECT_EQ(c.events.attributes[0].size, static_cast<std::int64_t>(large.size()));

    for (const std::string name : {"empty.txt", "small.txt", "large.bin"}) {
        SCOPED_TRACE(name);
        const std::string content = readFile(sshd.dir() / "remote" / name);
        c.events.progress.clear();
        c.component->fetch(local(name).string(), remote(name));
        EXPECT_TRUE(readFile(local(name)) == content);
        ASSERT_FALSE(c.events.progress.empty());
        EXPECT_EQ(c.events.progress.back().position, static_cast<std::int64_t>(content.size()));
        EXPECT_EQ(c.events.progress.back().total, static_cast<std::int64_t>(content.size()));

        c.events.progress.clear();
        c.component->send(local(name).string(), remote("up_" + name));
        EXPECT_TRUE(readFile(sshd.dir() / "remote" / ("up_" + name)) == content);
        ASSERT_FALSE(c.events.progress.empty());
        EXPECT_EQ(c.events.progress.back().position, static_cast<std::int64_t>(content.size()));
        EXPECT_EQ(c.events.progress.back().total, static_cast<std::int64_t>(content.size()));
        for (std::size_t i = 0; i + 1 < c.events.progress.size(); ++i)
            EXPECT_LT(c.events.progress[i].position, c.events.progress[i].total);
    }

    c.component->remove(remote("up_large.bin"));
    EXPECT_FALSE(std::filesystem::exists(sshd.dir() / "remote" / "up_large.bin"));
    try {
        c.component->remove(remote("up_large.bin"));
        ADD_FAILURE() << "removing a missing file did not fail";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), kErrRemote);
        EXPECT_NE(e.description().find("no such file"), std::string::npos) << e.description();
    }
    c.component->disconnect();

    // The ECDSA key logs in as well; the host is known by now.
    configure(ecdsaKey);
    ASSERT_TRUE(c.connect());
    EXPECT_EQ(c.log.size(), 1u);
    c.component->disconnect();
}

TEST_F(SftpOpenSsh, RsaKeyRefusalSaysWhy) {
    configure(rsaKey);
    c.component->connect();
    ASSERT_EQ(c.events.connections.size(), 1u);
    EXPECT_NE(c.events.connections[0].code, 0);
    EXPECT_NE(c.events.connections[0].text.find("RSA keys cannot log in"), std::string::npos)
        << c.events.connections[0].text;
    EXPECT_EQ(c.component->stateCode(), 4);
}

}  // namespace
}  // namespace vs::test
