#include <gtest/gtest.h>
#include <sys/stat.h>

#include "cycle_rig.h"

namespace vs {
namespace {

using test::CycleRig;

TEST(CycleDriver, NoWorkWritesExactlyTwoLinesAndDoesNotConnect) {
    CycleRig rig;
    rig.job(4) = {"/in", (rig.dir / "missing").string(), "TUTTI", "NO", "Download", "", "", ""};
    EXPECT_EQ(rig.run(), CycleOutcome::NothingToDo);
    EXPECT_EQ(rig.lines(),
              (std::vector<std::string>{
                  " Ciclo 1",
                  "****** ERRORE **** Non riesco ad accedere a " + (rig.dir / "missing").string(),
                  " Non mi collego non c'e' niente da fare "}));
    CycleRig empty;
    EXPECT_EQ(empty.run(), CycleOutcome::NothingToDo);
    EXPECT_EQ(empty.lines(),
              (std::vector<std::string>{" Ciclo 1", " Non mi collego non c'e' niente da fare "}));
    EXPECT_TRUE(empty.sftpComponent.calls.empty());
}

TEST(CycleDriver, MultipliersOnLaterCyclesAndAfterTheWrap) {
    CycleRig rig;
    rig.download(0, "/a", rig.folder("a")).Dirmoltiplicatore = "2x";
    rig.download(1, "/b", rig.folder("b")).Dirmoltiplicatore = "1x";
    rig.remote.put("/a/scarica_ok", "");
    rig.remote.put("/b/scarica_ok", "");
    rig.run();  // cycle 1: every job
    EXPECT_TRUE(rig.loggedPart("Richiedi elenco Download 0 /a/"));
    rig.clearLog();
    rig.run();  // cycle 2: 2 % 2 == 0
    EXPECT_TRUE(rig.loggedPart("Richiedi elenco Download 0 /a/"));
    rig.clearLog();
    rig.run();  // cycle 3
    EXPECT_TRUE(rig.logged(" Non e' il giro giusto per il tuo moltiplicatore 2 3"));
    EXPECT_TRUE(rig.loggedPart("Richiedi elenco Download 1 /b/"));

    rig.state.cycleCounter = 32000;
    rig.clearLog();
    rig.run();
    EXPECT_EQ(rig.lines()[0], " Ciclo 1");
    EXPECT_TRUE(rig.loggedPart("Richiedi elenco Download 0 /a/"));
}

TEST(CycleDriver, JobWithoutTipoFileConnectsAndEndsCleanly) {
    CycleRig rig;
    rig.download(0, "/in", rig.folder("loc")).TipoFile = "";
    EXPECT_EQ(rig.run(), CycleOutcome::Clean);
    EXPECT_EQ(rig.lines(),
              (std::vector<std::string>{
                  " Ciclo 1", " Connecting Sftp...", " Connected",
                  " Inizio controllo per collegamento /in " + rig.job(0).DirLocale,
                  " Collegamento Terminato  !", "************************************"}));
    EXPECT_FALSE(rig.session.connected);
    EXPECT_EQ(rig.sftpComponent.calls.back(), "disconnect");
}

TEST(CycleDriver, RefusedConnectionEndsTheCycleAtOnce) {
    CycleRig rig;
    rig.download(0, "/in", rig.folder("loc"));
    rig.sftpComponent.refuseCode = 1;
    EXPECT_EQ(rig.run(), CycleOutcome::ConnectFailed);
    EXPECT_EQ(rig.lines().back(), "Connect Failed Authentication failed");
    EXPECT_FALSE(rig.session.connected);
    EXPECT_TRUE(rig.session.connectFailed);
}

TEST(CycleDriver, UploadJobOnlyConnectsWhenAFilePassesTheFilters) {
    CycleRig rig;
    const std::string out = rig.folder("out");
    rig.upload(0, out, "/up", "NO", "INIZIA:FT;");
    test::writeFile(rig.dir / "out" / "other.txt", "x");
    EXPECT_EQ(rig.run(), CycleOutcome::NothingToDo);
    test::writeFile(rig.dir / "out" / "ft1.txt", "x");
    EXPECT_EQ(rig.run(), CycleOutcome::Clean);
    EXPECT_TRUE(rig.remote.has("/up/ft1.txt"));
    EXPECT_FALSE(rig.remote.has("/up/other.txt"));
}

TEST(CycleDriver, BadMultiplierEndsTheCycleThroughTheThirdBranch) {
    CycleRig rig;
    rig.download(0, "/in", rig.folder("loc")).Dirmoltiplicatore = "0x";
    rig.state.cycleCounter = 5;
    EXPECT_EQ(rig.run(), CycleOutcome::Errors);
    EXPECT_TRUE(rig.loggedPart(" Collegamento 3 ****** ERRORE **** 11 "));
    EXPECT_TRUE(rig.loggedPart(" step 10"));
    EXPECT_TRUE(rig.logged(" Collegamento Terminato  CON ERRORI"));
}

TEST(CycleDriver, UnqueryableLocalFolderSkipsOnlyThatJob) {
    // A path that cannot even be queried (too long) is reported and the next job goes on.
    CycleRig rig;
    rig.download(0, "/in", std::string(5000, 'x'));
    rig.download(1, "/in2", rig.folder("b"));
    rig.remote.put("/in2/scarica_ok", "");
    EXPECT_EQ(rig.run(), CycleOutcome::Clean);
    EXPECT_TRUE(
        rig.loggedPart("Collegamento 1 ****** ERRORE **** Non riesco ad accedere alla "
                       "dir locale 0 xxx"));
    EXPECT_TRUE(rig.loggedPart(" step =  10"));
    EXPECT_TRUE(rig.loggedPart(" step =  55"));  // and again in the main pass
    EXPECT_TRUE(rig.loggedPart("Richiedi elenco Download 1 /in2/"));
}

TEST(CycleDriver, ErrorBranchesStepNumbersAndResumption) {
    // A remote refusal inside a download: third branch, the rest of the cycle is skipped.
    CycleRig rig;
    rig.download(0, "/in", rig.folder("a"));
    rig.download(1, "/in2", rig.folder("b"));
    rig.remote.put("/in/scarica_ok", "");
    rig.remote.put("/in/x.txt", "data");
    rig.remote.put("/in2/scarica_ok", "");
    rig.sftpComponent.failFetch.insert("/in/x.txt");
    EXPECT_EQ(rig.run(), CycleOutcome::Errors);
    EXPECT_TRUE(
        rig.logged(" Collegamento 3 ****** ERRORE **** 30000 fetch failed: /in/x.txt step 110 2"));
    EXPECT_FALSE(rig.loggedPart("Richiedi elenco Download 1"));
    EXPECT_EQ(rig.lines().back(), "************************************");

    // A lost connection: second branch, connect-failed raised, the end lines still written.
    CycleRig lost;
    lost.download(0, "/in", lost.folder("a"));
    lost.remote.put("/in/scarica_ok", "");
    lost.remote.put("/in/x.txt", "data");
    lost.sftpComponent.failFetch.insert("/in/x.txt");
    lost.sftpComponent.failFetchNumber = kErrConnection;
    EXPECT_EQ(lost.run(), CycleOutcome::Errors);
    EXPECT_TRUE(
        lost.logged("Collegamento  2 ****** ERRORE **** 30006 fetch failed: /in/x.txt step 110"));
    EXPECT_TRUE(lost.logged(" Collegamento Terminato  CON ERRORI"));
    EXPECT_FALSE(lost.session.connected);

    // An error after the connect-failed flag is up leaves the cycle without its end lines,
    // but never with the session marked as connected.
    CycleRig late{"Ftp"};
    late.download(0, "/missing", late.folder("a"));
    late.remote.folders.erase("/missing/");
    late.download(1, "/in", late.folder("b"));
    late.job(1).Dirmoltiplicatore = "bad";
    late.state.cycleCounter = 4;  // not the first cycle: the multiplier is read
    EXPECT_EQ(late.run(), CycleOutcome::Errors);
    EXPECT_TRUE(late.session.connectFailed);
    EXPECT_FALSE(late.session.connected);
    EXPECT_FALSE(late.loggedPart("Collegamento Terminato"));
}

TEST(CycleDriver, AspEndsTheProgramOnlyAfterACleanCycle) {
    CycleRig rig;
    rig.mode = "ASP";
    rig.download(0, "/in", rig.folder("a"));
    rig.remote.put("/in/scarica_ok", "");
    rig.run();
    EXPECT_EQ(rig.ended, 1);

    CycleRig failing;
    failing.mode = "asp";
    failing.download(0, "/in", failing.folder("a"));
    failing.remote.put("/in/scarica_ok", "");
    failing.remote.put("/in/x", "1");
    failing.sftpComponent.failFetch.insert("/in/x");
    failing.run();
    EXPECT_EQ(failing.ended, 0);
}

TEST(CycleDriver, SftpHostPortAndMissingSessionObject) {
    CycleRig rig;
    rig.download(0, "/in", rig.folder("a"));
    rig.remote.put("/in/scarica_ok", "");
    rig.settings.server.txtHost = "myhost:822";
    rig.run();
    EXPECT_EQ(rig.sftpComponent.calls[0], "connect myhost:822");
    rig.settings.server.txtHost = "myhost";
    rig.run();
    EXPECT_EQ(rig.sftpComponent.port, 822);  // kept for later cycles

    rig.settings.server.txtHost = "myhost:abc";
    rig.clearLog();
    rig.run();
    EXPECT_TRUE(rig.loggedPart(" Connecting Sftp Error Tipo non corrispondente"));
    // Not connected: the first operation fails as a connection-level error.
    EXPECT_TRUE(rig.loggedPart("Collegamento  2 ****** ERRORE **** 30006"));
    EXPECT_TRUE(rig.logged(" Collegamento Terminato  CON ERRORI"));
}

TEST(CycleDriver, FtpConnectLinesAndRefusedLogin) {
    CycleRig rig{"Ftp"};
    rig.download(0, "/in", rig.folder("a"));
    rig.settings.server.txtHost = "myhost:990";
    rig.run();
    EXPECT_EQ(rig.lines()[1], " Connecting Ftp..");
    EXPECT_EQ(rig.lines()[2], " Connected ! ");
    EXPECT_EQ(rig.ftpControl.port, 990);
    EXPECT_EQ(rig.ftpControl.calls[0], "prepare 32000");

    CycleRig refused{"Ftp"};
    refused.download(0, "/in", refused.folder("a"));
    refused.ftpControl.refuseLogin = true;
    EXPECT_EQ(refused.run(), CycleOutcome::ConnectFailed);
    EXPECT_EQ(refused.lines().back(), " Not Connected ! 530 Login incorrect.");
    EXPECT_FALSE(refused.session.connected);
}

}  // namespace
}  // namespace vs
