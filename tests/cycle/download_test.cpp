#include <gtest/gtest.h>

#include "cycle_rig.h"

namespace vs {
namespace {

using test::CycleRig;
using test::FakeClock;
using test::readFile;

std::vector<std::string> fetchOrder(const CycleRig& rig) {
    std::vector<std::string> out;
    for (const std::string& c : rig.sftpComponent.calls)
        if (c.rfind("fetch ", 0) == 0) out.push_back(c.substr(6));
    return out;
}

TEST(Download, CopiesBacksUpAndDeletesOnlyAfterACopy) {
    CycleRig rig;
    const std::string local = rig.folder("loc");
    rig.folder("bak");
    TransferJob& job = rig.download(0, "/in", local, "TUTTI", "SI");
    job.DirLocaleBackup = (rig.dir / "bak").string();  // without its final "/"
    rig.remote.put("/in/scarica_ok", "");
    rig.remote.put("/in/a.txt", "alpha");
    EXPECT_EQ(rig.run(), CycleOutcome::Clean);
    EXPECT_EQ(readFile(rig.dir / "loc" / "a.txt"), "alpha");
    EXPECT_EQ(readFile(rig.dir / "bak" / "a.txt"), "alpha");
    EXPECT_FALSE(std::filesystem::exists(rig.tempFolder / "a.txt"));
    EXPECT_FALSE(rig.remote.has("/in/a.txt"));
    EXPECT_TRUE(rig.remote.has("/in/scarica_ok"));
    EXPECT_TRUE(rig.logged(" Elenco Ottenuto /in/ 1"));
    EXPECT_TRUE(rig.logged(" Download corretto a.txt"));
    EXPECT_TRUE(rig.logged(" Cancellato file remoto a.txt"));
    EXPECT_EQ(rig.state.totfile, "1");
    EXPECT_EQ(rig.state.totfileok, "1");
    EXPECT_EQ(rig.state.totfilenonok, "0");
    EXPECT_TRUE(rig.state.List2.empty());
}

TEST(Download, FailedCopyNeverDeletesTheRemoteFile) {
    CycleRig rig;
    const std::string local = rig.folder("loc");
    rig.download(0, "/in", local, "TUTTI", "SI");
    rig.remote.put("/in/scarica_ok", "");
    rig.remote.put("/in/a.txt", "alpha");
    std::filesystem::create_directories(rig.dir / "loc" / "a.txt.vs-part" / "blocker");
    EXPECT_EQ(rig.run(), CycleOutcome::Errors);
    EXPECT_TRUE(rig.remote.has("/in/a.txt"));
    EXPECT_TRUE(rig.loggedPart("step 125"));
    EXPECT_EQ(readFile(rig.tempFolder / "a.txt"), "alpha");  // the staged copy is kept
}

TEST(Download, VanishedStagedFileIsNotDeletedRemotely) {
    CycleRig rig;
    rig.download(0, "/in", rig.folder("loc"), "TUTTI", "SI");
    rig.remote.put("/in/scarica_ok", "");
    rig.remote.put("/in/a.txt", "alpha");
    // The staged file goes away between the fetch and the copy.
    rig.yieldHook = [&] { std::filesystem::remove(rig.tempFolder / "a.txt"); };
    EXPECT_EQ(rig.run(), CycleOutcome::Clean);
    EXPECT_TRUE(rig.remote.has("/in/a.txt"));
    EXPECT_TRUE(rig.logged(" File remoto non cancellato (copia locale mancante) a.txt"));
}

TEST(Download, SizeChangedBetweenListingAndFetchStaysOnTheServer) {
    CycleRig rig;
    rig.download(0, "/in", rig.folder("loc"), "TUTTI", "SI");
    rig.remote.put("/in/scarica_ok", "");
    rig.remote.put("/in/a.txt", "alpha");
    rig.sftpComponent.beforeFetch = [&](const std::string& p) {
        rig.remote.files[p].content += "more";
    };
    rig.run();
    EXPECT_TRUE(rig.logged(" Download incorretto a.txt"));
    EXPECT_TRUE(rig.remote.has("/in/a.txt"));
    EXPECT_FALSE(std::filesystem::exists(rig.dir / "loc" / "a.txt"));
    EXPECT_EQ(rig.state.totfileok, "0");
}

TEST(Download, NoControlFileNoDownload) {
    CycleRig rig;
    rig.download(0, "/in", rig.folder("loc"));
    rig.remote.put("/in/a.txt", "alpha");
    rig.run();
    EXPECT_TRUE(rig.logged(" Non posso scaricare i file (manca il file di controllo) "));
    EXPECT_TRUE(rig.logged(" Elenco Ottenuto /in/ 0"));
    EXPECT_TRUE(fetchOrder(rig).empty());
}

TEST(Download, ReportQueueFollowsItsKeys) {
    CycleRig rig;
    rig.download(0, "/in", rig.folder("loc"), "PDFREPORT");
    rig.remote.put("/in/ABCDEFOP1.abcdxyz.pdf", "2", FakeClock::at(2009, 10, 16, 12, 0, 5));
    rig.remote.put("/in/ABCDEFOP1.pdf", "1", FakeClock::at(2009, 10, 16, 12, 0, 5));
    rig.remote.put("/in/ABCDEFOP1.old.pdf", "3", FakeClock::at(2008, 1, 1, 0, 0, 0));
    rig.run();
    // Keys 20091016_120005, 80101_000000pdf and 91016_120005xyz.
    EXPECT_EQ(fetchOrder(rig),
              (std::vector<std::string>{"/in/ABCDEFOP1.pdf", "/in/ABCDEFOP1.old.pdf",
                                        "/in/ABCDEFOP1.abcdxyz.pdf"}));
    EXPECT_TRUE(
        rig.loggedPart(" Downloading file ABCDEFOP1.abcdxyz.pdf Size: 1 byte 91016_120005xyz "));
}

TEST(Download, AutomailTakesTheFirstTwoHundredNamesIgnoringCase) {
    CycleRig rig;
    rig.download(0, "/in", rig.folder("loc"), "AUTOMAIL");
    for (int i = 0; i < 250; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%c%03d.ABCDEF.t", i % 2 ? 'a' : 'B', i);
        rig.remote.put(std::string("/in/") + name, "x");
    }
    rig.sftpComponent.batch = 64;
    rig.run();
    EXPECT_TRUE(rig.logged(" Elenco Ottenuto /in/ 200"));
    const auto order = fetchOrder(rig);
    ASSERT_EQ(order.size(), 200u);
    EXPECT_EQ(order.front(), "/in/a001.ABCDEF.t");
    EXPECT_EQ(order[124], "/in/a249.ABCDEF.t");
    EXPECT_EQ(order[125], "/in/B000.ABCDEF.t");
    EXPECT_EQ(rig.remote.files.size(), 250u);  // "NO": everything stays
}

TEST(Download, LargeTuttiListingQueuesEveryRowCorrectly) {
    // Past row 999 the row number no longer fits three characters; each item still finds its row.
    CycleRig rig;
    rig.download(0, "/in", rig.folder("loc"));
    rig.remote.put("/in/scarica_ok", "");
    for (int i = 0; i < 1200; ++i) rig.remote.put("/in/f" + std::to_string(i), std::to_string(i));
    rig.run();
    EXPECT_EQ(rig.state.totfileok, "1200");
    EXPECT_EQ(readFile(rig.dir / "loc" / "f1100"), "1100");
    EXPECT_FALSE(rig.loggedPart("incorretto"));
}

TEST(Download, AbortRequestEndsTheRunningFetch) {
    CycleRig rig;
    rig.download(0, "/in", rig.folder("loc"));
    rig.remote.put("/in/scarica_ok", "");
    rig.remote.put("/in/big", std::string(1000, 'b'));
    rig.session.abortRequest = true;  // chosen while no transfer ran: waits for this one
    EXPECT_EQ(rig.run(), CycleOutcome::Errors);
    EXPECT_FALSE(rig.session.abortRequest);
    EXPECT_FALSE(std::filesystem::exists(rig.dir / "loc" / "big"));
    EXPECT_TRUE(rig.remote.has("/in/big"));
    EXPECT_TRUE(rig.logged(" Scaricato 500"));
}

TEST(Download, FtpPathWithRefusedDeleteSaysSo) {
    CycleRig rig{"Ftp"};
    rig.download(0, "/in", rig.folder("loc"), "TUTTI", "SI");
    rig.remote.put("/in/a.txt", "alpha");
    rig.ftpControl.refuseDelete = true;
    EXPECT_EQ(rig.run(), CycleOutcome::Clean);
    EXPECT_EQ(readFile(rig.dir / "loc" / "a.txt"), "alpha");
    EXPECT_TRUE(rig.logged(" 100 %"));
    EXPECT_TRUE(rig.logged(" Impossibile cancellare il file remoto a.txt 550 Permission denied."));
    EXPECT_FALSE(rig.loggedPart("Cancellato file remoto"));

    CycleRig failing{"Ftp"};
    failing.download(0, "/in", failing.folder("loc"), "TUTTI", "SI");
    failing.remote.put("/in/a.txt", "alpha");
    failing.ftpControl.failFetch.insert("/in/a.txt");
    EXPECT_EQ(failing.run(), CycleOutcome::Clean);
    EXPECT_TRUE(failing.logged(" Download incorretto a.txt"));
    EXPECT_TRUE(failing.remote.has("/in/a.txt"));
}

}  // namespace
}  // namespace vs
