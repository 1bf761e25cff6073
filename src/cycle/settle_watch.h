#pragma once

#include <map>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/source_file.h"

namespace vs {

// Where Linux cannot tell whether a local file is still being written (no read lease to be
// had), the file is trusted only once it has stayed the same version for the settle time.
// This remembers, per path, the version last seen and since when, across the cycles of one
// run, so that a file seen unchanged in an earlier cycle does not wait again.
class SettleWatch {
  public:
    // Since when `path` has shown `version`: `now` when it is new or changed.
    TimePoint seen(const std::string& path, const FileIdentity& version, TimePoint now);
    // Notes what each of `names` in `folder` (ending in "/") is now, and forgets the other
    // paths of that folder: the files of one listing share one starting point.
    void look(const std::string& folder, const std::vector<std::string>& names, TimePoint now);

  private:
    struct Version {
        FileIdentity identity;
        TimePoint since;
    };
    std::map<std::string, Version> versions_;
};

}  // namespace vs
