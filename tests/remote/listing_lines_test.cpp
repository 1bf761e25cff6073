// Listing lines as servers print them and as the cycle's readers get them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "remote/ftp/ftp_listing.h"
#include "remote/sftp/listing_line.h"

namespace vs {
namespace {

constexpr auto List = ListingFormat::List;
constexpr auto Mlsd = ListingFormat::Mlsd;
constexpr const char* kIgnored = "";
constexpr const char* kLeftOut = nullptr;

// One line of a server's folder listing and what the reader gets of it: a rebuilt line,
// nothing (kIgnored) or nothing counted as left out (kLeftOut).
struct Entry {
    ListingFormat format;
    const char* line;
    const char* built;
};

// clang-format off
const Entry kEntries[] = {
    // Unix "ls -l" of vsftpd, proftpd, pure-ftpd and servers without some columns.
    {List, "total 24", kIgnored},
    {List, "-rw-r--r--    1 1000     1000         1234 Oct 16 14:30 report.pdf",
           "-rw-r--r-- 1 1000 1000 1234 Oct 16 14:30 report.pdf"},
    {List, "lrwxrwxrwx    1 0        0               7 Jan 05 09:03 latest -> archive",
           "lrwxrwxrwx 1 0 0 7 Jan 5 09:03 latest"},
    {List, "-rw-r--r--    1 1000       1000      5368709120 Feb 29  2008 huge.iso",
           "-rw-r--r-- 1 1000 1000 5368709120 Feb 29 00:00 huge.iso"},
    {List, "-rw-r--r-- 1 owner 42 Jul  4 7:05 nogroup.txt",
           "-rw-r--r-- 1 owner owner 42 Jul 4 07:05 nogroup.txt"},
    {List, "-rw-r--r--+ 1 ftp ftp 3 dec 31 23:59 acl.txt", "-rw-r--r-- 1 ftp ftp 3 Dec 31 23:59 acl.txt"},
    {List, "-rw-r--r--x 1 ftp ftp 3 Dec 31 23:59 tenth.txt", kLeftOut},
    {List, "drwxr-xr-x   3 ftp ftp 4096 Mar  1 08:05 ..", kIgnored},
    {List, "-rw-r--r-- 1 ftp ftp 12 Oct 16 14:30 two words.txt", kLeftOut},
    {List, "-rw-r--r-- 1 ftp ftp 12 Oct 16 14:30 ../up.txt", kLeftOut},
    {List, "-rw-r--r-- 1 ftp ftp 12 Oct 16 14:30 back\\slash", kLeftOut},
    {List, "-rw-r--r-- 1 ftp ftp 12 Oct 16 14:30 cr\rname", kLeftOut},
    {List, "-rw-r--r-- 1 ftp ftp 12 Oct 16 14:30", kLeftOut},
    {List, "-rw-r--r-- 1 ftp ftp notasize Oct 16 14:30 x", kLeftOut},
    {List, "drwxr-xr-x 2 ftp ftp 4096 Okt 16 14:30 localised", kLeftOut},
    {List, "crw-rw-rw- 1 0 0 1, 3 Oct 16 14:30 null", kLeftOut},
    {List, "-rw-r--r-- 1 ftp ftp 12 Oct 32 14:30 bad-day", kLeftOut},
    {List, "-rw-r--r-- 1 ftp ftp 12 Oct 16 24:00 bad-clock", kLeftOut},
    {List, "-rwxrwxrwq 1 ftp ftp 12 Oct 16 14:30 bad-mode", kLeftOut},
    // DOS lines of IIS and other Windows servers.
    {List, "10-16-09  02:30PM       <DIR>          Folder", "d 1 ftp ftp 0 Oct 16 14:30 Folder"},
    {List, "10-16-09  12:30PM                 1234 report.pdf", "- 1 ftp ftp 1234 Oct 16 12:30 report.pdf"},
    {List, "01/05/2010  12:05AM                    0 empty.txt", "- 1 ftp ftp 0 Jan 5 00:05 empty.txt"},
    {List, "03-01-10  17:45                       9 clock24.txt", "- 1 ftp ftp 9 Mar 1 17:45 clock24.txt"},
    {List, "13-16-09  02:30PM                 1 bad-month", kLeftOut},
    {List, "10-16-09  13:30PM                 1 bad-pm", kLeftOut},
    // MLSD facts in any order and case.
    {Mlsd, "type=cdir;modify=20091016143000;perm=el; /in", kIgnored},
    {Mlsd, "type=pdir;modify=20091016143000;perm=el; ..", kIgnored},
    {Mlsd, "type=file;size=1234;modify=20091016143000;perm=r; report.pdf",
           "- 1 ftp ftp 1234 Oct 16 14:30 report.pdf"},
    {Mlsd, "type=dir;modify=20080229080500;perm=el; sub", "d 1 ftp ftp 0 Feb 29 08:05 sub"},
    {Mlsd, "Type=File;Size=0;Modify=20091016143005.123;UNIX.mode=0754; x.sh",
           "-rwxr-xr-- 1 ftp ftp 0 Oct 16 14:30 x.sh"},
    {Mlsd, "type=OS.unix=slink:/tmp/x;size=5;modify=20091016143000; link", "l 1 ftp ftp 5 Oct 16 14:30 link"},
    {Mlsd, "modify=20091016143000;size=7;type=file; a;b=c.txt", "- 1 ftp ftp 7 Oct 16 14:30 a;b=c.txt"},
    {Mlsd, "type=file;modify=20091016143000; no-size", kLeftOut},
    {Mlsd, "type=file;size=1; no-modify", kLeftOut},
    {Mlsd, "type=file;size=1;modify=20091316143000; bad-month", kLeftOut},
    {Mlsd, "type=OS.unix=chr-3/1;size=0;modify=20091016143000; device", kLeftOut},
    {Mlsd, "type=file;size=1;modify=20091016143000;", kLeftOut},
    {Mlsd, "type=file;size=1;modify=20091016143000; a/b", kLeftOut},
};
// clang-format on

TEST(FtpListing, EachServerLineIsRebuiltIgnoredOrCountedAsLeftOut) {
    for (const Entry& e : kEntries) {
        int leftOut = -1;
        const std::string built = buildListing(std::string(e.line) + "\r\n", e.format, &leftOut);
        EXPECT_EQ(built, e.built ? e.built : "") << e.line;
        EXPECT_EQ(leftOut, e.built ? 0 : 1) << e.line;
    }
    // Lines joined by CR LF, none after the last, whatever ended them at the server.
    EXPECT_EQ(buildListing("type=dir;modify=20091016143000; a\n"
                           "type=dir;modify=20091016143000; b",
                           Mlsd, nullptr),
              "d 1 ftp ftp 0 Oct 16 14:30 a\r\nd 1 ftp ftp 0 Oct 16 14:30 b");
}

TEST(SftpListing, LinesCarryModeSizeAndAnHonestTime) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const std::time_t now = 1700000000;  // Nov 14 2023 22:13 UTC
    const std::pair<sftp::EntryAttributes, const char*> lines[] = {
        {{5, 1000, 100, 0100644, 1699990000}, "-rw-r--r-- 1 1000 100 5 Nov 14 19:26 a b\r\n"},
        {{5, 1000, 100, 0100644, 1700003600}, "-rw-r--r-- 1 1000 100 5 Nov 14 23:13 a b\r\n"},
        {{5, 1000, 100, 0100644, 1700003601}, "-rw-r--r-- 1 1000 100 5 Nov 14 2023 a b\r\n"},
        {{5, 1000, 100, 0100644, 1000000000}, "-rw-r--r-- 1 1000 100 5 Sep 9 2001 a b\r\n"},
        {{}, "?--------- 1 0 0 0 Jan 1 1970 a b\r\n"},
    };
    for (const auto& [attributes, line] : lines)
        EXPECT_EQ(sftp::formatListingLine("a b", attributes, now), line);

    for (const char* name : {"a b.txt", "perché", ".hidden"})
        EXPECT_TRUE(sftp::isDeliverableName(name)) << name;
    for (const char* name : {" lead.txt", "trail.txt ", " ", "a/b", "a\\b", "a\nb", "..", ""})
        EXPECT_FALSE(sftp::isDeliverableName(name)) << name;
}

}  // namespace
}  // namespace vs
