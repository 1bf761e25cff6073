#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vs {

// One remote listing: rows 0..count-1 of name, sort key and size. Holds at most kRows rows;
// add() refuses the rest.
class ListingTable {
  public:
    static constexpr std::size_t kRows = 15001;

    struct Row {
        std::string name;  // column 0
        std::string key;   // column 1: sort key (a placeholder until the download sets it)
        std::string size;  // column 2 as shown in the log; "9999" when no size is known
        std::optional<std::int64_t> knownSize;  // the size, when one is known
        bool described = false;                 // the listing itself gave key and size
    };

    void reset() { rows_.clear(); }
    std::size_t count() const { return rows_.size(); }
    bool full() const { return rows_.size() >= kRows; }
    // False, and nothing stored, when the table is full.
    bool add(Row row) {
        if (full()) return false;
        rows_.push_back(std::move(row));
        return true;
    }
    void truncate(std::size_t count) {
        if (count < rows_.size()) rows_.resize(count);
    }
    Row& operator[](std::size_t i) { return rows_[i]; }
    const Row& operator[](std::size_t i) const { return rows_[i]; }
    std::vector<Row>& rows() { return rows_; }

  private:
    std::vector<Row> rows_;
};

}  // namespace vs
