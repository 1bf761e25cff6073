#include "activitylog/weekday_names.h"

#include <langinfo.h>
#include <locale.h>

#include "common/text.h"

namespace vs {

WeekdayNames englishWeekdayNames() {
    return {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
}

bool usableWeekdayNames(const WeekdayNames& names) {
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string& a = names[i];
        if (a.empty() || a.size() > 32) return false;
        for (unsigned char c : a)
            if (c < 0x20 || c == '/' || c == '\\' || c == '*' || c == '?' || c == '[') return false;
        for (size_t j = 0; j < names.size(); ++j)
            if (i != j && startsWith(toLower(names[j]), toLower(a))) return false;
    }
    return true;
}

WeekdayNames localeWeekdayNames() {
    locale_t loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) return englishWeekdayNames();
    WeekdayNames names;
    for (int i = 0; i < 7; ++i) {
        const char* s = nl_langinfo_l(static_cast<nl_item>(ABDAY_1 + i), loc);
        names[i] = s ? s : "";
    }
    freelocale(loc);
    return usableWeekdayNames(names) ? names : englishWeekdayNames();
}

}  // namespace vs
