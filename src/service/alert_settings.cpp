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

AlertSettings readAlertSettings(const std::filesystem::path& settingsFile) {
    AlertSettings s;
    s.command = splitOnBlanks(leggi_chiave_ini(kSettingsSection, "alertcommand", "", settingsFile));
    const std::string after = leggi_chiave_ini(kSettingsSection, "alertafter", "", settingsFile);
    if (trimBlanks(after).empty()) return s;
    const auto n = parseInteger(after);
    if (n && *n >= 1 && *n <= 1000000)
        s.after = static_cast<int>(*n);
    else
        s.problem = "Valore di alertafter non valido: '" + visible(after) + "', uso " +
                    std::to_string(kDefaultAlertAfter);
    return s;
}

}  // namespace vs
