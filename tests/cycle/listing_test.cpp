#include <gtest/gtest.h>

#include "cycle/sftp_listing.h"
#include "cycle_rig.h"

namespace vs {
namespace {

struct SftpListingFixture : ::testing::Test {
    std::string type = "TUTTI";
    std::string op = "TUTTI";
    std::string list;
    NameFilters filters;
    ListingTable table;
    bool flag = false;
    std::vector<std::string> logged;
    SftpListingContext ctx{type,    op,    list,
                           filters, table, flag,
                           "stamp", false, [this](const std::string& s) { logged.push_back(s); }};

    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (size_t i = 0; i < table.count(); ++i) out.push_back(table[i].name);
        return out;
    }
};

TEST(ListingLineName, NinthFieldOnwardWithInnerBlanks) {
    EXPECT_EQ(listingLineName("-rw-r--r-- 1 u g 12 Oct 16 14:30 my  file.txt"), "my  file.txt");
    EXPECT_EQ(listingLineName("-rw-r--r--   1  u  g   12 Oct 16  2008 x"), "x");
    EXPECT_EQ(listingLineName("-rw 1 u g"), "g");  // fewer fields: the last one
    EXPECT_EQ(listingLineName("  single  "), "single");
}

TEST_F(SftpListingFixture, TuttiNeedsTheControlFileAndNeverListsIt) {
    sftp1_ListItems(test::listingLine("a.txt", 1) + "\r\n" + test::listingLine("scarica_ok", 0) +
                        "\r\n" + test::listingLine("sub", 0, true) + "\r\n" +
                        test::listingLine(".", 0) + "\r\n" + test::listingLine("b.txt", 2) +
                        "\r\ntrailing text without an end",
                    ctx);
    finishSftpListing(ctx);
    EXPECT_EQ(names(), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_TRUE(flag);
    EXPECT_TRUE(logged.empty());
}

TEST_F(SftpListingFixture, WithoutTheControlFileTheTableEndsEmpty) {
    sftp1_ListItems(test::listingLine("a.txt", 1) + "\r\n", ctx);
    sftp1_ListItems(test::listingLine("b.txt", 1) + "\r\n", ctx);
    finishSftpListing(ctx);
    EXPECT_EQ(table.count(), 0u);
    EXPECT_EQ(logged, std::vector<std::string>{
                          " Non posso scaricare i file (manca il file di controllo) "});
}

TEST_F(SftpListingFixture, ControlFileInALaterBatchKeepsEarlierFiles) {
    sftp1_ListItems(test::listingLine("a.txt", 1) + "\r\n", ctx);
    sftp1_ListItems(test::listingLine("scarica_ok", 0) + "\r\n", ctx);
    finishSftpListing(ctx);
    EXPECT_EQ(names(), std::vector<std::string>{"a.txt"});
}

TEST_F(SftpListingFixture, FiltersAndUnsafeNames) {
    type = "PDFREPORT";
    op = "OP1";
    filters.prefix = "abc";
    std::string text;
    for (const char* n :
         {"ABCDEFOP1.pdf", "XBCDEFOP1.pdf", "ABCDEFOP2.pdf", "ABCDEFOP1.pdf/", "../ABCDEFOP1.pdf"})
        text += test::listingLine(n, 1) + "\r\n";
    sftp1_ListItems(text, ctx);
    finishSftpListing(ctx);
    EXPECT_EQ(names(), (std::vector<std::string>{"ABCDEFOP1.pdf", "ABCDEFOP1.pdf"}));
}

TEST_F(SftpListingFixture, AFullTableStopsAddingAndSaysSoOnce) {
    std::string text;
    for (size_t i = 0; i < ListingTable::kRows + 5; ++i)
        text += test::listingLine("f" + std::to_string(i), 1) + "\r\n";
    text += test::listingLine("scarica_ok", 0) + "\r\n";
    sftp1_ListItems(text, ctx);
    finishSftpListing(ctx);
    EXPECT_EQ(table.count(), ListingTable::kRows);
    EXPECT_TRUE(flag);  // the control file is still seen past the end of the table
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_NE(logged[0].find("prossimo ciclo"), std::string::npos);
}

// The FTP listing of a download job, through the session and a fake control.
struct FtpListingFixture : ::testing::Test {
    test::CycleRig rig{"Ftp"};
    std::string fileType = "AUTOMAIL";
    FtpListingContext ctx{rig.state.listing, rig.state.List2, fileType, rig.operatorCode,
                          rig.settings.operatorList};
    void list(const std::string& raw) {
        rig.remote.folders.insert("/in/");
        rig.ftpControl.rawListing = raw;
        rig.ftp.listftpprova("/in/", ctx);
    }
    std::vector<std::string> rows() const {
        std::vector<std::string> out;
        for (size_t i = 0; i < rig.state.listing.count(); ++i) {
            const auto& r = rig.state.listing[i];
            out.push_back(r.name + "|" + r.key + "|" + r.size);
        }
        return out;
    }
};

TEST_F(FtpListingFixture, AutomailDotTFileBringsThreeCompanionsFirst) {
    rig.settings.operatorList = "||OP||";
    list("-rw-r--r-- 1 ftp ftp 1234 Oct 16 14:30 OP.A1B2C3.t");
    EXPECT_EQ(rows(), (std::vector<std::string>{
                          "OP.A1B2C3.H|A1B2C3.t_143001|9999", "OP.A1B2C3.0|A1B2C3.t_143001|9999",
                          "OP.A1B2C3.B|A1B2C3.t_143001|9999", "OP.A1B2C3.t|A1B2C3.t_143001|1234"}));
    EXPECT_EQ(rig.operatorCode, "SELETTIVO");
    EXPECT_TRUE(rig.logged(" OP.A1B2C3.t"));
    EXPECT_TRUE(rig.logged(" Listftpprova  Elenco Ottenuto "));
}

TEST_F(FtpListingFixture, AutomailStopsAtTwoHundredRows) {
    std::string raw;
    for (int i = 0; i < 60; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "A%02d.ABCDEF.t", i);
        raw +=
            std::string(raw.empty() ? "" : "\r\n") + "-rw-r--r-- 1 ftp ftp 10 Oct 16 14:30 " + name;
    }
    list(raw);
    EXPECT_EQ(rig.state.listing.count(), 200u);
    EXPECT_TRUE(rig.logged(" Listftpprova  Scarico i primi 50"));
    EXPECT_EQ(rig.lines().back(), " Listftpprova  Elenco Ottenuto ");
    EXPECT_EQ(rig.operatorCode, "TUTTI");  // an empty operator list changes nothing
}

TEST_F(FtpListingFixture, TuttiHasNoRowLimitAndSkipsFolders) {
    fileType = "TUTTI";
    std::string raw = "drwxr-xr-x 2 ftp ftp 4096 Oct 16 14:30 sub";
    for (int i = 0; i < 300; ++i)
        raw += "\r\n-rw-r--r-- 1 ftp ftp 7 Oct 16 09:05 f" + std::to_string(i) + ".txt";
    raw += "\r\n";
    list(raw);
    EXPECT_EQ(rig.state.listing.count(), 300u);
    EXPECT_EQ(rig.state.listing[0].key, "00000001_090501");
    EXPECT_EQ(rig.lines()[rig.lines().size() - 2], " ");  // the empty last line is logged too
}

TEST_F(FtpListingFixture, KeysAlwaysHaveFifteenCharactersAndBadNamesStayOut) {
    fileType = "PDFREPORT";
    list(
        "-rw-r--r-- 1 ftp ftp 5 Oct 16 14:30 ABCDEFOP1.pdf\r\n"
        "-rw-r--r-- 1 ftp ftp 5 Oct 16 14:30 ABCDEFOP1.pdf_XYZ\r\n"
        "-rw-r--r-- 1 ftp ftp 5 Oct 16 14:30 ..\r\n"
        "-rw-r--r-- 1 ftp ftp 5 Oct 16 14:30 ABCDEFOP1.pdf\\..\\x");
    ASSERT_EQ(rig.state.listing.count(), 2u);
    EXPECT_EQ(rig.state.listing[0].key, "00000_143001   ");
    EXPECT_EQ(rig.state.listing[1].key, "XYZ00000_143001");
}

TEST_F(FtpListingFixture, MissingFolderRaisesTheConnectFailedFlag) {
    rig.ftp.listftpprova("/nowhere/", ctx);
    EXPECT_TRUE(rig.session.connectFailed);
    EXPECT_TRUE(rig.logged(" 550 /nowhere/: No such file or directory."));
}

}  // namespace
}  // namespace vs
