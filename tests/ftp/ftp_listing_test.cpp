// The listing builder against lines as real servers print them, and the path handling the
// control relies on.
#include "remote/ftp/ftp_listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "remote/ftp/ftp_path.h"

namespace vs {
namespace {

std::string build(const std::vector<std::string>& lines, ListingFormat format,
                  int* skipped = nullptr, const char* eol = "\r\n") {
    std::string raw;
    for (const std::string& l : lines) raw += l + eol;
    return buildListing(raw, format, skipped);
}

std::vector<std::string> split(const std::string& text, const std::string& sep) {
    std::vector<std::string> parts;
    size_t pos = 0;
    for (;;) {
        size_t at = text.find(sep, pos);
        parts.push_back(text.substr(pos, at - pos));
        if (at == std::string::npos) return parts;
        pos = at + sep.size();
    }
}

TEST(FtpListing, UnixLinesOfVsftpdProftpdAndPureFtpd) {
    int skipped = -1;
    std::string out = build(
        {
            "total 24",
            // vsftpd
            "-rw-r--r--    1 1000     1000         1234 Oct 16 14:30 report.pdf",
            "drwxr-xr-x    2 1000     1000         4096 Oct 16  2009 archive",
            "lrwxrwxrwx    1 0        0               7 Jan 05 09:03 latest -> archive",
            // proftpd: a name with blanks, one of them doubled
            "-rw-r--r--   1 ftp      ftp          1234 Oct 16 14:30 name with  two blanks.txt",
            "drwxr-xr-x   3 ftp      ftp          4096 Mar  1 08:05 in",
            // pure-ftpd: numeric owners, a large size, a year
            "-rw-r--r--    1 1000       1000         20971520 Dec 31 23:59 big.bin",
            "-rw-r--r--    1 1000       1000      5368709120 Feb 29  2008 huge.iso",
            // a server without the group column, and "." / ".." of "ls -la"
            "-rw-r--r-- 1 owner 42 Jul  4 7:05 nogroup.txt",
            "drwxr-xr-x   3 ftp      ftp          4096 Mar  1 08:05 .",
            "drwxr-xr-x   3 ftp      ftp          4096 Mar  1 08:05 ..",
        },
        ListingFormat::List, &skipped);
    EXPECT_EQ(skipped, 0);
    EXPECT_EQ(out,
              "-rw-r--r-- 1 1000 1000 1234 Oct 16 14:30 report.pdf\r\n"
              "drwxr-xr-x 2 1000 1000 4096 Oct 16 00:00 archive\r\n"
              "lrwxrwxrwx 1 0 0 7 Jan 5 09:03 latest\r\n"
              "-rw-r--r-- 1 ftp ftp 1234 Oct 16 14:30 name with  two blanks.txt\r\n"
              "drwxr-xr-x 3 ftp ftp 4096 Mar 1 08:05 in\r\n"
              "-rw-r--r-- 1 1000 1000 20971520 Dec 31 23:59 big.bin\r\n"
              "-rw-r--r-- 1 1000 1000 5368709120 Feb 29 00:00 huge.iso\r\n"
              "-rw-r--r-- 1 owner owner 42 Jul 4 07:05 nogroup.txt");
}

TEST(FtpListing, DosLinesOfWindowsServers) {
    int skipped = -1;
    std::string out = build(
        {
            "10-16-09  02:30PM       <DIR>          My Folder",
            "10-16-09  02:30PM                 1234 report 2009.pdf",
            "01-05-2010  12:05AM                    0 empty.txt",
            "12-31-09  12:30PM                   77  leading blank.txt",
            "03-01-10  17:45                       9 clock24.txt",
        },
        ListingFormat::List, &skipped);
    EXPECT_EQ(skipped, 0);
    EXPECT_EQ(out,
              "d 1 ftp ftp 0 Oct 16 14:30 My Folder\r\n"
              "- 1 ftp ftp 1234 Oct 16 14:30 report 2009.pdf\r\n"
              "- 1 ftp ftp 0 Jan 5 00:05 empty.txt\r\n"
              "- 1 ftp ftp 77 Dec 31 12:30  leading blank.txt\r\n"
              "- 1 ftp ftp 9 Mar 1 17:45 clock24.txt");
}

TEST(FtpListing, MlsdFacts) {
    int skipped = -1;
    std::string out = build(
        {
            "type=cdir;modify=20091016143000;perm=el; /in",
            "type=pdir;modify=20091016143000;perm=el; ..",
            "type=file;size=1234;modify=20091016143000;perm=r; report.pdf",
            "type=dir;modify=20080229080500;perm=el; sub folder",
            "Type=File;Size=0;Modify=20091016143005.123;UNIX.mode=0644; empty.txt",
            "type=OS.unix=slink:/tmp/x;size=5;modify=20091016143000; link",
            "modify=20091016143000;perm=r;size=7;type=file;unique=fe00g; a;b=c d.txt",
        },
        ListingFormat::Mlsd, &skipped);
    EXPECT_EQ(skipped, 0);
    EXPECT_EQ(out,
              "- 1 ftp ftp 1234 Oct 16 14:30 report.pdf\r\n"
              "d 1 ftp ftp 0 Feb 29 08:05 sub folder\r\n"
              "-rw-r--r-- 1 ftp ftp 0 Oct 16 14:30 empty.txt\r\n"
              "l 1 ftp ftp 5 Oct 16 14:30 link\r\n"
              "- 1 ftp ftp 7 Oct 16 14:30 a;b=c d.txt");
}

TEST(FtpListing, LinesNotUnderstoodAreCountedNotGuessed) {
    int skipped = -1;
    std::string out = build(
        {
            "this is not a listing line",
            "-rw-r--r-- 1 ftp ftp notasize Oct 16 14:30 x",
            "drwxr-xr-x 2 ftp ftp 4096 Okt 16 14:30 localised-month",
            "crw-rw-rw- 1 0 0 1, 3 Oct 16 14:30 null",
            "-rw-r--r-- 1 ftp ftp 12 Oct 16 25:30 bad-clock",
            "-rw-r--r-- 1 ftp ftp 12 Oct 16 14:30",
            "13-40-09  02:30PM                 1 bad-date",
            "10-16-09  13:30PM                 1 bad-pm",
            "-rw-r--r-- 1 ftp ftp 12 Oct 16 14:30 back\\slash",
            "-rw-r--r-- 1 ftp ftp 12 Oct 16 14:30 kept.txt",
        },
        ListingFormat::List, &skipped);
    EXPECT_EQ(skipped, 9);
    EXPECT_EQ(out, "-rw-r--r-- 1 ftp ftp 12 Oct 16 14:30 kept.txt");

    out = build(
        {
            "type=file;modify=20091016143000; no-size",
            "type=file;size=1; no-modify",
            "type=file;size=1;modify=2009101614; short-modify",
            "type=OS.unix=chr-3/1;size=0;modify=20091016143000; device",
            "type=file;size=1;modify=20091016143000;",
            "type=file;size=1;modify=20091016143000; a/b",
        },
        ListingFormat::Mlsd, &skipped);
    EXPECT_EQ(skipped, 6);
    EXPECT_EQ(out, "");
}

TEST(FtpListing, NamesThatWouldBreakLinesAreLeftOut) {
    int skipped = -1;
    // With CR LF line ends a stray CR stays inside the name; NUL can come with either.
    std::string raw =
        "type=file;size=1;modify=20091016143000; evil\rname\r\n"
        "type=file;size=1;modify=20091016143000; nul" +
        std::string(1, '\0') +
        "x\r\n"
        "type=file;size=1;modify=20091016143000; good\r\n";
    EXPECT_EQ(buildListing(raw, ListingFormat::Mlsd, &skipped), "- 1 ftp ftp 1 Oct 16 14:30 good");
    EXPECT_EQ(skipped, 2);
    // Servers that end lines with LF alone are read the same way.
    EXPECT_EQ(
        build({"-rw-r--r-- 1 ftp ftp 3 Oct 16 14:30 lf.txt"}, ListingFormat::List, &skipped, "\n"),
        "-rw-r--r-- 1 ftp ftp 3 Oct 16 14:30 lf.txt");
    EXPECT_EQ(buildListing("", ListingFormat::List, &skipped), "");
    EXPECT_EQ(skipped, 0);
}

// Whatever arrives, the output keeps the shape the reader depends on.
TEST(FtpListing, AnyInputGivesWellFormedLines) {
    const std::vector<std::string> seeds = {
        "-rw-r--r--    1 1000     1000         1234 Oct 16 14:30 report.pdf",
        "lrwxrwxrwx    1 0        0               7 Jan 05 09:03 latest -> archive",
        "10-16-09  02:30PM       <DIR>          My Folder",
        "10-16-09  02:30PM                 1234 report 2009.pdf",
        "type=file;size=1234;modify=20091016143000;perm=r; report.pdf",
        "Type=File;Size=0;Modify=20091016143005.123;UNIX.mode=0644; empty.txt",
    };
    std::mt19937 rng(20091016);
    const std::string alphabet = " \t\r\n\0/\\:;=-<>0123456789abcdOctDIRPMtypesizmf";
    for (int round = 0; round < 4000; ++round) {
        std::string raw;
        for (int l = 0; l < 4; ++l) {
            std::string line = seeds[rng() % seeds.size()];
            for (int m = static_cast<int>(rng() % 4); m > 0; --m) {
                size_t at = rng() % (line.size() + 1);
                switch (rng() % 3) {
                    case 0:
                        line.insert(at, 1, alphabet[rng() % alphabet.size()]);
                        break;
                    case 1:
                        if (at < line.size()) line.erase(at, 1);
                        break;
                    default:
                        if (at < line.size()) line[at] = static_cast<char>(rng() % 256);
                }
            }
            raw += line + "\r\n";
        }
        for (ListingFormat format : {ListingFormat::List, ListingFormat::Mlsd}) {
            int skipped = 0;
            std::string out = buildListing(raw, format, &skipped);
            std::vector<std::string> lines =
                out.empty() ? std::vector<std::string>{} : split(out, "\r\n");
            const auto rawLines = static_cast<size_t>(std::count(raw.begin(), raw.end(), '\n'));
            ASSERT_LE(lines.size() + static_cast<size_t>(skipped), rawLines) << raw;
            for (const std::string& line : lines) {
                ASSERT_EQ(line.find_first_of(std::string("\r\n\0", 3)), std::string::npos);
                std::vector<std::string> f = split(line, " ");
                ASSERT_GE(f.size(), 9u) << line;
                ASSERT_TRUE(f[0][0] == 'd' || f[0][0] == '-' || f[0][0] == 'l') << line;
                ASSERT_EQ(f[7].size(), 5u) << line;
                ASSERT_EQ(f[7][2], ':') << line;
                ASSERT_FALSE(f[4].empty()) << line;
                ASSERT_EQ(f[4].find_first_not_of("0123456789"), std::string::npos) << line;
            }
        }
    }
}

TEST(FtpPath, ResolvesAgainstTheCurrentFolder) {
    using ftp::resolveRemotePath;
    EXPECT_EQ(resolveRemotePath("/", "in/"), "/in");
    EXPECT_EQ(resolveRemotePath("/in", "a.txt"), "/in/a.txt");
    EXPECT_EQ(resolveRemotePath("/in", "/out//x/"), "/out/x");
    EXPECT_EQ(resolveRemotePath("/in/sub", "../x/./y"), "/in/x/y");
    EXPECT_EQ(resolveRemotePath("/", "../../.."), "/");
}

TEST(FtpPath, HostsCannotSmuggleAnythingIntoTheUrl) {
    EXPECT_EQ(ftp::urlHost("ftp.example.com"), "ftp.example.com");
    EXPECT_EQ(ftp::urlHost("::1"), "[::1]");
    EXPECT_EQ(ftp::urlHost("[fe80::1]"), "[fe80::1]");
    for (const char* bad : {"", "a b", "user@host", "host/x", "host?x", "host#x", "h\r\nQUIT"})
        EXPECT_EQ(ftp::urlHost(bad), "") << bad;
    EXPECT_TRUE(ftp::breaksCommandLine("a\nDELE x"));
    EXPECT_TRUE(ftp::breaksCommandLine(std::string("a\0b", 3)));
    EXPECT_FALSE(ftp::breaksCommandLine("a b#%?.txt"));
}

}  // namespace
}  // namespace vs
