#pragma once

#include <string>

#include "common/text.h"
#include "remote/remote_listing.h"

namespace vs::test {

// An entry as one line: kind letter, size, date and time as listed, name ("?" for what the
// server did not give).
inline std::string described(const RemoteEntry& e) {
    static const char kKinds[] = "-dl?";
    std::string text(1, kKinds[static_cast<int>(e.kind)]);
    text += " " + (e.size ? std::to_string(*e.size) : "?") + " ";
    if (const auto& t = e.modified)
        text += std::to_string(t->year) + "-" + zeroPad(t->month, 2) + "-" + zeroPad(t->day, 2) +
                " " + zeroPad(t->hour, 2) + ":" + zeroPad(t->minute, 2);
    else
        text += "?";
    return text + " " + e.name;
}

}  // namespace vs::test
