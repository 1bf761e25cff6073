#include "settings/profile_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "support/program_run.h"
#include "support/temp_dir.h"

namespace vs {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

struct ReadCase {
    std::string content;
    const char* key;
    std::string expected;  // "dflt" when the key is not found
};

TEST(ProfileRead, GivesTheKeysValueOrTheDefault) {
    for (const ReadCase& c : {
             ReadCase{"", "host", "dflt"},
             ReadCase{"[ALTRO]\nhost=x\n[PARAMETRI]\nlogin=y\n", "host", "dflt"},
             ReadCase{"; c\r\n[parametri]\r\nHOST = srv:822 \r\n", "host", "srv:822"},
             ReadCase{"[PARAMETRI]\npwd=\"  sp \"\n", "pwd", "  sp "},
             ReadCase{"[PARAMETRI]\r\nTipo\xe8=\xe0\r\n", "Tipo\xe8", "\xe0"},
             ReadCase{"[PARAMETRI]\nhost=a\nhost=b\n", "host", "a"},
             ReadCase{"\xEF\xBB\xBF[PARAMETRI]\r\nhost=h\r\n", "host", "h"},
             ReadCase{"[PARAMETRI]\nk=" + std::string(1500, 'z'), "k", std::string(1023, 'z')},
         })
        EXPECT_EQ(ProfileText(c.content).read("PARAMETRI", c.key, "dflt"), c.expected)
            << c.content.substr(0, 40);
}

TEST(ProfileWrite, ReplacesInPlaceKeepsEverythingElseAndHidesThePassword) {
    TempDir dir;
    const auto path = dir / "s.ini";
    writeFile(path,
              "\xEF\xBB\xBF; keep me\r\n[PARAMETRI]\r\nhost=old\r\nunknown=1\r\n\r\n"
              "[OTHER]\r\nx=y\r\n");
    ASSERT_TRUE(writeProfileString("PARAMETRI", "HOST", "new", path));
    ASSERT_TRUE(writeProfileString("PARAMETRI", "login", " padded ", path));
    ASSERT_TRUE(writeProfileString("NEW", "k", "v", path));
    EXPECT_EQ(readFile(path),
              "\xEF\xBB\xBF; keep me\r\n[PARAMETRI]\r\nhost=new\r\nunknown=1\r\n"
              "login=\" padded \"\r\n\r\n[OTHER]\r\nx=y\r\n[NEW]\r\nk=v\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A save that fails half way (a full disk; here a file-size limit, which binds root as well)
// must leave the file's bytes as they were, and no temporary file beside it.
TEST(ProfileWrite, FailedWriteLeavesTheFileUnchanged) {
    TempDir dir;
    const auto path = dir / "valtrassosftp.ini";
    const std::string before = "[PARAMETRI]\r\nhost=old\r\n";
    writeFile(path, before);
    ProfileBatch batch(path);
    batch.set("PARAMETRI", "host", std::string(8192, 'n'));
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool committed = batch.commit();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_FALSE(committed);
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(test::filesBelow(dir.path()), std::vector<std::string>{"valtrassosftp.ini"});
}

}  // namespace
}  // namespace vs
