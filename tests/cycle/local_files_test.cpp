// The one way the program creates, opens and clears up local files, against what a local user
// with write access to a transfer folder could plant there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "common/file_name.h"
#include "common/new_file.h"
#include "common/runtime_error.h"
#include "common/source_file.h"
#include "cycle/cycle_rig.h"
#include "support/program_run.h"

namespace vs::test {
namespace {

namespace fs = std::filesystem;

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

TEST(LocalFiles, ChangeTellsTheVersionThatWasOpenedFromAnother) {
    using Change = SourceFile::Change;
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> change;
        Change expected;
    };
    const std::vector<Case> cases{
        {"left alone", [](const fs::path&) {}, Change::None},
        {"appended to", [](const fs::path& f) { writeFile(f, "version 1 and more"); },
         Change::Modified},
        {"replaced by rename",
         [](const fs::path& f) {
             writeFile(f.string() + ".new", "version 2");
             fs::rename(f.string() + ".new", f);
         },
         Change::Replaced},
        {"removed", [](const fs::path& f) { fs::remove(f); }, Change::Replaced},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        writeFile(dir / "a", "version 1");
        SourceFile source((dir / "a").string());
        c.change(dir / "a");
        EXPECT_EQ(source.change(), c.expected);
    }
}

TEST(LocalFiles, LeftoversOfAGoneProcessAreRemovedOthersStay) {
    TempDir dir;
    const std::string mine = temporaryName();
    const std::string gone = ".vs-0999999999-0000abcd.tmp";  // no such process
    for (const std::string& n : {mine, gone, std::string("x.vs-part"), std::string("real.txt")})
        writeFile(dir / n, "");
    EXPECT_EQ(removeStaleTemporaries(dir.path()), 2);
    EXPECT_EQ(filesBelow(dir.path()), (std::vector<std::string>{mine, "real.txt"}));
    EXPECT_EQ(removeStaleTemporaries(dir.path(), true), 1);  // a staging folder: all but live ones
    EXPECT_EQ(filesBelow(dir.path()), (std::vector<std::string>{mine}));
}

// Names that once collided with temporary files, or could not get a temporary suffix at all.
TEST(LocalFiles, AwkwardNamesDownloadLikeAnyOther) {
    CycleRig rig;
    const std::string in = rig.folder("in");
    const std::string longest(255, 'n');
    for (const std::string& n : {longest, std::string("X"), std::string("X.vs-part"),
                                 std::string(".vs-0000000001-00000000.tmp")})
        rig.remote.put("/in/" + n, n);
    rig.remote.put("/in/scarica_ok", "");
    rig.download(0, "/in", in, "TUTTI", "SI");
    EXPECT_EQ(rig.run(), CycleOutcome::Clean);
    EXPECT_EQ(rig.localFiles(in), (std::vector<std::string>{"X", "X.vs-part", longest}));
    EXPECT_EQ(readFile(fs::path(in) / "X"), "X");
    // One of our own temporary names is never taken from a listing.
    EXPECT_EQ(rig.remote.files.size(), 2u);
}

}  // namespace
}  // namespace vs::test
