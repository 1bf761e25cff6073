#include "cycle/selection_rules.h"

#include <gtest/gtest.h>

#include "common/wildcard.h"

namespace vs {
namespace {

TEST(FilterParse, KeywordsInAnyCaseUpToTheNextSemicolon) {
    struct Case {
        const char* text;
        const char* prefix;
        const char* contains;
        const char* suffix;
    } cases[] = {
        {"INIZIA:FT;FINISCE:.txt;", "FT", "", ".txt"},
        {"INIZIA:ab", "ab", "", ""},  // the missing ";" is supplied
        {"INIZIA:", "", "", ""},      // seven characters: no filter
        {"inizia:Ab;contiene:X Y;finisce:.PDF", "Ab", "X Y", ".PDF"},
        {"VALSPED;FINISCE:;", "", "", ""},  // a keyword followed by ";" stays off
        {"CONTIENE:mid;INIZIA:pre;", "pre", "mid", ""},
        {"nothing here at all", "", "", ""},
    };
    for (const Case& c : cases) {
        NameFilters f = parseNameFilters(c.text);
        EXPECT_EQ(f.prefix, c.prefix) << c.text;
        EXPECT_EQ(f.contains, c.contains) << c.text;
        EXPECT_EQ(f.suffix, c.suffix) << c.text;
    }
}

TEST(NameTest, IgnoresCaseAndNeedsAllThree) {
    EXPECT_TRUE(nameTest({"ab", "", ""}, "ABC.TXT"));
    EXPECT_TRUE(nameTest({"", "", ".T"}, "x.t"));
    EXPECT_FALSE(nameTest({"abc", "", ""}, "ab"));  // shorter than the filter
    EXPECT_TRUE(nameTest({"ft", "2009", ".txt"}, "FT_20091016.TXT"));
    EXPECT_FALSE(nameTest({"ft", "2010", ".txt"}, "FT_20091016.TXT"));
    EXPECT_TRUE(nameTest({}, "anything"));
}

TEST(FolderPattern, FollowsItsTableOfResults) {
    struct Case {
        NameFilters f;
        const char* pattern;
    } cases[] = {
        {{}, "*.*"},
        {{"P", "", ""}, "*"},
        {{"", "C", ""}, "*"},
        {{"", "", "S"}, "*S"},
        {{"P", "C", ""}, "*"},
        {{"P", "", "S"}, "P*S"},
        {{"", "C", "S"}, "*S"},
        {{"P", "C", "S"}, "P*C*S"},
    };
    for (const Case& c : cases) EXPECT_EQ(folderPattern(c.f, "*.*"), c.pattern);
    EXPECT_EQ(folderPattern({}, "*"), "*");
}

TEST(Wildcard, MatchesIgnoringCaseWithStarAndQuestionMark) {
    EXPECT_TRUE(wildcardMatch("*.T", "a.t"));
    EXPECT_TRUE(wildcardMatch("P*C*S", "pxxcyys"));
    EXPECT_FALSE(wildcardMatch("P*C*S", "pxxcyy"));
    EXPECT_TRUE(wildcardMatch("*.*", "noextension"));
    EXPECT_TRUE(wildcardMatch("a?c", "ABC"));
    EXPECT_TRUE(wildcardMatch("[x]*", "[X]file"));  // brackets are plain characters
    EXPECT_FALSE(wildcardMatch("*.txt", "a.txt.gz"));
}

TEST(FileTypeAcceptance, ReportsAutomailAndEverything) {
    struct Case {
        const char* name;
        const char* type;
        const char* op;
        const char* list;
        bool accepted;
    } cases[] = {
        {"ABCDEFOP1.pdf", "PDFREPORT", "OP1", "", true},
        {"ABCDEFOP2.pdf", "PDFREPORT", "OP1", "", false},
        {"ABCDEF.pdf", "PDFREPORT", "OP1", "", false},  // ".pdf" at position 7, not beyond
        {"ABCDEFOP2.pdf", "PDFREPORT", "TUTTI", "", true},
        {"ABCDEFOP1.pdf.gz", "PDFREPORT", "OP1", "", true},
        {"ABCDEFOP1.pdf.zip", "PDFREPORT", "OP1", "", false},
        {"ABCDEFop1.PDF", "PDFREPORT", "OP1", "", false},  // the operator part counts case
        {"A1.123456.t", "AUTOMAIL", "TUTTI", "", true},
        {"ZZ.ABCDEF.1", "AUTOMAIL", "TUTTI", "", true},
        {"A1.12345.t", "AUTOMAIL", "TUTTI", "", false},
        {"A1.123456.txt", "AUTOMAIL", "TUTTI", "", false},
        {".123456.t", "AUTOMAIL", "TUTTI", "", false},
        {"A1.123456.h", "AUTOMAIL", "TUTTI", "||A1||", true},
        {"B2.123456.h", "AUTOMAIL", "TUTTI", "||A1||", false},
        {"SELETTIVO.123456.b", "AUTOMAIL", "TUTTI", "||A1||", true},
        {"anything", "TUTTI", "TUTTI", "", true},
        {"anything", "tutti", "TUTTI", "", false},  // keywords compare with case
    };
    for (const Case& c : cases)
        EXPECT_EQ(acceptFileType(c.name, true, c.type, c.op, c.list), c.accepted) << c.name;
    EXPECT_FALSE(acceptFileType("folder", false, "TUTTI", "TUTTI", ""));
}

TEST(UnsafeRemoteName, RejectsEveryWayOutOfTheFolder) {
    for (const char* bad : {"", ".", "..", "../x", "a/b", "a\\b", "x\ry", "x\ny"})
        EXPECT_TRUE(unsafeRemoteName(bad)) << bad;
    EXPECT_TRUE(unsafeRemoteName(std::string("a\0b", 3)));
    EXPECT_TRUE(unsafeRemoteName(std::string(256, 'n')));
    EXPECT_FALSE(unsafeRemoteName(std::string(255, 'n')));
    EXPECT_FALSE(unsafeRemoteName("..x"));
    EXPECT_FALSE(unsafeRemoteName("name with blanks.txt"));
}

}  // namespace
}  // namespace vs
