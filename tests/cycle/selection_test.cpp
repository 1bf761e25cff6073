// The rules that choose files: name filters, folder pattern, file types, and the listing reader
// under the rules of each kind of server.
#include <gtest/gtest.h>

#include "common/wildcard.h"
#include "cycle/listing.h"
#include "cycle/selection_rules.h"

namespace vs {
namespace {

TEST(Selection, FilterParseNameTestAndFolderPattern) {
    const struct {
        const char* text;
        NameFilters f;
        const char* pattern;
    } parses[] = {
        {"INIZIA:FT;FINISCE:.txt;", {"FT", "", ".txt"}, "FT*.txt"},
        {"INIZIA:ab", {"ab", "", ""}, "*"},  // the missing ";" is supplied
        {"INIZIA:", {}, "*.*"},              // seven characters: no filter
        {"inizia:Ab;contiene:X Y;finisce:.PDF", {"Ab", "X Y", ".PDF"}, "Ab*X Y*.PDF"},
        {"VALSPED;FINISCE:;", {}, "*.*"},  // a keyword followed by ";" stays off
        {"CONTIENE:mid;INIZIA:pre;", {"pre", "mid", ""}, "*"},
        {"CONTIENE:mid;FINISCE:.t", {"", "mid", ".t"}, "*.t"},
        {"FINISCE:.t", {"", "", ".t"}, "*.t"},
    };
    for (const auto& c : parses) {
        const NameFilters f = parseNameFilters(c.text);
        EXPECT_EQ(f.prefix + "|" + f.contains + "|" + f.suffix,
                  c.f.prefix + "|" + c.f.contains + "|" + c.f.suffix)
            << c.text;
        EXPECT_EQ(folderPattern(f, "*.*"), c.pattern) << c.text;
    }
    EXPECT_TRUE(nameTest({"ab", "", ""}, "ABC.TXT"));
    EXPECT_TRUE(nameTest({"", "", ".T"}, "x.t"));
    EXPECT_FALSE(nameTest({"abc", "", ""}, "ab"));
    EXPECT_TRUE(nameTest({"ft", "2009", ".txt"}, "FT_20091016.TXT"));
    EXPECT_FALSE(nameTest({"ft", "2010", ".txt"}, "FT_20091016.TXT"));
    EXPECT_FALSE(nameTest({"", "", ".txt"}, "a.txt.gz"));
    EXPECT_TRUE(wildcardMatch("P*C*S", "pxxcyys"));
    EXPECT_FALSE(wildcardMatch("P*C*S", "pxxcyy"));
    EXPECT_TRUE(wildcardMatch("[x]?", "[X]f"));  // brackets are plain characters
}

TEST(Selection, FileTypes) {
    using enum FileType;
    const struct {
        const char* name;
        FileType type;
        const char* op;
        const char* list;
        bool accepted;
    } cases[] = {
        {"ABCDEFOP1.pdf", PdfReport, "OP1", "", true},
        {"ABCDEFOP2.pdf", PdfReport, "OP1", "", false},
        {"ABCDEF.pdf", PdfReport, "OP1", "", false},  // ".pdf" at position 7, not beyond
        {"ABCDEFOP2.pdf", PdfReport, "TUTTI", "", true},
        {"ABCDEFOP1.pdf.gz", PdfReport, "OP1", "", true},
        {"ABCDEFOP1.pdf.zip", PdfReport, "OP1", "", false},
        {"ABCDEFop1.PDF", PdfReport, "OP1", "", false},  // the operator part counts case
        {"A1.123456.t", Automail, "TUTTI", "", true},
        {"ZZ.ABCDEF.1", Automail, "TUTTI", "", true},
        {"A1.12345.t", Automail, "TUTTI", "", false},
        {"A1.123456.txt", Automail, "TUTTI", "", false},
        {".123456.t", Automail, "TUTTI", "", false},
        {"A1.123456.h", Automail, "TUTTI", "||A1||", true},
        {"B2.123456.h", Automail, "TUTTI", "||A1||", false},
        {"SELETTIVO.123456.b", Automail, "TUTTI", "||A1||", true},
        {"anything", Tutti, "TUTTI", "", true},
        {"anything", Other, "TUTTI", "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(acceptFileType(c.name, true, c.type, c.op, c.list), c.accepted) << c.name;
    EXPECT_FALSE(acceptFileType("folder", false, Tutti, "TUTTI", ""));
}

RemoteEntry entry(const std::string& name, RemoteEntry::Kind kind = RemoteEntry::Kind::File) {
    return {name, kind, 5, ListedTime{0, 10, 16, 9, 5}};
}
RemoteListing listing(const std::vector<std::string>& names) {
    RemoteListing l;
    for (const std::string& name : names) l.entries.push_back(entry(name));
    return l;
}

struct Listed {
    std::vector<std::string> rows;  // name, or name=key when keys are checked
    std::vector<std::string> log;
    std::string operatorCode = "TUTTI";
};

Listed admit(const ListingPolicy& policy, const RemoteListing& listing, FileType type,
             const std::string& list = "", NameFilters filters = {}, bool keys = false) {
    Listed out;
    ListingTable table;
    bool flag = false;
    ListingContext ctx{type,
                       out.operatorCode,
                       list,
                       filters,
                       table,
                       flag,
                       "/in/",
                       "stamp",
                       [&](const std::string& l) { out.log.push_back(l); }};
    admitListing(listing, policy, ctx);
    for (std::size_t i = 0; i < table.count(); ++i)
        out.rows.push_back(table[i].name + (keys ? "=" + table[i].key : ""));
    return out;
}

// Names that could leave a folder never get in, whatever the rules; the operator reads how
// many in one line, before anything else of the listing.
TEST(Listing, UnsafeNamesAreCountedInOneLineWhateverTheRules) {
    RemoteListing l = listing({"a/b", "..", "x\ny", std::string(256, 'n'), "back\\slash",
                               ".vs-0000000001-00000000.tmp", "", " two  words ", "scarica_ok"});
    l.unreadable = 2;
    const std::string line =
        " 9 voci della cartella remota /in/ escluse dall'elenco: nomi non "
        "utilizzabili (/, \\, caratteri di controllo, spazi iniziali o "
        "finali, troppo lunghi o riservati)";
    for (const ListingPolicy& policy : {kSftpListing, kFtpListing}) {
        const Listed got = admit(policy, l, FileType::Tutti);
        EXPECT_EQ(got.rows.front(), " two  words ");
        EXPECT_EQ(got.rows.size(), policy.controlFile ? 1u : 2u);
        ASSERT_FALSE(got.log.empty());
        EXPECT_EQ(got.log.front(), line);
    }
    EXPECT_EQ(admit(kSftpListing, listing({"..."}), FileType::Tutti).log.front(),
              " Non posso scaricare i file (manca il file di controllo) ");
}

TEST(Listing, EachFileRules) {
    using enum FileType;
    RemoteListing files = listing({"b.txt", "a.txt"});
    files.entries.push_back(entry("dir", RemoteEntry::Kind::Folder));
    files.entries.push_back(entry("link", RemoteEntry::Kind::Link));
    RemoteListing withControl = files;
    withControl.entries.push_back(entry("scarica_ok"));
    Listed l = admit(kSftpListing, withControl, Tutti);
    EXPECT_EQ(l.rows, (std::vector<std::string>{"b.txt", "a.txt"}));  // never the control file
    l = admit(kSftpListing, files, Tutti);
    EXPECT_TRUE(l.rows.empty());
    EXPECT_EQ(l.log, std::vector<std::string>{" Non posso scaricare i file (manca il file di "
                                              "controllo) "});
    l = admit(kSftpListing, listing({"ABCDEFOP1.pdf", "XBCDEFOP1.pdf"}), PdfReport, "",
              {"ab", "", ""});
    EXPECT_EQ(l.rows, std::vector<std::string>{"ABCDEFOP1.pdf"});
    std::vector<std::string> names;
    for (int i = 249; i >= 0; --i)
        names.push_back((i % 2 ? "a" : "A") + std::to_string(i + 100) + ".123456.t");
    l = admit(kSftpListing, listing(names), Automail);
    ASSERT_EQ(l.rows.size(), 200u);  // the first 200 by name, ignoring case
    EXPECT_EQ(l.rows.front(), "A100.123456.t");
    EXPECT_EQ(l.rows.back(), "a299.123456.t");
    names.clear();
    for (std::size_t i = 0; i <= ListingTable::kRows; ++i) names.push_back("f" + std::to_string(i));
    names.push_back("scarica_ok");
    l = admit(kSftpListing, listing(names), Tutti);
    EXPECT_EQ(l.rows.size(), ListingTable::kRows);
    EXPECT_EQ(l.log.size(), 1u);  // said once; the control file past the end still counts
}

TEST(Listing, DotTFileRules) {
    using enum FileType;
    Listed l = admit(kFtpListing, listing({"OP.A1B2C3.t"}), Automail, "||OP||", {}, true);
    EXPECT_EQ(l.rows, (std::vector<std::string>{
                          "OP.A1B2C3.H=A1B2C3.t_090501", "OP.A1B2C3.0=A1B2C3.t_090501",
                          "OP.A1B2C3.B=A1B2C3.t_090501", "OP.A1B2C3.t=A1B2C3.t_090501"}));
    EXPECT_EQ(l.operatorCode, "SELETTIVO");
    EXPECT_EQ(l.log, (std::vector<std::string>{" OP.A1B2C3.t", " Listftpprova  Elenco Ottenuto "}));

    std::vector<std::string> names;
    for (int i = 0; i < 60; ++i) names.push_back("B" + std::to_string(i) + ".123456.t");
    l = admit(kFtpListing, listing(names), Automail);
    EXPECT_EQ(l.rows.size(), 200u);
    EXPECT_EQ(l.log[l.log.size() - 2], " Listftpprova  Scarico i primi 50");
    EXPECT_EQ(l.operatorCode, "TUTTI");  // an empty operator list changes nothing

    RemoteListing many;
    many.entries.push_back(entry("sub", RemoteEntry::Kind::Folder));
    many.entries.push_back(entry("two  words.txt"));
    for (int i = 0; i < 300; ++i) many.entries.push_back(entry("f" + std::to_string(i)));
    l = admit(kFtpListing, many, Tutti, "", {}, true);
    EXPECT_EQ(l.rows.size(), 301u);  // no row limit where every line writes a row
    EXPECT_EQ(l.rows[0], "two  words.txt=00000001_090501");
    EXPECT_EQ(l.log[1], " two  words.txt");

    l = admit(kFtpListing, listing({"ABCDEFOP1.pdf", "ABCDEFOP1.pdf_XYZ"}), PdfReport, "", {},
              true);
    EXPECT_EQ(l.rows, (std::vector<std::string>{"ABCDEFOP1.pdf=00000_090501   ",
                                                "ABCDEFOP1.pdf_XYZ=XYZ00000_090501"}));
}

}  // namespace
}  // namespace vs
