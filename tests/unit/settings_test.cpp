#include "settings/settings.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "activitylog/activity_log.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace vs {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

struct SettingsTest : ::testing::Test {
    TempDir dir;
    test::FakeClock clock;
    ActivityLog log{clock, dir.path(), englishWeekdayNames()};
    Settings settings{log, clock};
    void SetUp() override { settings.setSettingsPath(dir / "valtrassosftp.ini"); }
    void load(const std::string& content) {
        writeFile(settings.settingsPath(), content);
        settings.leggi_ini();
    }
    long logged(const std::string& line) const {
        return std::count(log.List1().begin(), log.List1().end(), line);
    }
};

TEST_F(SettingsTest, OneKeyFileLoads51RowsAndSaves425UnpaddedKeys) {
    load("[PARAMETRI]\r\nDirRemota_3=/x\r\nOperMail_01=X9\r\ntiposerver=sftp\r\n");
    ASSERT_EQ(settings.listdir.size(), 51u);
    EXPECT_EQ(settings.listdir[0], "00) ");
    EXPECT_EQ(settings.listdir[3], "03) /x");
    EXPECT_EQ(settings.listdir[50], "50) ");
    EXPECT_EQ(settings.operatorList, "");              // a padded key is never read; no lone "||"
    EXPECT_EQ(settings.server.cbotiposerver, "sftp");  // kept as written, and reported
    EXPECT_EQ(settings.serverType, ServerType::Unknown);
    EXPECT_EQ(logged("Tipo server sconosciuto: sftp (valori ammessi: Sftp, Ftp, Ftps, "
                     "FtpsImplicito)"),
              1);

    settings.scrivi_ini();
    const std::string saved = readFile(settings.settingsPath());
    EXPECT_EQ(std::count(saved.begin(), saved.end(), '='), 425 + 1);  // and the padded one
    EXPECT_NE(saved.find("Dirparametri_50=\r\n"), std::string::npos);
    EXPECT_NE(saved.find("OperMail_11=\r\n"), std::string::npos);
    EXPECT_EQ(settings.listdir.size(), 51u);
}

TEST_F(SettingsTest, SaveAndLoadKeepEveryFieldAsTyped) {
    settings.server = {"myhost:822", "user", " p w ", "15", "Ftp"};
    const TransferJob job{
        "/in", "/tmp/loc", "TUTTI", "SI", "Download", "/bak", "2x", "INIZIA:FT;FINISCE:.txt;", {}};
    settings.jobTable[7] = job;
    settings.txt_oper_mail = {"A1", "", "B 2", "C3", "D.4", "", "", "", "", "", "", " E5"};
    settings.scrivi_ini();

    Settings loaded(log, clock);
    loaded.setSettingsPath(settings.settingsPath());
    loaded.leggi_ini();
    EXPECT_EQ(loaded.server.txtHost, "myhost:822");
    EXPECT_EQ(loaded.server.txtPwd, " p w ");
    EXPECT_EQ(loaded.server.cbotime, "15");
    EXPECT_EQ(loaded.serverType, ServerType::Ftp);
    for (int f = 0; f < 8; ++f) EXPECT_EQ(jobField(loaded.jobTable[7], f), jobField(job, f));
    EXPECT_EQ(loaded.listdir[7], "07) /in");
    EXPECT_EQ(loaded.txt_oper_mail, settings.txt_oper_mail);  // all saved, counted or not
    EXPECT_EQ(loaded.operatorList, "||A1||C3||");
}

struct MultiplierCase {
    const char* text;
    int multiplier;
    bool reported;
};

TEST_F(SettingsTest, AnUnusableMultiplierIsReportedOnceAndTheJobRunsAs1x) {
    for (const MultiplierCase& c :
         {MultiplierCase{"", 1, false}, MultiplierCase{"1x", 1, false},
          MultiplierCase{"3x", 3, false}, MultiplierCase{"abc", 1, true},
          MultiplierCase{"0x", 1, true}, MultiplierCase{"-2x", 1, true}}) {
        SCOPED_TRACE(c.text);
        load(std::string("[PARAMETRI]\nDirRemota_4=/in\nDirmoltiplicatore_4=") + c.text + "\n");
        EXPECT_EQ(settings.jobTable[4].codes.multiplier, c.multiplier);
        EXPECT_EQ(logged("Moltiplicatore non valido per il job 4: '" + std::string(c.text) +
                         "', il job gira come 1x"),
                  c.reported ? 1 : 0);
    }
}

// A folder where the file should be: the load says so instead of running with nothing, the save
// reports every key and writes nothing, and a file that is simply missing is no error.
TEST_F(SettingsTest, AFolderInPlaceOfTheFileIsReportedAndNeverWritten) {
    const std::string path = settings.settingsPath().string();
    std::filesystem::create_directory(path);
    settings.leggi_ini();
    EXPECT_TRUE(settings.readFailed);
    const std::string unreadable = "Impossibile leggere il file dei parametri " + path +
                                   ": Is a directory; nessun job sara' eseguito";
    EXPECT_EQ(logged(unreadable), 1);

    settings.scrivi_ini();
    EXPECT_EQ(logged("16/10/2009 12:00:05 Errore in scrittura nel file " + path), 425);
    EXPECT_EQ(logged(unreadable), 2);  // the reload after the save
    EXPECT_TRUE(std::filesystem::is_directory(path));

    std::filesystem::remove(path);
    settings.leggi_ini();
    EXPECT_FALSE(settings.readFailed);
    EXPECT_EQ(settings.listdir.size(), 51u);
}

}  // namespace
}  // namespace vs
