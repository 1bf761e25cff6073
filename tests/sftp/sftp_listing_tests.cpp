// Listings, attributes and removal: the line shape the listing parser relies on, batches,
// names that must never be delivered, and the errors of refused requests.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "common/runtime_error.h"
#include "sftp_test_support.h"

namespace vs::test {
namespace {

std::vector<std::string> splitFields(const std::string& line, int count) {
    // The first count - 1 fields; the rest of the line is the last one (a name may hold blanks).
    std::vector<std::string> fields;
    std::size_t at = 0;
    for (int i = 0; i + 1 < count; ++i) {
        std::size_t blank = line.find(' ', at);
        if (blank == std::string::npos) break;
        fields.push_back(line.substr(at, blank - at));
        at = blank + 1;
    }
    fields.push_back(line.substr(at));
    return fields;
}

void setTime(const std::filesystem::path& path, std::time_t when) {
    utimbuf times{when, when};
    ASSERT_EQ(::utime(path.c_str(), &times), 0);
}

TEST(SftpListing, LongFormatLinesInBatchesWithBadNamesLeftOut) {
    TestSftpServer server;
    ASSERT_TRUE(server.start({"--inject-bad-names"}));
    const auto root = server.root();
    for (int i = 0; i < 1203; ++i) writeFile(root / ("file" + std::to_string(i) + ".txt"), "x");
    writeFile(root / "two words here.pdf", "123456789");
    writeFile(root / "old.txt", "old");
    setTime(root / "old.txt", 1000000000);  // September 2001
    std::filesystem::create_directory(root / "sub");
    std::filesystem::create_symlink("old.txt", root / "link");
    writeFile(root / "back\\slash", "b");
    writeFile(root / "carriage\rreturn", "c");
    writeFile(root / "line\nfeed", "l");

    ComponentUnderTest c;
    c.configure(server.port(), server.knownHosts());
    ASSERT_TRUE(c.connect());
    c.log.clear();
    c.component->listFolder("/");
    EXPECT_TRUE(c.events.allOnCallerThread());

    ASSERT_GE(c.events.listings.size(), 3u);
    std::map<std::string, std::vector<std::string>> byName;
    const std::regex modeShape("[-dlpscb?][-r][-w][-xsS][-r][-w][-xsS][-r][-w][-xtT]");
    const std::set<std::string> months{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (const std::string& batch : c.events.listings) {
        ASSERT_GE(batch.size(), 2u);
        EXPECT_EQ(batch.substr(batch.size() - 2), "\r\n") << "text after the last line end";
        int lines = 0;
        std::size_t start = 0;
        while (start < batch.size()) {
            std::size_t end = batch.find("\r\n", start);
            ASSERT_NE(end, std::string::npos);
            const std::string line = batch.substr(start, end - start);
            start = end + 2;
            ++lines;
            ASSERT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
            auto fields = splitFields(line, 9);
            ASSERT_EQ(fields.size(), 9u) << line;
            for (int i = 0; i < 8; ++i)
                EXPECT_FALSE(fields[i].empty()) << "double blank in " << line;
            EXPECT_TRUE(std::regex_match(fields[0], modeShape)) << line;
            EXPECT_TRUE(months.count(fields[5])) << line;
            byName[fields[8]] = fields;
        }
        EXPECT_LE(lines, 500);
    }

    // The server's made-up 4,000-character name is delivered (the cycle refuses it later).
    EXPECT_EQ(byName.size(),
              1203u + 4u + 1u + (byName.count(".") ? 1 : 0) + (byName.count("..") ? 1 : 0));
    ASSERT_TRUE(byName.count("two words here.pdf"));
    const auto& pdf = byName["two words here.pdf"];
    EXPECT_EQ(pdf[0], "-rw-r--r--");
    EXPECT_EQ(pdf[2], std::to_string(::getuid()));
    EXPECT_EQ(pdf[4], "9");
    EXPECT_TRUE(std::regex_match(pdf[7], std::regex("[0-2][0-9]:[0-5][0-9]"))) << pdf[7];
    ASSERT_TRUE(byName.count("old.txt"));
    EXPECT_EQ(byName["old.txt"][5], "Sep");
    EXPECT_EQ(byName["old.txt"][7], "2001");
    ASSERT_TRUE(byName.count("sub"));
    EXPECT_EQ(byName["sub"][0][0], 'd');
    ASSERT_TRUE(byName.count("link"));
    EXPECT_EQ(byName["link"][0][0], 'l');
    for (const auto& [name, fields] : byName)
        EXPECT_EQ(name.find_first_of(std::string("/\\\r\n\0", 5)), std::string::npos) << name;

    // Three names on disk and six the server made up, counted in one log line.
    ASSERT_EQ(c.log.size(), 1u);
    EXPECT_EQ(c.log[0].rfind(" 9 entries", 0), 0u) << c.log[0];
}

TEST(SftpListing, AttributesArriveBeforeTheCallReturns) {
    TestSftpServer server;
    ASSERT_TRUE(server.start());
    writeFile(server.root() / "report.pdf", std::string(123457, 'r'));
    ASSERT_EQ(::chmod((server.root() / "report.pdf").c_str(), 0640), 0);
    setTime(server.root() / "report.pdf", 1700000000);

    ComponentUnderTest c;
    c.configure(server.port(), server.knownHosts());
    ASSERT_TRUE(c.connect());
    c.component->getAttributes("/report.pdf");
    ASSERT_EQ(c.events.attributes.size(), 1u);
    const auto& a = c.events.attributes[0];
    EXPECT_EQ(a.size, 123457);
    EXPECT_EQ(a.permissions & 07777, 0640u);
    EXPECT_EQ(a.uid, ::getuid());
    EXPECT_EQ(std::chrono::system_clock::to_time_t(a.modificationTime), 1700000000);
    EXPECT_EQ(std::chrono::system_clock::to_time_t(a.accessTime), 1700000000);
    EXPECT_TRUE(c.events.allOnCallerThread());
}

TEST(SftpListing, RefusedRequestsNameThePathAndKeepTheSession) {
    TestSftpServer server;
    ASSERT_TRUE(server.start());
    writeFile(server.root() / "gone.txt", "bye");
    ComponentUnderTest c;
    c.configure(server.port(), server.knownHosts());
    ASSERT_TRUE(c.connect());

    auto expectRemoteError = [&](const std::function<void()>& call, const std::string& path,
                                 const std::string& reason) {
        try {
            call();
            ADD_FAILURE() << "no error for " << path;
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), kErrRemote) << e.description();
            EXPECT_NE(e.description().find(path), std::string::npos) << e.description();
            EXPECT_NE(e.description().find(reason), std::string::npos) << e.description();
        }
        EXPECT_EQ(c.component->stateCode(), 2);
    };
    expectRemoteError([&] { c.component->getAttributes("/missing.txt"); }, "/missing.txt",
                      "no such file");
    expectRemoteError([&] { c.component->listFolder("/nofolder/"); }, "/nofolder/", "no such file");
    expectRemoteError([&] { c.component->remove("/missing.txt"); }, "/missing.txt", "no such file");
    expectRemoteError([&] { c.component->fetch(server.local("m").string(), "/missing.txt"); },
                      "/missing.txt", "no such file");
    EXPECT_FALSE(std::filesystem::exists(server.local("m")));
    EXPECT_FALSE(std::filesystem::exists(server.local("m.part")));
    EXPECT_TRUE(c.events.attributes.empty());

    // A folder the server cannot write into (we run as root, so make the server's view fail
    // by a path through a plain file instead).
    writeFile(server.local("up.txt"), "data");
    expectRemoteError(
        [&] { c.component->send(server.local("up.txt").string(), "/gone.txt/inside"); },
        "/gone.txt/inside", "");

    // The session survived all of that.
    c.component->remove("/gone.txt");
    EXPECT_FALSE(std::filesystem::exists(server.root() / "gone.txt"));
    c.component->listFolder("/");
    EXPECT_FALSE(c.events.listings.empty());
}

}  // namespace
}  // namespace vs::test
