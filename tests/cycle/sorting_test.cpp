#include <gtest/gtest.h>

#include <random>

#include "common/selection_order.h"
#include "cycle/sort_keys.h"
#include "localfiles/upload_listing.h"
#include "support/fake_clock.h"

namespace vs {
namespace {

// The quadratic selection sort with swaps, as a reference.
std::vector<size_t> naiveSelectionOrder(const std::vector<std::string>& keys) {
    std::vector<size_t> at(keys.size());
    for (size_t i = 0; i < at.size(); ++i) at[i] = i;
    for (size_t i = 0; i + 1 < at.size(); ++i) {
        size_t m = i;
        for (size_t j = i + 1; j < at.size(); ++j)
            if (keys[at[j]] < keys[at[m]]) m = j;
        std::swap(at[i], at[m]);
    }
    return at;
}

TEST(SelectionOrder, MatchesTheQuadraticSortIncludingEqualKeys) {
    std::mt19937 rng(42);
    for (int round = 0; round < 200; ++round) {
        std::vector<std::string> keys(rng() % 40);
        for (auto& k : keys) k = std::string(1, static_cast<char>('a' + rng() % 4));
        EXPECT_EQ(selectionSortOrder(keys), naiveSelectionOrder(keys)) << round;
    }
    // Equal keys do not keep their order: b1 b2 a ends as a b2 b1.
    EXPECT_EQ(selectionSortOrder({"b", "b", "a"}), (std::vector<size_t>{2, 1, 0}));
}

TEST(SortKeys, ReportKeysFollowTheNameAndTheTime) {
    const LocalTime t = toLocalTime(test::FakeClock::at(2009, 10, 16, 12, 0, 5));
    EXPECT_EQ(pdfreportKey("ABCDEFOP1.pdf", t), "20091016_120005");
    EXPECT_EQ(pdfreportKey("ABCDEFOP1.abcdxyz.pdf", t), "91016_120005xyz");
    EXPECT_EQ(timestampKey(t), "20091016_120005");
    EXPECT_EQ(automailKey("A1.123456.t", 7), "A1.123456.t     007");
    // A long name keeps the row number at characters 17 to 19 of the queue item.
    const std::string item = queueItem(automailKey("VERYLONGBASE.123456.t", 42), 42, "x");
    EXPECT_EQ(item.substr(16, 3), "042");
    EXPECT_EQ(queueItem(fixedWidthKey("short"), 5, "n").substr(16, 3), "005");
}

TEST(SortKeys, AutomailTableSortsByNameIgnoringCase) {
    ListingTable t;
    for (const char* n : {"b.123456.t", "A.123456.t", "c.123456.t", "a.123456.t"})
        t.add({n, "", "size-of-" + std::string(n)});
    SelectionSort(t, 3);
    EXPECT_EQ(t[0].name, "A.123456.t");
    EXPECT_EQ(t[1].name, "a.123456.t");
    EXPECT_EQ(t[2].name, "b.123456.t");
    EXPECT_EQ(t[3].name, "c.123456.t");
    EXPECT_EQ(t[0].size, "size-of-b.123456.t");  // sizes do not move
}

TEST(CercaFile, ExactComparison) {
    std::vector<UploadFileRow> rows{{"1", "A.B"}, {"2", "a.t"}};
    EXPECT_TRUE(cerca_file(rows, "A.B"));
    EXPECT_FALSE(cerca_file(rows, "a.b"));
}

}  // namespace
}  // namespace vs
