// The real program given what an administrator gets wrong: settings files as a new
// administrator writes them, a mistyped mode, and the dry run against the test servers.
#include <gtest/gtest.h>

#include "support/servers.h"

namespace vs::test {
namespace {

namespace fs = std::filesystem;

// A settings file and what the real program must make of it (--check and a one-cycle run).
struct BadSettings {
    const char* name;
    int checkExit;        // valtrassosftp --check
    int aspExit;          // valtrassosftp mod:asp
    const char* outcome;  // the metrics' outcome after that run
    // The file; "@DIR@" stands for an existing empty folder. No file at all when null.
    const char* ini;
    // Lines the start-up and --check must write ("@DIR@" and "@INI@", the file, replaced).
    std::vector<std::string> lines;
};

// An upload job whose folder is empty: a usable job with nothing to do, no connection needed.
#define VS_UPLOAD_JOB                                                           \
    "DirRemota_0=/in\nDirLocale_0=@DIR@\nTipoFile_0=TUTTI\nCancelloFile_0=NO\n" \
    "TipoOperazione_0=Upload\n"
#define VS_SERVER "[PARAMETRI]\nhost=127.0.0.1:1\nlogin=u\npwd=p\ndeltatime=15\ntiposerver=Sftp\n"

// One case per block, its expectations on its first line.
// clang-format off
inline const std::vector<BadSettings> kBadSettings = {
    {"NoFile", 2, 2, "config_invalid",
     nullptr,
     {"Parametri: nessun file dei parametri, cercato in @INI@",
      "Parametri non utilizzabili: nessun file dei parametri; nessun ciclo sara' eseguito "
      "(valtrassosftp --check)"}},
    {"OperationInLowerCase", 2, 2, "config_invalid",
     VS_SERVER "DirRemota_0=/out\nDirLocale_0=@DIR@\nTipoFile_0=TUTTI\nCancelloFile_0=NO\n"
               "TipoOperazione_0=download\n",
     {"Parametri, TipoOperazione_0: 'download' non valido, deve essere Download o Upload; job 0 "
      "escluso",
      "Parametri non utilizzabili: nessun job utilizzabile; nessun ciclo sara' eseguito "
      "(valtrassosftp --check)"}},
    {"MissingDeleteAndMisspeltKey", 2, 2, "config_invalid",
     VS_SERVER "DirRemota_0=/out\nDirLocal_0=@DIR@\nTipoFile_0=TUTTI\nTipoOperazione_0=Download\n"
               "DirRemota_51=/x\n",
     {"Parametri, DirLocal_0: chiave sconosciuta (forse DirLocale_0?); ignorata",
      "Parametri, DirRemota_51: numero oltre 50 (si va da 0 a 50); ignorata",
      "Parametri, DirLocale_0: mancante; job 0 escluso",
      "Parametri, CancelloFile_0: mancante, deve essere SI o NO; job 0 escluso"}},
    {"FileTypeInLowerCase", 2, 2, "config_invalid",
     VS_SERVER "DirRemota_0=/out\nDirLocale_0=@DIR@\nTipoFile_0=tutti\nCancelloFile_0=NO\n"
               "TipoOperazione_0=Download\n",
     {"Parametri, TipoFile_0: 'tutti' non valido, deve essere TUTTI, AUTOMAIL o PDFREPORT; job "
      "0 escluso"}},
    {"MisspeltSectionAndServerType", 2, 2, "config_invalid",
     "[PARAMETR]\nhost=h\n[PARAMETRI]\ntiposerver=sftp\n" VS_UPLOAD_JOB,
     {"Parametri, tiposerver: 'sftp' sconosciuto, deve essere Sftp, Ftp, Ftps o FtpsImplicito; "
      "nessuna connessione",
      "Parametri: 1 chiavi nella sezione [PARAMETR]: le chiavi vanno nella sezione "
      "[PARAMETRI]; ignorate",
      "Parametri non utilizzabili: host mancante, tipo server sconosciuto; nessun ciclo sara' "
      "eseguito (valtrassosftp --check)"}},
    // Bent values: the job runs, and the lines say with what.
    {"BentValues", 0, 0, "nothing_to_do",
     VS_SERVER VS_UPLOAD_JOB
     "Dirmoltiplicatore_0=dx\nDirparametri_0=INIZIA:FT;VALSPED\nDirRemota_03=/x\n"
     "alertafter=0\nuploadtemp=si\nOperMail_2=B 2\nhost=other\nsome text\n",
     {"File dei parametri: @INI@",
      "Job 0: Upload da @DIR@ a /in, tipo TUTTI, cancella NO, moltiplicatore dx (ogni ciclo), "
      "filtri inizia 'FT', VALSPED (solo .T con i file collegati), backup nessuno",
      "Parametri, DirRemota_03: numero scritto con zeri davanti, mai letto (forse "
      "DirRemota_3?); ignorata",
      "Parametri, host: ripetuta alla riga 18; vale la prima, alla riga 2",
      "Parametri: 1 righe che non sono chiave=valore, commento o sezione, la prima alla riga "
      "19: "
      "'some text'; ignorate",
      "Parametri, uploadtemp: 'si' non valido, deve essere SI o NO; uso NO",
      "Parametri, alertafter: '0' non valido, deve essere un numero da 1 a 1000000; uso 3",
      "Parametri, Dirmoltiplicatore_0: 'dx' non valido, deve essere un numero seguito da x (1x, "
      "2x, 10x ...); uso 1x",
      "Parametri, OperMail_2: 'B 2' contiene uno spazio o un punto; ignorato"}},
    {"MissingFolder", 0, 1, "errors",
     "[PARAMETRI]\nhost=h\ndeltatime=300\nDirRemota_0=/in\nDirLocale_0=@DIR@/gone\n"
     "TipoFile_0=X\nCancelloFile_0=NO\nTipoOperazione_0=Upload\n",
     {"Parametri, deltatime: '300' non valido, deve essere un numero di secondi da 1 a 60; uso "
      "30",
      "Parametri, DirLocale_0: la cartella '@DIR@/gone' non esiste; il job sara' in errore a "
      "ogni ciclo"}},
};
// clang-format on

#undef VS_UPLOAD_JOB
#undef VS_SERVER

// How often `line` is a whole line of `output`.
int lines(const std::string& output, const std::string& line) {
    return occurrences("\n" + output, "\n" + line + "\n");
}

TEST(BadSettings, CheckAndAspSayWhatWasUnderstoodAndExitAsTheTableSays) {
    TempDir dir;
    const std::string folder = (dir / "folder").string();
    fs::create_directory(folder);
    for (const BadSettings& c : kBadSettings) {
        SCOPED_TRACE(c.name);
        const fs::path home = dir / c.name, ini = dir / (std::string(c.name) + ".ini");
        fs::create_directory(home);
        if (c.ini) writeFile(ini, replaceAll(c.ini, "@DIR@", folder));
        const std::vector<std::string> env = {"VALTRASSOSFTP_SETTINGS=" + ini.string()};
        const ProgramRun check = runProgram(home, {"--check"}, 30, env);
        EXPECT_EQ(check.exitCode, c.checkExit) << check.output;
        EXPECT_TRUE(filesBelow(home).empty());  // a check changes nothing
        const ProgramRun asp = runProgram(home, {"mod:asp"}, 30, env);
        EXPECT_EQ(asp.exitCode, c.aspExit) << asp.output;
        for (const std::string& line : c.lines) {
            const std::string expected =
                replaceAll(replaceAll(line, "@DIR@", folder), "@INI@", ini.string());
            EXPECT_EQ(lines(check.output, expected), 1) << expected << "\n" << check.output;
            EXPECT_EQ(lines(asp.output, expected), 1) << expected;
        }
        EXPECT_NE(readFile(home / "valtrassosftp.prom")
                      .find("outcome=\"" + std::string(c.outcome) + "\"} 1"),
                  std::string::npos);
    }
    // A mistyped mode leaves nothing that could ever start a cycle: the run ends at once.
    EXPECT_EQ(runProgram(dir.path(), {"mod:aps"}, 10).exitCode, 2);
}

// --check --connect logs in, lists, says what a cycle would move, and moves nothing. (It lists
// through the same remote folder calls over every kind of server, tests/remote.)
TEST(DryRun, SaysWhatACycleWouldMoveAndMovesNothing) {
    TestServer server(TestServer::Kind::Sftp);
    ASSERT_TRUE(server.ok());
    TempDir dir;
    for (const char* name : {"a.txt", "b.txt", "scarica_ok"})
        writeFile(server.local("out") / name, name);
    server.local("in");
    writeFile(dir / "up" / "c.txt", "c");
    fs::create_directories(dir / "in");
    const fs::path home = dir / "home";
    writeSettings(home, loginTo(server),
                  {{"/out", (dir / "in").string(), "TUTTI", "SI"},
                   {"/in", (dir / "up").string(), "TUTTI", "SI", "Upload"}});
    ProgramRun run = runProgram(home, {"--check", "--connect"}, 60);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find(" Prova job 0: 2 file da scaricare da /out/: a.txt, b.txt (poi "
                              "cancellati dal server)\n"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find(" Prova job 1: 1 file da inviare in /in/: c.txt (poi cancellati da " +
                              (dir / "up").string() + ")\n"),
              std::string::npos);
    EXPECT_EQ(filesBelow(server.root()),
              (std::vector<std::string>{"out/a.txt", "out/b.txt", "out/scarica_ok"}));
    EXPECT_EQ(filesBelow(dir / "up"), std::vector<std::string>{"c.txt"});
    EXPECT_TRUE(filesBelow(dir / "in").empty());
    EXPECT_FALSE(fs::exists(home / "log"));
    EXPECT_FALSE(fs::exists(home / "journal.db"));  // nor the journal, not even opened

    // A folder the server does not have, and a server nobody runs: exit code 1.
    writeSettings(home, loginTo(server), {{"/gone", (dir / "in").string()}});
    run = runProgram(home, {"--check", "--connect"}, 60);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find(" Prova job 0: prova non riuscita: "), std::string::npos)
        << run.output;
    server.stop();
    EXPECT_EQ(runProgram(home, {"--check", "--connect"}, 60).exitCode, 1);
}

}  // namespace
}  // namespace vs::test
