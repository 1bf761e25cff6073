#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "common/new_file.h"
#include "common/runtime_error.h"
#include "common/source_file.h"
#include "common/temporary_name.h"
#include "support/servers.h"
#include "support/temp_dir.h"

namespace vs::test {
namespace {

namespace fs = std::filesystem;

// The one way the program creates, opens and clears up local files, against what a local user
// with write access to a transfer folder could plant there.
TEST(LocalFiles, ANewFileNeverWritesThroughWhatIsAlreadyThere) {
    TempDir dir;
    writeFile(dir / "secret", "do not touch");
    fs::create_symlink(dir / "secret", dir / "a.txt");  // planted under the final name
    {
        NewFile f(dir.path());
        EXPECT_TRUE(isTemporaryName(f.path().filename().string()));
        f.write("new", 3);
        f.commit("a.txt");
    }
    EXPECT_EQ(readFile(dir / "secret"), "do not touch");
    EXPECT_FALSE(fs::is_symlink(dir / "a.txt"));
    EXPECT_EQ(readFile(dir / "a.txt"), "new");
    {
        NewFile abandoned(dir.path());  // a failure before commit leaves nothing behind
        abandoned.write("x", 1);
    }
    EXPECT_EQ(filesBelow(dir.path()), (std::vector<std::string>{"a.txt", "secret"}));
}

TEST(LocalFiles, ASourceFileIsARegularFileNeverALink) {
    TempDir dir;
    writeFile(dir / "secret", "password");
    fs::create_symlink(dir / "secret", dir / "link");
    fs::create_directories(dir / "folder");
    ::mkfifo((dir / "fifo").c_str(), 0600);
    for (const char* name : {"link", "folder", "fifo", "missing"}) {
        SCOPED_TRACE(name);
        EXPECT_THROW(SourceFile{(dir / name).string()}, RuntimeError);
    }
}

// Leftovers are told from files at work by the process that made them, not by its number
// alone (a number comes back: a restarted container), and names a user may choose stay.
TEST(LocalFiles, OnlyTemporariesOfAProcessNoLongerRunningAreRemoved) {
    const ProcessStamp me = ownStamp();
    const std::optional<ProcessStamp> init = runningStamp(1);
    ASSERT_TRUE(init);
    char earlierStyleOfMine[32];
    std::snprintf(earlierStyleOfMine, sizeof earlierStyleOfMine, ".vs-%010ld-0000abcd.tmp", me.pid);
    const std::tuple<std::string, bool> cases[] = {
        {temporaryName(), false},                                   // this process's
        {temporaryName(*init), false},                              // another process, running
        {temporaryName({1, init->boot, init->started + 1}), true},  // its number, another start
        {temporaryName({me.pid, me.boot, me.started + 1}), true},   // our number's earlier life
        {temporaryName({me.pid, me.boot ^ 1u, me.started}), true},  // ... in another boot
        {temporaryName({999999999, me.boot, 1}), true},             // a number nobody has
        {".vs-0999999999-0000abcd.tmp", true},                      // earlier style: gone
        {earlierStyleOfMine, true},                                 // ... our own number
        {".vs-0000000001-0000abcd.tmp", false},                     // ... a running number
        {"x.vs-part", false},
        {"real.txt", false},
    };
    TempDir dir;
    std::vector<std::string> kept;
    for (const auto& [name, stale] : cases) {
        writeFile(dir / name, "");
        if (!stale) kept.push_back(name);
    }
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(removeStaleTemporaries(dir.path()), std::ssize(cases) - std::ssize(kept));
    EXPECT_EQ(filesBelow(dir.path()), kept);
    EXPECT_EQ(removeStaleTemporaries(dir.path(), true), 2);  // a staging folder: users' too
}

}  // namespace
}  // namespace vs::test
