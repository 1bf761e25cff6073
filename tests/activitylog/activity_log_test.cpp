#include "activitylog/activity_log.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace vs {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

struct LogTest : ::testing::Test {
    TempDir dir;
    test::FakeClock clock;  // Friday 16 October 2009
    ActivityLog log{clock, dir.path(), englishWeekdayNames()};
    std::filesystem::path file(const char* name) const { return dir / "log" / name; }
};

// A crash must cost no line: each one is in the day's file as soon as it is logged, while the
// window's list only shows the latest thousand.
TEST_F(LogTest, EveryLineIsAppendedToTheDaysFileAsItIsLogged) {
    writeFile(file("sftp_log_Fri_16.txt"), "earlier run\r\n");
    log.scrivi_log("l1");
    EXPECT_EQ(readFile(file("sftp_log_Fri_16.txt")), "earlier run\r\nl1\r\n");
    for (int i = 2; i <= 1001; ++i) log.scrivi_log("l" + std::to_string(i));
    EXPECT_EQ(log.List1(), std::deque<std::string>{"l1001"});
    const std::string all = readFile(file("sftp_log_Fri_16.txt"));
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 1002);
    EXPECT_TRUE(all.ends_with("\r\nl1000\r\nl1001\r\n"));
}

TEST_F(LogTest, EachDaysFirstLineRemovesOnlyThatWeekdaysFileOfAnEarlierWeek) {
    writeFile(file("sftp_log_Sat_10.txt"), "last saturday\r\n");
    writeFile(file("sftp_log_Fri_09.txt"), "last friday\r\n");
    log.scrivi_log("friday");
    EXPECT_FALSE(std::filesystem::exists(file("sftp_log_Fri_09.txt")));
    EXPECT_TRUE(std::filesystem::exists(file("sftp_log_Sat_10.txt")));
    clock.set(2009, 10, 17, 0, 0, 1);
    log.scrivi_log("saturday");
    EXPECT_FALSE(std::filesystem::exists(file("sftp_log_Sat_10.txt")));
    EXPECT_EQ(readFile(file("sftp_log_Fri_16.txt")), "friday\r\n");
    EXPECT_EQ(readFile(file("sftp_log_Sat_17.txt")), "saturday\r\n");
}

TEST_F(LogTest, UnwritableFolderKeepsTheLatestLinesSaysSoOnceAndWritesThemLater) {
    writeFile(dir / "log", "a file where the folder should be");
    log.scrivi_log("a");
    log.scrivi_log("b");
    EXPECT_EQ(log.List1(),
              (std::deque<std::string>{
                  "12:00:05 Impossibile scrivere il log " + file("sftp_log_Fri_16.txt").string() +
                      ": Not a directory; le righe restano in memoria finche' non "
                      "sara' possibile",
                  "a", "b"}));
    for (std::size_t i = 0; i < ActivityLog::kMaxKeptLines; ++i) log.scrivi_log("x");
    EXPECT_FALSE(log.sync());

    std::filesystem::remove(dir / "log");
    EXPECT_TRUE(log.sync());
    const std::string all = readFile(file("sftp_log_Fri_16.txt"));
    EXPECT_TRUE(
        all.starts_with("12:00:05 Log non scrivibile: scartate 3 righe meno recenti\r\n"
                        "x\r\nx\r\n"));
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), ActivityLog::kMaxKeptLines + 1);
}

// The weekly clean-up removes "sftp_log_" + name + "*": no name may begin another or leave the folder.
TEST(WeekdayNames, MustBeFileNameSafeAndNoneTheBeginningOfAnother) {
    EXPECT_TRUE(usableWeekdayNames({"dom", "lun", "mar", "mer", "gio", "ven", "sab"}));
    for (const WeekdayNames& bad : {WeekdayNames{"Ma", "Mar", "W", "T", "F", "S", "U"},
                                    WeekdayNames{"a/b", "b", "c", "d", "e", "f", "g"},
                                    WeekdayNames{"", "b", "c", "d", "e", "f", "g"}})
        EXPECT_FALSE(usableWeekdayNames(bad)) << bad[0];
}

}  // namespace

}  // namespace vs
