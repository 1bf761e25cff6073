#include "activitylog/activity_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace vs {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

struct LogFixture : ::testing::Test {
    TempDir dir;
    test::FakeClock clock;  // Friday 16 October 2009
    ActivityLog log{clock, dir.path(), englishWeekdayNames()};
};

TEST_F(LogFixture, The1001stLineWritesTheListInOrder) {
    for (int i = 1; i <= 1000; ++i) log.scrivi_log("l" + std::to_string(i));
    EXPECT_EQ(log.size(), 1000u);
    EXPECT_FALSE(std::filesystem::exists(dir / "log"));
    log.scrivi_log("l1001");
    EXPECT_EQ(log.size(), 0u);
    const std::string file = readFile(dir / "log" / "sftp_log_Fri_16.txt");
    EXPECT_EQ(file.rfind("l1\r\nl2\r\n", 0), 0u);
    EXPECT_TRUE(file.ends_with("l1000\r\nl1001\r\n"));
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 1001);
}

TEST_F(LogFixture, LinesGoToTheFileOfTheWriteDayAndOldWeekdayFilesGo) {
    writeFile(dir / "log" / "sftp_log_Sat_10.txt", "last week\r\n");
    writeFile(dir / "log" / "sftp_log_Fri_09.txt", "last friday\r\n");
    log.scrivi_log("23:59:59 before midnight");
    clock.set(2009, 10, 17, 0, 0, 1);  // Saturday
    ASSERT_TRUE(log.scrivi_file_log());
    EXPECT_FALSE(std::filesystem::exists(dir / "log" / "sftp_log_Sat_10.txt"));
    EXPECT_TRUE(std::filesystem::exists(dir / "log" / "sftp_log_Fri_09.txt"));
    EXPECT_EQ(readFile(dir / "log" / "sftp_log_Sat_17.txt"), "23:59:59 before midnight\r\n");
    log.scrivi_log("again");
    ASSERT_TRUE(log.scrivi_file_log());  // same day: appended
    EXPECT_EQ(readFile(dir / "log" / "sftp_log_Sat_17.txt"),
              "23:59:59 before midnight\r\nagain\r\n");
}

TEST_F(LogFixture, UnwritableLogFolderKeepsTheLinesBounded) {
    writeFile(dir / "log", "a file where the folder should be");
    log.scrivi_log("kept");
    EXPECT_FALSE(log.scrivi_file_log());
    ASSERT_EQ(log.size(), 1u);
    for (size_t i = 0; i < ActivityLog::kMaxKeptLines + 10; ++i) log.addDirect("x");
    EXPECT_EQ(log.size(), ActivityLog::kMaxKeptLines);
    EXPECT_EQ(log.droppedLines(), 11u);

    std::filesystem::remove(dir / "log");
    ASSERT_TRUE(log.scrivi_file_log());
    const std::string file = readFile(dir / "log" / "sftp_log_Fri_16.txt");
    EXPECT_EQ(file.rfind("12:00:05 Log non scrivibile: scartate 11 righe meno recenti\r\nx\r\n", 0),
              0u);
    EXPECT_EQ(log.size(), 0u);
    EXPECT_EQ(log.droppedLines(), 0u);
}

TEST_F(LogFixture, EchoSeesEveryLineAsItIsAdded) {
    std::vector<std::string> echoed;
    log.setEcho([&](const std::string& l) { echoed.push_back(l); });
    log.scrivi_log("a");
    log.addDirect("b");
    EXPECT_EQ(echoed, (std::vector<std::string>{"a", "b"}));
}

TEST(WeekdayNames, RejectsNamesThatArePrefixesOfOthersOrUnsafe) {
    EXPECT_TRUE(usableWeekdayNames(englishWeekdayNames()));
    EXPECT_TRUE(usableWeekdayNames({"dom", "lun", "mar", "mer", "gio", "ven", "sab"}));
    EXPECT_FALSE(usableWeekdayNames({"Ma", "Mar", "W", "T", "F", "S", "U"}));
    EXPECT_FALSE(usableWeekdayNames({"a/b", "b", "c", "d", "e", "f", "g"}));
    EXPECT_FALSE(usableWeekdayNames({"", "b", "c", "d", "e", "f", "g"}));
    EXPECT_TRUE(usableWeekdayNames(localeWeekdayNames()));
}

}  // namespace
}  // namespace vs
