// Folder listings as servers give them (FTP lines, SFTP attributes) and the entries the sessions
// make of them.
#include <gtest/gtest.h>

#include "common/text.h"
#include "remote/ftp/ftp_listing.h"
#include "remote/sftp/listed_entry.h"

namespace vs {
namespace {

// An entry as one line: kind letter, size, date and time as listed, name ("?" for what the
// server did not give).
std::string described(const RemoteEntry& e) {
    std::string text = std::string(1, "-dl?"[static_cast<int>(e.kind)]) + " " +
                       (e.size ? std::to_string(*e.size) : "?") + " ";
    if (const auto& t = e.modified)
        text += std::to_string(t->year) + "-" + zeroPad(t->month, 2) + "-" + zeroPad(t->day, 2) +
                " " + zeroPad(t->hour, 2) + ":" + zeroPad(t->minute, 2);
    else
        text += "?";
    return text + " " + e.name;
}

constexpr auto List = ListingFormat::List;
constexpr auto Mlsd = ListingFormat::Mlsd;
constexpr const char* kIgnored = "";
constexpr const char* kUnreadable = nullptr;

// One line of a server's folder listing and what the session gets of it: an entry, nothing
// (kIgnored) or nothing counted as unreadable.
struct Entry {
    ListingFormat format;
    const char* line;
    const char* entry;
};

// clang-format off
const Entry kEntries[] = {
    // Unix "ls -l" of vsftpd, proftpd, pure-ftpd and servers without some columns.
    {List, "total 24", kIgnored},
    {List, "-rw-r--r--    1 1000     1000         1234 Oct 16 14:30 report.pdf",
           "- 1234 0-10-16 14:30 report.pdf"},
    {List, "lrwxrwxrwx    1 0        0               7 Jan 05 09:03 latest -> archive",
           "l 7 0-01-05 09:03 latest"},
    {List, "-rw-r--r--    1 1000       1000      5368709120 Feb 29  2008 huge.iso",
           "- 5368709120 2008-02-29 00:00 huge.iso"},
    {List, "-rw-r--r-- 1 owner 42 Jul  4 7:05 nogroup.txt", "- 42 0-07-04 07:05 nogroup.txt"},
    {List, "-rw-r--r--+ 1 ftp ftp 3 dec 31 23:59 acl.txt", "- 3 0-12-31 23:59 acl.txt"},
    {List, "-rw-r--r--x 1 ftp ftp 3 Dec 31 23:59 tenth.txt", kUnreadable},
    {List, "drwxr-xr-x   3 ftp ftp 4096 Mar  1 08:05 ..", kIgnored},
    {List, "-rw-r--r-- 1 ftp ftp 12 Oct 16 14:30  two  words ", "- 12 0-10-16 14:30  two  words "},
    {List, "-rw-r--r-- 1 ftp ftp 12 Oct 16 14:30 cr\rname", kUnreadable},
    {List, "-rw-r--r-- 1 ftp ftp 12 Oct 16 14:30", kUnreadable},
    {List, "-rw-r--r-- 1 ftp ftp notasize Oct 16 14:30 x", kUnreadable},
    {List, "drwxr-xr-x 2 ftp ftp 4096 Okt 16 14:30 localised", kUnreadable},
    {List, "crw-rw-rw- 1 0 0 1, 3 Oct 16 14:30 null", kUnreadable},
    {List, "-rw-r--r-- 1 ftp ftp 12 Oct 32 14:30 bad-day", kUnreadable},
    {List, "-rw-r--r-- 1 ftp ftp 12 Oct 16 24:00 bad-clock", kUnreadable},
    {List, "-rwxrwxrwq 1 ftp ftp 12 Oct 16 14:30 bad-mode", kUnreadable},
    // DOS lines of IIS and other Windows servers.
    {List, "10-16-09  02:30PM       <DIR>          Folder", "d 0 2009-10-16 14:30 Folder"},
    {List, "10-16-09  12:30PM                 1234 report.pdf", "- 1234 2009-10-16 12:30 report.pdf"},
    {List, "01/05/2010  12:05AM                    0 empty.txt", "- 0 2010-01-05 00:05 empty.txt"},
    {List, "03-01-10  17:45                       9 clock 24.txt", "- 9 2010-03-01 17:45 clock 24.txt"},
    {List, "13-16-09  02:30PM                 1 bad-month", kUnreadable},
    {List, "10-16-09  13:30PM                 1 bad-pm", kUnreadable},
    // MLSD facts in any order and case.
    {Mlsd, "type=cdir;modify=20091016143000;perm=el; /in", kIgnored},
    {Mlsd, "type=pdir;modify=20091016143000;perm=el; ..", kIgnored},
    {Mlsd, "type=file;size=1234;modify=20091016143000;perm=r; report.pdf",
           "- 1234 2009-10-16 14:30 report.pdf"},
    {Mlsd, "type=dir;modify=20080229080500;perm=el; sub", "d 0 2008-02-29 08:05 sub"},
    {Mlsd, "Type=File;Size=0;Modify=20091016143005.123;UNIX.mode=0754; x.sh",
           "- 0 2009-10-16 14:30 x.sh"},
    {Mlsd, "type=OS.unix=slink:/tmp/x;size=5;modify=20091016143000; link", "l 5 2009-10-16 14:30 link"},
    {Mlsd, "modify=20091016143000;size=7;type=file; a;b=c d.txt", "- 7 2009-10-16 14:30 a;b=c d.txt"},
    {Mlsd, "type=file;modify=20091016143000; no-size", kUnreadable},
    {Mlsd, "type=file;size=1; no-modify", kUnreadable},
    {Mlsd, "type=file;size=1;modify=20091316143000; bad-month", kUnreadable},
    {Mlsd, "type=OS.unix=chr-3/1;size=0;modify=20091016143000; device", kUnreadable},
    {Mlsd, "type=file;size=1;modify=20091016143000;", kUnreadable},
    // Whatever ended the lines at the server.
    {Mlsd, "type=dir;modify=20091016143000; a\ntype=dir;modify=20091016143000; b",
           "d 0 2009-10-16 14:30 ad 0 2009-10-16 14:30 b"},
};
// clang-format on

TEST(FtpListing, EachServerLineBecomesAnEntryIsIgnoredOrCountsAsUnreadable) {
    for (const Entry& e : kEntries) {
        const RemoteListing listing = parseFtpListing(std::string(e.line) + "\r\n", e.format);
        std::string got;
        for (const RemoteEntry& entry : listing.entries) got += described(entry);
        EXPECT_EQ(got, e.entry ? e.entry : "") << e.line;
        EXPECT_EQ(listing.unreadable, e.entry ? 0 : 1) << e.line;
    }
}

TEST(SftpListing, EntriesTakeTheirKindSizeAndTimeFromTheAttributes) {
    const std::pair<sftp::EntryAttributes, const char*> rows[] = {
        {{5, 0100644, 1700000000}, "- 5 2023-11-14 22:13 a b"},
        {{4096, 040755, 1000000000}, "d 4096 2001-09-09 01:46 a b"},
        {{7, 0120777, 0}, "l 7 1970-01-01 00:00 a b"},
        {{0, 010644, 0}, "? 0 1970-01-01 00:00 a b"},  // a FIFO is no file to fetch
        {{}, "? ? ? a b"},                             // nor is what the server did not describe
    };
    for (const auto& [attributes, entry] : rows)
        EXPECT_EQ(described(sftp::listedEntry("a b", attributes)), entry);
}

}  // namespace
}  // namespace vs
