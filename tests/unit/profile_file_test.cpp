#include "settings/profile_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/temp_dir.h"

namespace vs {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

TEST(ProfileFile, MissingFileSectionOrKeyReadsAsDefault) {
    TempDir dir;
    EXPECT_EQ(readProfileString("PARAMETRI", "host", "d", dir / "none.ini"), "d");
    writeFile(dir / "a.ini", "[ALTRO]\nhost=x\n");
    EXPECT_EQ(readProfileString("PARAMETRI", "host", "", dir / "a.ini"), "");
    writeFile(dir / "b.ini", "[PARAMETRI]\nlogin=x\n");
    EXPECT_EQ(readProfileString("PARAMETRI", "host", "", dir / "b.ini"), "");
}

TEST(ProfileFile, ReadsWindowsFilesAndMatchesIgnoringCase) {
    TempDir dir;
    writeFile(dir / "w.ini",
              "; comment\r\n[parametri]\r\nHOST = srv:822 \r\nPwd=\"  sp \"\r\n"
              "host=second\r\nTipo\xe8=\xe0\r\n");
    EXPECT_EQ(readProfileString("PARAMETRI", "host", "", dir / "w.ini"), "srv:822");
    EXPECT_EQ(readProfileString("PARAMETRI", "pwd", "", dir / "w.ini"), "  sp ");
    EXPECT_EQ(readProfileString("PARAMETRI", "Tipo\xe8", "", dir / "w.ini"), "\xe0");
}

TEST(ProfileFile, WriteReplacesInPlaceAndKeepsEverythingElse) {
    TempDir dir;
    const auto path = dir / "s.ini";
    writeFile(path, "; keep me\r\n[PARAMETRI]\r\nhost=old\r\nunknown=1\r\n\r\n[OTHER]\r\nx=y\r\n");
    ASSERT_TRUE(writeProfileString("PARAMETRI", "HOST", "new", path));
    ASSERT_TRUE(writeProfileString("PARAMETRI", "login", " padded ", path));
    ASSERT_TRUE(writeProfileString("NEW", "k", "v", path));
    EXPECT_EQ(readFile(path),
              "; keep me\r\n[PARAMETRI]\r\nhost=new\r\nunknown=1\r\nlogin=\" padded \"\r\n\r\n"
              "[OTHER]\r\nx=y\r\n[NEW]\r\nk=v\r\n");
    EXPECT_EQ(readProfileString("PARAMETRI", "login", "", path), " padded ");

    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // it holds a password
}

TEST(ProfileFile, EveryWrittenValueReadsBackWithin1023Characters) {
    TempDir dir;
    const auto path = dir / "v.ini";
    for (const std::string& value :
         {std::string(""), std::string("\"quoted\""), std::string("'x'"), std::string("a=b;c"),
          std::string("\ttab"), std::string(1500, 'z')}) {
        ASSERT_TRUE(writeProfileString("PARAMETRI", "k", value, path));
        EXPECT_EQ(readProfileString("PARAMETRI", "k", "", path), value.substr(0, 1023));
    }
}

TEST(ProfileFile, GarbageLoadsWithoutCrashing) {
    std::string garbage;
    for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 7919) % 256);
    garbage += "\n[PARAMETRI\nhost\n=\n[PARAMETRI]\nhost=a\nhost=b\n" + std::string(100000, 'x');
    ProfileText text(garbage);
    bool found = false;
    EXPECT_EQ(text.get("PARAMETRI", "host", &found), "a");  // first of duplicate keys
    EXPECT_TRUE(found);
    text.set("PARAMETRI", "host", "c");
    bool again = false;
    EXPECT_EQ(ProfileText(text.content()).get("PARAMETRI", "host", &again), "c");
}

TEST(ProfileFile, UnwritableFileFailsAndLeavesItUnchanged) {
    if (::geteuid() == 0) {
        // root writes anywhere; a path under a regular file can never be written.
        TempDir dir;
        writeFile(dir / "f", "x");
        EXPECT_FALSE(writeProfileString("PARAMETRI", "k", "v", dir / "f" / "s.ini"));
        return;
    }
    TempDir dir;
    writeFile(dir / "s.ini", "[PARAMETRI]\nk=old\n");
    ::chmod(dir.path().c_str(), 0500);
    EXPECT_FALSE(writeProfileString("PARAMETRI", "k", "v", dir / "s.ini"));
    ::chmod(dir.path().c_str(), 0700);
    EXPECT_EQ(readFile(dir / "s.ini"), "[PARAMETRI]\nk=old\n");
}

}  // namespace
}  // namespace vs
