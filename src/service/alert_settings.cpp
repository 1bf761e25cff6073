#include "service/alert_settings.h"

#include "common/text.h"
#include "settings/settings.h"

namespace vs {

std::vector<std::string> splitOnBlanks(std::string_view text) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t start = text.find_first_not_of(" \t", i);
        if (start == std::string_view::npos) break;
        const std::size_t end = std::min(text.find_first_of(" \t", start), text.size());
        words.emplace_back(text.substr(start, end - start));
        i = end;
    }
    return words;
}

AlertSettings alertSettings(const Settings& settings) {
    return {splitOnBlanks(settings.alertCommand), settings.alertAfter};
}

}  // namespace vs
