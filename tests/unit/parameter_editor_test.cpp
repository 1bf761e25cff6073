#include "settings/parameter_editor.h"

#include <gtest/gtest.h>

#include "activitylog/activity_log.h"
#include "settings/settings.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace vs {
namespace {

using test::TempDir;

struct FakeSchedule final : ScheduleSwitches {
    void setTimerEnabled(bool e) override { timer = e; }
    void setButtonEnabled(bool e) override { button = e; }
    std::string buttonCaption() const override { return caption; }
    bool timer = true, button = false;
    std::string caption = "Avvia il download";
};

struct EditorTest : ::testing::Test {
    TempDir dir;
    test::FakeClock clock;
    ActivityLog log{clock, dir.path(), englishWeekdayNames()};
    Settings settings{log, clock};
    FakeSchedule schedule;
    ParameterEditor editor{settings, log, clock, schedule};
    void SetUp() override {
        test::writeFile(dir / "s.ini",
                        "[PARAMETRI]\nDirRemota_7=/in\nTipoFile_7=AUTOMAIL\nDirRemota_12=/out\n");
        settings.setSettingsPath(dir / "s.ini");
        settings.leggi_ini();
    }
    PasswordPrompt answer(std::optional<std::string> a) {
        return [a](const std::string&, const std::string&) { return a; };
    }
};

TEST_F(EditorTest, EditsGoToTheJobTheSelectedRowNames) {
    EXPECT_EQ(editor.validate(JobControl::Txtdirremota, "/x"), "/x");  // no row: nothing stored
    EXPECT_EQ(settings.jobTable[0].DirRemota, "");
    settings.listdir[3] = "07) /in";  // the row's own number counts, not its place
    EXPECT_EQ(editor.listdir_Click(3)->at(2), "AUTOMAIL");
    EXPECT_EQ(editor.validate(JobControl::Txtdirremota, "/in/new "), "/in/new ");
    EXPECT_EQ(settings.jobTable[7].DirRemota, "/in/new ");
    EXPECT_EQ(settings.listdir[7], "07) /in/new ");
    for (const char* refused : {"tutti", "PDFREPORT ", ""}) {
        EXPECT_EQ(editor.validate(JobControl::cbofile, refused), "");
        EXPECT_EQ(settings.jobTable[7].TipoFile, "AUTOMAIL");
    }
    editor.validate(JobControl::cbofile, "PDFREPORT");
    editor.validate(JobControl::cbomoltiplicatore, "4x");
    EXPECT_EQ(settings.jobTable[7].codes.fileType, FileType::PdfReport);
    EXPECT_EQ(settings.jobTable[7].codes.multiplier, 4);
}

TEST_F(EditorTest, OnlyThePasswordUnlocksAndTheLockSavesAndResumesTheSchedule) {
    for (const char* caption : {"Avvia il download", "Arresta il download"}) {
        SCOPED_TRACE(caption);
        schedule.timer = true;
        schedule.caption = caption;
        const std::size_t before = log.size();
        for (const auto& wrong : {std::optional<std::string>("Lucore"),
                                  std::optional<std::string>(), std::optional<std::string>("")})
            editor.mnuSblocca_Click(answer(wrong));
        EXPECT_EQ(log.size(), before);  // refused in silence
        editor.mnuSblocca_Click(answer("lucore"));
        EXPECT_TRUE(editor.unlocked());
        EXPECT_FALSE(schedule.timer);
        EXPECT_FALSE(schedule.button);
        EXPECT_EQ(log.List1().back(), "12:00:05 Timer disabilitato ");

        editor.listdir_Click(12);
        editor.validate(JobControl::txtdirlocalebackup, "/bak12");
        editor.mnuSblocca_Click(nullptr);
        EXPECT_EQ(editor.mnuSblocca(), "Sblocca Parametri");
        EXPECT_FALSE(editor.selectedRow());
        EXPECT_TRUE(schedule.button);
        const bool resumed = std::string(caption) == "Arresta il download";
        EXPECT_EQ(schedule.timer, resumed);
        EXPECT_EQ(log.size(), before + (resumed ? 2 : 1));
        EXPECT_EQ(leggi_chiave_ini("PARAMETRI", "DirLocaleBackup_12", "", dir / "s.ini"), "/bak12");
    }
    EXPECT_EQ(log.List1().back(), "12:00:05 Timer abilitato ");
}

}  // namespace
}  // namespace vs
