#include "settings/settings_keys.h"

#include <algorithm>
#include <vector>

#include "common/text.h"

namespace vs {

namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Edits (insert, delete, replace one character) from a to b, ignoring case.
std::size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            const bool same = lowerAscii(a[i - 1]) == lowerAscii(b[j - 1]);
            row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

bool allDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::optional<UnknownKey> checkKeyName(std::string_view key) {
    for (const KnownKey& k : kKnownKeys) {
        const std::string_view stem = k.name;
        if (k.count == 0) {
            if (equalsIgnoreCase(key, stem)) return std::nullopt;
            continue;
        }
        if (key.size() <= stem.size() || !equalsIgnoreCase(key.substr(0, stem.size()), stem))
            continue;
        const std::string_view digits = key.substr(stem.size());
        if (!allDigits(digits)) continue;
        const std::size_t n = digits.size() > 6 ? 999999 : std::stoul(std::string(digits));
        const std::string meant = std::string(stem) + std::to_string(n);
        if (n >= static_cast<std::size_t>(k.count))
            return UnknownKey{"numero oltre " + std::to_string(k.count - 1) + " (si va da 0 a " +
                                  std::to_string(k.count - 1) + ")",
                              std::nullopt};
        if (digits.size() == 1 || digits[0] != '0') return std::nullopt;
        // The reader never pads: "DirRemota_03" is not the key of job 3.
        return UnknownKey{"numero scritto con zeri davanti, mai letto", meant};
    }
    // A slip of the keyboard: the known key within two edits, the closest one.
    std::optional<std::string> nearest;
    std::size_t best = 3;
    const auto consider = [&](const std::string& candidate) {
        // Lengths further apart than the edits allowed: not worth the count.
        if (key.size() + 2 < candidate.size() || candidate.size() + 2 < key.size()) return;
        const std::size_t d = editDistance(key, candidate);
        if (d < best && d * 3 <= candidate.size()) {
            best = d;
            nearest = candidate;
        }
    };
    for (const KnownKey& k : kKnownKeys) {
        if (k.count == 0) {
            consider(k.name);
            continue;
        }
        for (int n = 0; n < k.count; ++n) consider(k.name + std::to_string(n));
    }
    return UnknownKey{"chiave sconosciuta", nearest};
}

}  // namespace vs
