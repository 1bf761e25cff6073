// SFTP answers as a server may send them, whole, cut short or with impossible lengths: what is
// read of them never goes past their end.
#include "remote/sftp/sftp_packets.h"

#include <gtest/gtest.h>

namespace vs {
namespace {

using namespace sftp::packets;

std::string numbers(std::initializer_list<std::uint32_t> values) {
    std::string out;
    for (std::uint32_t v : values) appendNumber(out, v);
    return out;
}

TEST(SftpPackets, AnswersAreTakenWholeOrNotAtAll) {
    // What has arrived; the packet taken (nullopt: wait for more; "": impossible length); what
    // stays for the next one.
    const std::string status = std::string(1, '\x65') + numbers({7, 0});
    const struct {
        std::string arrived;
        std::optional<std::string> taken;
        std::size_t left;
    } cases[] = {
        {"", std::nullopt, 0},
        {numbers({9}).substr(0, 3), std::nullopt, 3},
        {numbers({9}) + status.substr(0, 8), std::nullopt, 12},
        {numbers({9}) + status, status, 0},
        {numbers({9}) + status + numbers({9}), status, 4},
        {numbers({4}) + "abcd", "", 8},
        {numbers({0}), "", 4},
        {numbers({65537}), "", 4},
        {numbers({0xffffffff}), "", 4},
    };
    for (const auto& c : cases) {
        std::string in = c.arrived;
        EXPECT_EQ(takePacket(in, 65536), c.taken) << testing::PrintToString(c.arrived);
        EXPECT_EQ(in.size(), c.left);
    }
}

TEST(SftpPackets, AttributesAndTextsCutShortAreRefused) {
    // Flags, then size, uid and gid, permissions, times, and one extension pair.
    const std::uint32_t all = LIBSSH2_SFTP_ATTR_SIZE | LIBSSH2_SFTP_ATTR_UIDGID |
                              LIBSSH2_SFTP_ATTR_PERMISSIONS | LIBSSH2_SFTP_ATTR_ACMODTIME;
    const std::string whole = numbers({all, 1, 2, 1000, 1001, 0100644, 1700000000, 1700000001});
    const auto a = Reader(whole).attributes();
    ASSERT_TRUE(a);
    EXPECT_EQ(a->filesize, (std::uint64_t{1} << 32) + 2);
    EXPECT_EQ(a->uid, 1000u);
    EXPECT_EQ(a->permissions, 0100644u);
    EXPECT_EQ(a->mtime, 1700000001u);
    for (std::size_t cut = 0; cut < whole.size(); ++cut)
        EXPECT_FALSE(Reader(whole.substr(0, cut)).attributes()) << cut;
    // Only what the flags announce is read.
    const auto sizeOnly = Reader(numbers({LIBSSH2_SFTP_ATTR_SIZE, 0, 5})).attributes();
    ASSERT_TRUE(sizeOnly);
    EXPECT_EQ(sizeOnly->flags, LIBSSH2_SFTP_ATTR_SIZE);
    EXPECT_EQ(sizeOnly->filesize, 5u);

    EXPECT_EQ(Reader(numbers({3}) + "abc").text(), "abc");
    EXPECT_FALSE(Reader(numbers({4}) + "abc").text());
    EXPECT_FALSE(Reader(numbers({0xffffffff}) + "abc").text());
}

TEST(SftpPackets, AWriteRequestSaysItsOwnLength) {
    const std::string handle = "h123";
    const std::string head = writeHead(9, handle, 0x100000002ull, 30000);
    EXPECT_EQ(head.size() + 30000, writeSize(handle, 30000));
    Reader r(head);
    EXPECT_EQ(r.number(), writeSize(handle, 30000) - 4);
    EXPECT_EQ(r.byte(), kWrite);
    EXPECT_EQ(r.number(), 9u);
    EXPECT_EQ(r.text(), handle);
    EXPECT_EQ(r.number64(), 0x100000002ull);
    EXPECT_EQ(r.number(), 30000u);
    EXPECT_FALSE(r.byte());
}

}  // namespace
}  // namespace vs
