#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "common/text.h"

namespace vs {

// The work list (List2): a sorted list in ascending text order ignoring case, used as the
// transfer queue. Every added item takes its place in that order; work is taken from the top.
// An item may carry the listing row it stands for, so that the queue never has to read the row
// back out of the text.
class WorkList {
  public:
    struct Item {
        std::string text;
        long row = -1;
    };

    void add(const std::string& text, long row = -1) { items_.insert(Item{text, row}); }
    void clear() { items_.clear(); }
    bool empty() const { return items_.empty(); }
    std::size_t count() const { return items_.size(); }
    const Item& first() const { return *items_.begin(); }
    void removeFirst() {
        if (!items_.empty()) items_.erase(items_.begin());
    }
    std::vector<std::string> items() const {
        std::vector<std::string> out;
        out.reserve(items_.size());
        for (const Item& i : items_) out.push_back(i.text);
        return out;
    }

  private:
    struct IgnoreCaseLess {
        bool operator()(const Item& x, const Item& y) const {
            const std::string& a = x.text;
            const std::string& b = y.text;
            const std::size_t n = a.size() < b.size() ? a.size() : b.size();
            for (std::size_t i = 0; i < n; ++i) {
                unsigned char ca = static_cast<unsigned char>(a[i]);
                unsigned char cb = static_cast<unsigned char>(b[i]);
                if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca - 'A' + 'a');
                if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb - 'A' + 'a');
                if (ca != cb) return ca < cb;
            }
            return a.size() < b.size();
        }
    };
    std::multiset<Item, IgnoreCaseLess> items_;
};

}  // namespace vs
