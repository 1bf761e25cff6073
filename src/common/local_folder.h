#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "common/clock.h"

namespace vs {

// The ordinary files of a local folder: regular files only (no folders, links, devices or
// hidden files), so that nothing outside the folder is ever picked up through a link.
struct LocalFile {
    std::string name;
    std::time_t created = 0;  // birth time where the file system keeps one, else modification
};

// Throws RuntimeError(kErrBadFileName) when the folder cannot be read.
std::vector<LocalFile> ordinaryFiles(const std::filesystem::path& folder);

// The folder test of the cycle: true for an existing folder, false when nothing is there;
// throws RuntimeError(kErrBadFileName) when the path cannot be queried (no permission, too
// long, a loop).
bool folderExists(const std::string& path);

}  // namespace vs
