// Local faults around real transfers: full or read-only folders, and the program killed in the
// middle of a transfer. Afterwards every file exists at least once where it belongs, complete.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>

#include <memory>
#include <thread>

#include "e2e/e2e_support.h"

namespace vs {
namespace {

using namespace std::chrono_literals;
using test::JobSpec;
using test::readFile;
using test::TempDir;
using test::TestServer;
using test::writeFile;

namespace fs = std::filesystem;

// A small file system of its own, mounted for the test (root only; skipped elsewhere).
class SmallMount {
  public:
    SmallMount(const fs::path& at, const char* options) : at_(at) {
        fs::create_directories(at);
        mounted_ = ::mount("tmpfs", at.c_str(), "tmpfs", 0, options) == 0;
    }
    ~SmallMount() {
        if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    void remountReadOnly() {
        ::mount("tmpfs", at_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr);
    }

  private:
    fs::path at_;
    bool mounted_ = false;
};

struct LocalFaults : ::testing::Test {
    TempDir sandbox;
    fs::path served = sandbox / "served", home = sandbox / "home", dl = sandbox / "dl",
             up = sandbox / "up", bak = sandbox / "bak";
    std::unique_ptr<TestServer> server;
    const std::string big = std::string(400000, 'B');

    void SetUp() override {
        for (const fs::path& p : {served / "out", served / "in", home, dl, up, bak})
            fs::create_directories(p);
    }
    void start(std::vector<std::string> extra = {}) {
        server = test::startFtpServer(served, extra);
        ASSERT_TRUE(server->ok()) << server->output();
    }
    void settings(std::vector<JobSpec> jobs) {
        test::writeSettings(home, test::hostOf(*server), "Ftp", jobs);
    }
    bool complete(const fs::path& p) { return fs::exists(p) && readFile(p) == big; }
};

TEST_F(LocalFaults, FullLocalFolderKeepsTheRemoteFileAndLeavesNoPartialCopy) {
    SmallMount small(dl, "size=64k");
    if (!small.mounted()) GTEST_SKIP() << "cannot mount a small file system here";
    writeFile(served / "out" / "big.bin", big);
    start();
    settings({JobSpec{"/out", dl.string(), "TUTTI", "SI"}});
    auto run = test::runProgram(home, {"mod:asp"});
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_TRUE(complete(served / "out" / "big.bin"));
    EXPECT_TRUE(fs::is_empty(dl));
    EXPECT_NE(run.output.find(" Collegamento 3 ****** ERRORE **** "), std::string::npos);
}

TEST_F(LocalFaults, FullStagingFolderKeepsTheRemoteFile) {
    SmallMount small(home / "tempozipftp", "size=64k");
    if (!small.mounted()) GTEST_SKIP() << "cannot mount a small file system here";
    writeFile(served / "out" / "big.bin", big);
    start();
    settings({JobSpec{"/out", dl.string(), "TUTTI", "SI"}});
    const auto run = test::runProgram(home, {"mod:asp"});
    EXPECT_NE(run.output.find(" Download incorretto big.bin"), std::string::npos) << run.output;
    EXPECT_TRUE(complete(served / "out" / "big.bin"));
    EXPECT_FALSE(fs::exists(dl / "big.bin"));
    EXPECT_TRUE(fs::is_empty(home / "tempozipftp"));
}

TEST_F(LocalFaults, FullBackupFolderStopsBeforeTheRemoteDeletion) {
    SmallMount small(bak, "size=64k");
    if (!small.mounted()) GTEST_SKIP() << "cannot mount a small file system here";
    writeFile(served / "out" / "big.bin", big);
    start();
    settings({JobSpec{"/out", dl.string(), "TUTTI", "SI", "Download", bak.string()}});
    const auto run = test::runProgram(home, {"mod:asp"});
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_TRUE(complete(dl / "big.bin"));
    EXPECT_TRUE(complete(served / "out" / "big.bin"));
    EXPECT_FALSE(fs::exists(bak / "big.bin"));
}

TEST_F(LocalFaults, ReadOnlyUploadFolderKeepsItsFiles) {
    SmallMount small(up, "size=1m");
    if (!small.mounted()) GTEST_SKIP() << "cannot mount a small file system here";
    writeFile(up / "send.bin", big);
    small.remountReadOnly();
    start();
    settings({JobSpec{"/in", up.string(), "TUTTI", "SI", "Upload"}});
    const auto run = test::runProgram(home, {"mod:asp"});
    EXPECT_TRUE(complete(served / "in" / "send.bin"));
    EXPECT_TRUE(complete(up / "send.bin"));  // could not be deleted: both copies stay
    EXPECT_EQ(run.exitCode, 1) << run.output;
}

// Kills the program with SIGKILL once the transfer is under way, then runs it again.
TEST_F(LocalFaults, KilledInTheMiddleOfADownloadAndOfAnUpload) {
    writeFile(served / "out" / "down.bin", big);
    writeFile(up / "upload.bin", big);
    start({"--rate", "100000"});
    settings({JobSpec{"/out", dl.string(), "TUTTI", "SI"},
              JobSpec{"/in", up.string(), "TUTTI", "SI", "Upload"}});
    test::ServerProcess p;
    ASSERT_TRUE(p.start({test::programBinary(), "mod:auto", "--headless"},
                        {"VALTRASSOSFTP_HOME=" + home.string(), "LC_ALL=C"}));
    // The download runs first (job 0), then the upload (job 1): kill in each.
    const fs::path part = home / "tempozipftp" / "down.bin.part";
    for (int i = 0; i < 300 && !(fs::exists(part) && fs::file_size(part) > 50000); ++i)
        std::this_thread::sleep_for(50ms);
    p.signal(SIGKILL);
    p.wait(10s);
    EXPECT_TRUE(complete(served / "out" / "down.bin"));
    EXPECT_FALSE(fs::exists(dl / "down.bin") && !complete(dl / "down.bin"));

    // Again, until the download is done and the upload has begun.
    test::ServerProcess again;
    ASSERT_TRUE(again.start({test::programBinary(), "mod:auto", "--headless"},
                            {"VALTRASSOSFTP_HOME=" + home.string(), "LC_ALL=C"}));
    for (int i = 0;
         i < 400 && again.output().find("Cancellato file remoto down.bin") == std::string::npos;
         ++i)
        std::this_thread::sleep_for(50ms);
    std::this_thread::sleep_for(1500ms);
    again.signal(SIGKILL);
    again.wait(10s);
    EXPECT_TRUE(complete(dl / "down.bin"));
    EXPECT_TRUE(complete(up / "upload.bin"));  // only removed after a complete send

    // A last, undisturbed run finishes everything.
    start();
    settings({JobSpec{"/out", dl.string(), "TUTTI", "SI"},
              JobSpec{"/in", up.string(), "TUTTI", "SI", "Upload"}});
    const auto run = test::runProgram(home, {"mod:asp"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(complete(dl / "down.bin"));
    EXPECT_TRUE(complete(served / "in" / "upload.bin"));
    EXPECT_FALSE(fs::exists(served / "out" / "down.bin"));
    EXPECT_FALSE(fs::exists(up / "upload.bin"));
}

}  // namespace
}  // namespace vs
