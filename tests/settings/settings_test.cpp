#include "settings/settings.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <map>

#include "activitylog/activity_log.h"
#include "common/runtime_error.h"
#include "settings/parameter_editor.h"
#include "settings/profile_file.h"
#include "settings/settings_keys.h"
#include "support/fake_clock.h"
#include "support/servers.h"
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
    // The journal's switches are not the editor's: the save keeps them where they are.
    load(
        "[PARAMETRI]\r\nDirRemota_3=/x\r\nOperMail_01=X9\r\ntiposerver=sftp\r\n"
        "CancellaSenzaVerifica_3=SI\r\nSoloNuovi_7=SI\r\nSoloNuovi_8=si\r\nmantienidata=SI\r\n");
    ASSERT_EQ(settings.listdir.size(), 51u);
    EXPECT_EQ(settings.operatorList, "");              // a padded key is never read; no lone "||"
    EXPECT_EQ(settings.server.cbotiposerver, "sftp");  // kept as written, and reported
    EXPECT_EQ(settings.serverType, ServerType::Unknown);

    EXPECT_TRUE(settings.deleteUnverified[3] && !settings.deleteUnverified[4]);
    EXPECT_TRUE(settings.soloNuovi[7] && settings.mantieniData);
    EXPECT_FALSE(settings.soloNuovi[8]);  // only "SI", with case, like every switch here

    settings.scrivi_ini();
    const std::string saved = readFile(settings.settingsPath());
    // And the padded one, the job's consent to deleting without verification, the journal's.
    EXPECT_EQ(std::count(saved.begin(), saved.end(), '='), 425 + 5);
    EXPECT_NE(saved.find("SoloNuovi_7=SI\r\n"), std::string::npos);
    EXPECT_NE(saved.find("Dirparametri_50=\r\n"), std::string::npos);
    EXPECT_NE(saved.find("OperMail_11=\r\n"), std::string::npos);
    EXPECT_EQ(settings.listdir.size(), 51u);
    EXPECT_TRUE(settings.deleteUnverified[3] && settings.soloNuovi[7] && settings.mantieniData);
}

TEST_F(SettingsTest, SaveAndLoadKeepEveryFieldAsTyped) {
    settings.server = {"myhost:822", "\"user\"", " p w ", "15", "Ftp"};
    const TransferJob job{
        "/in", "/tmp/loc", "TUTTI", "SI", "Download", "/bak", "2x", "INIZIA:FT;FINISCE:.txt;", {}};
    settings.jobTable[7] = job;
    settings.txt_oper_mail = {"A1", "", "B 2", "C3", "D.4", "", "", "", "", "", "", " E5"};
    settings.scrivi_ini();

    Settings loaded(log, clock);
    loaded.setSettingsPath(settings.settingsPath());
    loaded.leggi_ini();
    EXPECT_EQ(loaded.server.txtHost, "myhost:822");
    EXPECT_EQ(loaded.server.txtLogin, "\"user\"");  // quotes kept, not read as quoting
    EXPECT_EQ(loaded.server.txtPwd, " p w ");
    EXPECT_EQ(loaded.server.cbotime, "15");
    EXPECT_EQ(loaded.serverType, ServerType::Ftp);
    for (int f = 0; f < 8; ++f) EXPECT_EQ(jobField(loaded.jobTable[7], f), jobField(job, f));
    EXPECT_EQ(loaded.listdir[7], "07) /in");
    EXPECT_EQ(loaded.txt_oper_mail, settings.txt_oper_mail);  // all saved, counted or not
    EXPECT_EQ(loaded.operatorList, "||A1||C3||");
}

// Every number the operator types: read as written, or reported once and run with its default.
TEST_F(SettingsTest, AnUnusableNumberIsReportedAndItsDefaultUsed) {
    const std::map<std::string, std::function<long(const Settings&)>> used{
        {"Dirmoltiplicatore_4", [](const Settings& s) { return s.jobTable[4].codes.multiplier; }},
        {"attesastabile", [](const Settings& s) { return s.settleSeconds; }},
        {"journaldays", [](const Settings& s) { return s.journalDays; }},
        {"limitebanda", [](const Settings& s) { return static_cast<long>(s.limitebanda); }},
        {"pausafile", [](const Settings& s) { return static_cast<long>(s.pausafile.count()); }}};
    // The key, its text, the value used, whether the text is reported.
    // clang-format off
    const std::tuple<const char*, const char*, long, bool> rows[] = {
        {"Dirmoltiplicatore_4", "", 1, false}, {"Dirmoltiplicatore_4", "3x", 3, false},
        {"Dirmoltiplicatore_4", "+4x", 4, false}, {"Dirmoltiplicatore_4", "abc", 1, true},
        {"Dirmoltiplicatore_4", "0x", 1, true}, {"attesastabile", "", 5, false},
        {"attesastabile", "0", 0, false}, {"attesastabile", "5s", 5, true},
        {"journaldays", "", 365, false}, {"journaldays", "100000", 100000, false},
        {"journaldays", "0", 365, true}, {"journaldays", "100001", 365, true},
        {"journaldays", "030", 365, true}, {"journaldays", "12abc", 365, true},
        {"limitebanda", "", 0, false}, {"limitebanda", " 512 ", 512, false},
        {"limitebanda", "60001", 60001, false}, {"limitebanda", "-1", 0, true},
        {"limitebanda", "2.5", 0, true}, {"pausafile", "", 100, false},
        {"pausafile", "0", 0, false}, {"pausafile", "60001", 100, true}};
    // clang-format on
    for (const auto& [key, text, value, reported] : rows) {
        SCOPED_TRACE(std::string(key) + "=" + text);
        load(std::string("[PARAMETRI]\nDirRemota_4=/in\n") + key + "=" + text + "\n");
        EXPECT_EQ(used.at(key)(settings), value);
        EXPECT_EQ(std::ranges::count(settings.problems, std::string(key), &SettingsProblem::key),
                  reported ? 1 : 0);
    }
}

