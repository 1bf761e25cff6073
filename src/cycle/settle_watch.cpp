#include "cycle/settle_watch.h"

#include <cstring>
#include <set>
#include <thread>

#include "activitylog/activity_log.h"
#include "common/text.h"
#include "cycle/cycle.h"
#include "settings/settings.h"

namespace vs {

TimePoint SettleWatch::seen(const std::string& path, const FileIdentity& version, TimePoint now) {
    auto [it, added] = versions_.try_emplace(path, Version{version, now});
    if (!added && !(it->second.identity == version)) it->second = {version, now};
    return it->second.since;
}

void SettleWatch::look(const std::string& folder, const std::vector<std::string>& names,
                       TimePoint now) {
    std::set<std::string> listed;
    for (const std::string& name : names) {
        const std::string path = folder + name;
        if (const auto version = SourceFile::at(path)) {
            seen(path, *version, now);
            listed.insert(path);
        }
    }
    for (auto it = versions_.lower_bound(folder);
         it != versions_.end() && it->first.starts_with(folder);)
        it = listed.contains(it->first) || it->first.find('/', folder.size()) != std::string::npos
                 ? std::next(it)
                 : versions_.erase(it);
}

bool Cycle::settled(const SourceFile& source, int reason) {
    const std::chrono::seconds settle(c_.settings.settleSeconds);
    if (settle.count() == 0) return true;
    const TimePoint until = settle_.seen(source.path(), source.opened(), c_.clock.now()) + settle;
    if (c_.clock.now() >= until) return true;  // unchanged since an earlier look
    line(" Impossibile sapere se il file è ancora in scrittura (lease: " +
         std::string(std::strerror(reason)) + "), sarà inviato se resta invariato per " +
         std::to_string(settle.count()) + " s: " + visible(source.path()));
    while (c_.clock.now() < until && !stopping()) {
        c_.yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the yield may not block
    }
    if (stopping()) return false;
    if (source.change() == SourceFile::Change::None) return true;
    line(" File ancora in scrittura, sarà inviato al prossimo ciclo: " + visible(source.path()));
    return false;
}

}  // namespace vs
