#include "settings/settings.h"

#include <gtest/gtest.h>

#include "activitylog/activity_log.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace vs {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

struct SettingsFixture : ::testing::Test {
    TempDir dir;
    test::FakeClock clock;
    ActivityLog log{clock, dir.path(), englishWeekdayNames()};
    Settings settings{log, clock};
    void SetUp() override { settings.setSettingsPath(dir / "valtrassosftp.ini"); }
};

TEST_F(SettingsFixture, OneKeyFileLoadsFiftyOneRowsAndSaves425Keys) {
    writeFile(settings.settingsPath(), "[PARAMETRI]\r\nDirRemota_3=/x\r\n");
    settings.leggi_ini();
    ASSERT_EQ(settings.listdir.size(), 51u);
    EXPECT_EQ(settings.listdir[0], "00) ");
    EXPECT_EQ(settings.listdir[3], "03) /x");
    EXPECT_EQ(settings.listdir[50], "50) ");
    EXPECT_EQ(settings.jobTable[3].DirRemota, "/x");
    EXPECT_EQ(settings.server.cbotiposerver, "Sftp");
    EXPECT_EQ(settings.serverType, "Sftp");

    settings.scrivi_ini();
    const std::string saved = readFile(settings.settingsPath());
    size_t keys = 0;
    for (size_t at = 0; (at = saved.find('=', at)) != std::string::npos; ++at) ++keys;
    EXPECT_EQ(keys, 425u);
    EXPECT_NE(saved.find("Dirparametri_50="), std::string::npos);
    EXPECT_NE(saved.find("OperMail_11="), std::string::npos);
    EXPECT_EQ(saved.find("_03="), std::string::npos);  // numbers are not padded
    EXPECT_EQ(settings.listdir.size(), 51u);
}

TEST_F(SettingsFixture, RoundTripKeepsEveryFieldUnchanged) {
    settings.server = {"myhost:822", "user", " p w ", "15", "Ftp"};
    TransferJob job{"/in",      "/tmp/loc", "TUTTI", "SI",
                    "Download", "/bak",     "2x",    "INIZIA:FT;FINISCE:.txt;"};
    settings.jobTable[7] = job;
    settings.jobTable[50].Dirparametri = std::string(1500, 'p');
    settings.txt_oper_mail = {"A1", "", "B 2", "C3", "D.4", "", "", "", "", "", "", " E5"};
    settings.scrivi_ini();

    Settings loaded(log, clock);
    loaded.setSettingsPath(settings.settingsPath());
    loaded.leggi_ini();
    EXPECT_EQ(loaded.server.txtHost, "myhost:822");
    EXPECT_EQ(loaded.server.txtPwd, " p w ");
    EXPECT_EQ(loaded.serverType, "Ftp");
    EXPECT_EQ(loaded.jobTable[7].Dirparametri, job.Dirparametri);
    EXPECT_EQ(loaded.jobTable[7].DirLocaleBackup, "/bak");
    EXPECT_EQ(loaded.jobTable[50].Dirparametri, std::string(1023, 'p'));
    EXPECT_EQ(loaded.listdir[7], "07) /in");
    EXPECT_EQ(loaded.txt_oper_mail[2], "B 2");
    EXPECT_EQ(loaded.txt_oper_mail[11], " E5");  // saved unchanged though it does not count
    EXPECT_EQ(loaded.operatorList, "||A1||C3||");
}

TEST_F(SettingsFixture, OperatorListAndServerTypeRules) {
    writeFile(settings.settingsPath(),
              "[PARAMETRI]\ntiposerver=sftp\nOperMail_01=X9\nOperMail_1=Y1\n");
    settings.leggi_ini();
    EXPECT_EQ(settings.serverType, "sftp");      // any other text stays unchanged
    EXPECT_EQ(settings.operatorList, "||Y1||");  // the padded key is never read
    writeFile(settings.settingsPath(), "[PARAMETRI]\n");
    settings.leggi_ini();
    EXPECT_EQ(settings.operatorList, "");  // twelve empty boxes: no lone "||"
}

TEST_F(SettingsFixture, SaveKeepsCommentsUnknownKeysAndKeyfile) {
    writeFile(settings.settingsPath(),
              "# site notes\n[PARAMETRI]\nkeyfile=/etc/key\nhost=a\n[EXTRA]\nz=1\n");
    settings.leggi_ini();
    EXPECT_EQ(settings.keyfile, "/etc/key");
    settings.server.txtHost = "b";
    settings.scrivi_ini();
    const std::string saved = readFile(settings.settingsPath());
    EXPECT_EQ(saved.rfind("# site notes\n[PARAMETRI]\nkeyfile=/etc/key\nhost=b\n", 0), 0u);
    EXPECT_NE(saved.find("[EXTRA]\nz=1\n"), std::string::npos);
    EXPECT_EQ(settings.keyfile, "/etc/key");
}

TEST_F(SettingsFixture, UnwritableFileLogsOneLinePerKeyAndKeepsEarlierLines) {
    writeFile(dir / "file", "x");
    settings.setSettingsPath(dir / "file" / "valtrassosftp.ini");  // can never be created
    for (int i = 0; i < 700; ++i) log.scrivi_log("line " + std::to_string(i));
    settings.scrivi_ini();
    // The 700 earlier lines went to the day's file first instead of being thrown away.
    const std::string written = readFile(log.todaysFile());
    EXPECT_NE(written.find("line 0\r\n"), std::string::npos);
    EXPECT_NE(written.find("line 699\r\n"), std::string::npos);
    ASSERT_EQ(log.size(), 425u);
    EXPECT_EQ(log.List1().front(), "16/10/2009 12:00:05 Errore in scrittura nel file " +
                                       settings.settingsPath().string());
    EXPECT_EQ(settings.listdir.size(), 51u);  // the reload still runs
}

}  // namespace
}  // namespace vs
