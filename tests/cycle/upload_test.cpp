#include <gtest/gtest.h>
#include <sys/time.h>

#include "cycle_rig.h"
#include "localfiles/upload_listing.h"

namespace vs {
namespace {

using test::CycleRig;
using test::readFile;
using test::writeFile;

std::vector<std::string> sends(const CycleRig& rig) {
    std::vector<std::string> out;
    for (const std::string& c : rig.sftpComponent.calls)
        if (c.rfind("send ", 0) == 0) out.push_back(c.substr(5));
    return out;
}

TEST(Upload, SendsBacksUpAndDeletesInNameOrder) {
    CycleRig rig;
    const std::string out = rig.folder("out");
    rig.folder("bak");
    TransferJob& job = rig.upload(0, out, "/up", "SI");
    job.DirLocaleBackup = (rig.dir / "bak").string();
    writeFile(rig.dir / "out" / "b.txt", "bee");
    writeFile(rig.dir / "out" / "a.txt", "ay");
    EXPECT_EQ(rig.run(), CycleOutcome::Clean);
    EXPECT_EQ(sends(rig), (std::vector<std::string>{"/up/a.txt", "/up/b.txt"}));
    EXPECT_EQ(rig.remote.files["/up/b.txt"].content, "bee");
    EXPECT_EQ(readFile(rig.dir / "bak" / "a.txt"), "ay");
    EXPECT_FALSE(std::filesystem::exists(rig.dir / "out" / "a.txt"));
    EXPECT_EQ(rig.job(0).DirLocale, out + "/");  // completed in memory
    EXPECT_EQ(rig.job(0).DirRemota, "/up/");
    for (const char* l : {" Devo inviare il file /up/a.txt", " Inviato il file /up/a.txt",
                          " Backup file /up/a.txt"})
        EXPECT_TRUE(rig.logged(l)) << l;
    EXPECT_TRUE(rig.logged(" Ci sono 2 File da inviare in " + out + "/"));
}

TEST(Upload, FailedBackupIsReportedHonestly) {
    CycleRig rig;
    const std::string out = rig.folder("out");
    rig.upload(0, out, "/up", "NO").DirLocaleBackup = (rig.dir / "nobak").string();
    writeFile(rig.dir / "out" / "a.txt", "ay");
    rig.run();
    EXPECT_TRUE(rig.remote.has("/up/a.txt"));
    EXPECT_TRUE(rig.loggedPart(" Backup non riuscito del file " + out + "/a.txt"));
    EXPECT_FALSE(rig.loggedPart(" Backup file "));
}

TEST(Upload, SendWithoutCompletionKeepsTheLocalFile) {
    CycleRig rig;
    const std::string out = rig.folder("out");
    rig.upload(0, out, "/up", "SI");
    writeFile(rig.dir / "out" / "a.txt", "ay");
    rig.sftpComponent.sendReachesEnd = false;
    rig.run();
    EXPECT_TRUE(rig.logged(" Impossibile inviare il file /up/a.txt"));
    EXPECT_TRUE(std::filesystem::exists(rig.dir / "out" / "a.txt"));
}

TEST(Upload, ValspedSendsCompanionsBeforeTheirMainFile) {
    CycleRig rig;
    const std::string out = rig.folder("out");
    rig.upload(0, out, "/up", "NO", "VALSPED");
    for (const char* n : {"A.T", "A.B", "A.H", "A.0", "A.PDF", "B.t", "B.B", "b.h", "other.txt"})
        writeFile(rig.dir / "out" / n, n);
    rig.run();
    EXPECT_EQ(sends(rig), (std::vector<std::string>{"/up/A.0", "/up/A.B", "/up/A.H", "/up/A.PDF",
                                                    "/up/A.T", "/up/B.B", "/up/B.t"}));
}

TEST(Upload, FiltersThatPassNothingStillListTheFolder) {
    CycleRig rig;
    const std::string out = rig.folder("out");
    rig.upload(0, out, "/up", "NO", "INIZIA:zz;FINISCE:.txt;");
    rig.download(1, "/in", rig.folder("in"));  // gives the cycle a reason to connect
    writeFile(rig.dir / "out" / "zz.log", "x");
    writeFile(rig.dir / "out" / "a.txt", "x");
    writeFile(rig.dir / "out" / "zza.txt.old", "x");
    rig.run();
    EXPECT_FALSE(rig.loggedPart("Richiedi elenco Upload"));  // nothing matches "zz*.txt"
    // Prefix and contains give the pattern "*": every file matches it, none passes the filters.
    rig.clearLog();
    rig.job(0).Dirparametri = "INIZIA:zz;CONTIENE:nope;";
    rig.run();
    EXPECT_TRUE(rig.loggedPart("Richiedi elenco Upload 0"));
    EXPECT_TRUE(rig.logged(" Nessun file da inviare in " + out + "/"));
}

struct UploadListingFixture : ::testing::Test {
    test::TempDir dir;
    WorkList list;
    std::vector<std::string> logged;
    UploadListingContext ctx{{},
                             "",
                             list,
                             [this](const std::string& l) { logged.push_back(l); },
                             [] { return std::string("12:00:00"); }};
    void file(const std::string& name, std::time_t created) {
        writeFile(dir / name, "x");
        // Birth time cannot be set; the listing falls back on the modification time only
        // where the file system keeps no birth time, so order is checked by names here.
        timeval tv[2] = {{created, 0}, {created, 0}};
        ::utimes((dir / name).c_str(), tv);
    }
};

TEST_F(UploadListingFixture, MoreThan1500FilesSendsTheOldest1500) {
    for (int i = 0; i < 1501; ++i) file("f" + std::to_string(i), 1000000 + i);
    listacontenutoupload(dir.path().string(), ctx);
    EXPECT_EQ(list.count(), 1500u);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].rfind("12:00:00 Ci sono 1501 file in ", 0), 0u);

    logged.clear();
    std::filesystem::remove(dir / "f1500");
    listacontenutoupload(dir.path().string(), ctx);
    EXPECT_EQ(list.count(), 1500u);
    EXPECT_TRUE(logged.empty());
}

TEST_F(UploadListingFixture, MissingFolderSpecialFilesAndLinks) {
    listacontenutoupload((dir / "missing").string(), ctx);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].rfind("listacontenuto ", 0), 0u);
    EXPECT_TRUE(list.empty());

    file("real.txt", 1000);
    file(".hidden", 1000);
    std::filesystem::create_directory(dir / "sub");
    test::TempDir outside;
    writeFile(outside / "secret", "s");
    std::filesystem::create_symlink(outside / "secret", dir / "link.txt");
    listacontenutoupload(dir.path().string(), ctx);
    EXPECT_EQ(list.items(), std::vector<std::string>{"real.txt"});
}

}  // namespace
}  // namespace vs