// The reference of the settings is the README's section, the manual page and the annotated
// example: each lists every key the reader accepts, and the example loads as it says.
TEST_F(SettingsTest, TheReferenceListsEveryKeyTheReaderAccepts) {
    const std::string source = VS_SOURCE_DIR;
    const std::string readme = readFile(source + "/README.md");
    const auto from = readme.find("\n## Settings reference");
    ASSERT_NE(from, std::string::npos);
    const std::string section = readme.substr(from, readme.find("\n## ", from + 1) - from);
    const std::string manual = readFile(source + "/packaging/valtrassosftp.1");
    const std::string example = readFile(source + "/packaging/valtrassosftp.ini");
    for (const KnownKey& k : kKnownKeys) {
        const std::string name = std::string(k.name) + (k.count ? "N" : "");
        EXPECT_NE(section.find("`" + name + "`"), std::string::npos) << "README: " << name;
        EXPECT_NE(manual.find(".B " + name + "\n"), std::string::npos) << "manual: " << name;
        EXPECT_NE(example.find(k.name), std::string::npos) << "example: " << name;
    }
    load(example);
    EXPECT_EQ(settings.usableJobs, (std::vector<int>{0, 1, 2}));
    for (const SettingsProblem& p : settings.problems)  // its folders are not on this machine
        EXPECT_TRUE(p.what.ends_with("non esiste")) << problemLine(p);
}

// A folder where the file should be: the load says so instead of running with nothing, and the
// save reports every key and writes nothing.
TEST_F(SettingsTest, AFolderInPlaceOfTheFileIsReportedAndNeverWritten) {
    const std::string path = settings.settingsPath().string();
    std::filesystem::create_directory(path);
    const std::string unreadable = "Parametri: Impossibile leggere il file dei parametri " + path +
                                   ": Is a directory; nessun job sara' eseguito";
    for (int load = 0; load < 2; ++load) {  // at start-up, and the reload after the save
        if (load == 0)
            settings.leggi_ini();
        else
            settings.scrivi_ini();
        EXPECT_EQ(settings.unusable, "file dei parametri illeggibile");
        ASSERT_EQ(settings.problems.size(), 1u);
        EXPECT_EQ(problemLine(settings.problems[0]), unreadable);
    }
    EXPECT_EQ(logged("16/10/2009 12:00:05 Errore in scrittura nel file " + path), 425);
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST(ProfileRead, GivesTheKeysValueOrTheDefault) {
    using std::string;
    for (const auto& [content, key, expected] : {
             std::tuple<string, const char*, string>{"", "host", "dflt"},  // dflt: not found
             {"[ALTRO]\nhost=x\n[PARAMETRI]\nlogin=y\n", "host", "dflt"},
             {"; c\r\n[parametri]\r\nHOST = srv:822 \r\n", "host", "srv:822"},
             {"[PARAMETRI]\npwd=\"  sp \"\n", "pwd", "  sp "},
             {"[PARAMETRI]\r\nTipo\xe8=\xe0\r\n", "Tipo\xe8", "\xe0"},
             {"[PARAMETRI]\nhost=a\nhost=b\n", "host", "a"},
             {"\xEF\xBB\xBF[PARAMETRI]\r\nhost=h\r\n", "host", "h"},
             {"[PARAMETRI]\nk=" + string(1500, 'z'), "k", string(1023, 'z')},
         })
        EXPECT_EQ(ProfileText(content).read("PARAMETRI", key, "dflt"), expected)
            << content.substr(0, 40);
}

TEST(ProfileWrite, ReplacesInPlaceKeepsEverythingElseAndHidesThePassword) {
    TempDir dir;
    const auto path = dir / "s.ini";
    writeFile(path,
              "\xEF\xBB\xBF; keep me\r\n[PARAMETRI]\r\nhost=old\r\nunknown=1\r\n\r\n"
              "[OTHER]\r\nx=y\r\n");
    writeProfileString("PARAMETRI", "HOST", "new", path);
    writeProfileString("PARAMETRI", "login", " padded ", path);
    writeProfileString("NEW", "k", "v", path);
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
    EXPECT_THROW(batch.commit(), RuntimeError);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(test::filesBelow(dir.path()), std::vector<std::string>{"valtrassosftp.ini"});
}

struct FakeSchedule final : ScheduleSwitches {
    void setTimerEnabled(bool e) override { timer = e; }
    void setButtonEnabled(bool e) override { button = e; }
    std::string buttonCaption() const override { return caption; }
    bool timer = true, button = false;
    std::string caption = "Avvia il download";
};

struct EditorTest : SettingsTest {
    FakeSchedule schedule;
    ParameterEditor editor{settings, log, clock, schedule};
    void SetUp() override {
        SettingsTest::SetUp();
        load("[PARAMETRI]\nDirRemota_7=/in\nTipoFile_7=AUTOMAIL\nDirRemota_12=/out\n");
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
    EXPECT_EQ(editor.validate(JobControl::Txtdirremota, "/in/new "), "/in/new ");  // as typed
    EXPECT_EQ(settings.listdir[7], "07) /in/new ");  // the window's test types into the fields
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
        EXPECT_EQ(leggi_chiave_ini("PARAMETRI", "DirLocaleBackup_12", "", settings.settingsPath()),
                  "/bak12");
    }
    EXPECT_EQ(log.List1().back(), "12:00:05 Timer abilitato ");
}

}  // namespace

}  // namespace vs
