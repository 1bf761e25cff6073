// The rules that choose files: name filters, folder pattern, file types, and the two listing
// layouts read into the listing table.
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
    EXPECT_EQ(listingLineName("-rw-r--r-- 1 u g 12 Oct 16 14:30 my  file.txt"), "my  file.txt");
    EXPECT_EQ(listingLineName("-rw 1 u g"), "g");  // fewer fields: the last one
}

std::string longLine(const std::string& name, char type = '-') {
    return type + std::string("rw-r--r-- 1 u g 5 Oct 16 14:30 ") + name + "\r\n";
}
std::string fieldLine(const std::string& name, char type = '-') {
    return type + std::string("rw-r--r-- 1 u g 5 Oct 16 09:05 ") + name;
}

struct Listed {
    std::vector<std::string> rows;  // name, or name=key when keys are checked
    std::vector<std::string> log;
    std::string operatorCode = "TUTTI";
};

Listed admit(RemoteListing listing, FileType type, const std::string& list = "",
             NameFilters filters = {}, bool keys = false) {
    Listed out;
    ListingTable table;
    bool flag = false;
    ListingContext ctx{type,    out.operatorCode,
                       list,    filters,
                       table,   flag,
                       "stamp", [&](const std::string& l) { out.log.push_back(l); }};
    admitListing(listing, ctx);
    for (std::size_t i = 0; i < table.count(); ++i)
        out.rows.push_back(table[i].name + (keys ? "=" + table[i].key : ""));
    return out;
}

TEST(Selection, LongFormatListings) {
    using L = RemoteListing;
    const std::string files = longLine("b.txt") + longLine("a.txt") + longLine("dir", 'd');
    Listed l = admit({L::Layout::LongFormat, {files + longLine("scarica_ok")}}, FileType::Tutti);
    EXPECT_EQ(l.rows, (std::vector<std::string>{"b.txt", "a.txt"}));  // never the control file
    l = admit({L::Layout::LongFormat, {files, longLine("scarica_ok")}}, FileType::Tutti);
    EXPECT_EQ(l.rows.size(), 2u);  // the control file in a later part keeps the earlier rows
    l = admit({L::Layout::LongFormat, {files}}, FileType::Tutti);
    EXPECT_TRUE(l.rows.empty());
    EXPECT_EQ(l.log, std::vector<std::string>{" Non posso scaricare i file (manca il file di "
                                              "controllo) "});
    l = admit({L::Layout::LongFormat,
               {longLine("ABCDEFOP1.pdf") + longLine("XBCDEFOP1.pdf") + longLine("..") +
                longLine(".vs-0000000001-00000000.tmp")}},
              FileType::PdfReport, "", {"ab", "", ""});
    EXPECT_EQ(l.rows, std::vector<std::string>{"ABCDEFOP1.pdf"});
    std::string many;
    for (int i = 249; i >= 0; --i)
        many += longLine((i % 2 ? "a" : "A") + std::to_string(i + 100) + ".123456.t");
    l = admit({L::Layout::LongFormat, {many}}, FileType::Automail);
    ASSERT_EQ(l.rows.size(), 200u);  // the first 200 by name, ignoring case
    EXPECT_EQ(l.rows.front(), "A100.123456.t");
    EXPECT_EQ(l.rows.back(), "a299.123456.t");
    std::string full;
    for (std::size_t i = 0; i <= ListingTable::kRows; ++i)
        full += longLine("f" + std::to_string(i));
    l = admit({L::Layout::LongFormat, {full + longLine("scarica_ok")}}, FileType::Tutti);
    EXPECT_EQ(l.rows.size(), ListingTable::kRows);
    EXPECT_EQ(l.log.size(), 1u);  // said once; the control file past the end still counts
}

TEST(Selection, FieldListings) {
    const auto fields = [](const std::vector<std::string>& lines) {
        std::string text;
        for (const std::string& l : lines) text += (text.empty() ? "" : "\r\n") + l;
        return RemoteListing{RemoteListing::Layout::Fields, {text}};
    };
    Listed l = admit(fields({fieldLine("OP.A1B2C3.t")}), FileType::Automail, "||OP||", {}, true);
    EXPECT_EQ(l.rows, (std::vector<std::string>{
                          "OP.A1B2C3.H=A1B2C3.t_090501", "OP.A1B2C3.0=A1B2C3.t_090501",
                          "OP.A1B2C3.B=A1B2C3.t_090501", "OP.A1B2C3.t=A1B2C3.t_090501"}));
    EXPECT_EQ(l.operatorCode, "SELETTIVO");
    EXPECT_EQ(l.log, (std::vector<std::string>{" OP.A1B2C3.t", " Listftpprova  Elenco Ottenuto "}));

    std::vector<std::string> lines;
    for (int i = 0; i < 60; ++i) lines.push_back(fieldLine("B" + std::to_string(i) + ".123456.t"));
    l = admit(fields(lines), FileType::Automail);
    EXPECT_EQ(l.rows.size(), 200u);
    EXPECT_EQ(l.log[l.log.size() - 2], " Listftpprova  Scarico i primi 50");
    EXPECT_EQ(l.operatorCode, "TUTTI");  // an empty operator list changes nothing

    lines.assign({fieldLine("sub", 'd')});
    for (int i = 0; i < 300; ++i) lines.push_back(fieldLine("f" + std::to_string(i)));
    l = admit(fields(lines), FileType::Tutti, "", {}, true);
    EXPECT_EQ(l.rows.size(), 300u);  // no row limit where every line writes a row
    EXPECT_EQ(l.rows[0], "f0=00000001_090501");

    l = admit(fields({fieldLine("ABCDEFOP1.pdf"), fieldLine("ABCDEFOP1.pdf_XYZ")}),
              FileType::PdfReport, "", {}, true);
    EXPECT_EQ(l.rows, (std::vector<std::string>{"ABCDEFOP1.pdf=00000_090501   ",
                                                "ABCDEFOP1.pdf_XYZ=XYZ00000_090501"}));
}

}  // namespace
}  // namespace vs
