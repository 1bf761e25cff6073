// What the SFTP session makes of the attributes a server gives, and the host key fingerprints it
// shows.
#include <gtest/gtest.h>

#include "remote/described_entry.h"
#include "remote/sftp/fingerprint.h"
#include "remote/sftp/listed_entry.h"

namespace vs {
namespace {

using test::described;

TEST(Fingerprint, IsTheUnpaddedBase64OfTheSha256AsSshKeygenPrintsIt) {
    EXPECT_EQ(sftp::fingerprintOfKey("abc"), "SHA256:ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0");
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
